// Small text helpers of the page code.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The content of a JavaScript string literal (either quote): backslash,
// quotes, "<", ">", "&" and control characters escaped, so the result can
// stand inside a <script> element and, after HtmlEscape, in an attribute.
std::string JsString(std::string_view s);

// A page switch of the header settings: "yes", "true", "on" (any letter
// case) or a number other than 0.
bool SwitchOn(std::string_view s);

// The text without HTML: "&nbsp;" and "&nbsp" removed (letter case ignored)
// and every tag from "<" to the next ">" removed.
std::string StripHTML(std::string_view s);

}  // namespace corvane
