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

// A host name or address with an optional port, cut at the first character
// such a text cannot hold, so it can go into links as it is.
std::string HostOnly(std::string_view s);
// An address of this machine or the local network (or a bare name).
bool LocalAddress(std::string_view host);

// A plain file name of the web folder: letters, digits, " ", ".", "_", "-"
// (so no "/", "\\" or ":"), not starting with ".", at most 100 characters.
bool IsPlainFileName(std::string_view s);
// A style sheet the page may link: a plain file name.
bool IsStyleSheetName(std::string_view s);
// A picture's name: ends in .gif, .jpg, .jpeg, .png or .bmp (any case).
bool IsImageName(std::string_view s);
// A page background: a colour ("#" and 3 or 6 hexadecimal digits, or a
// colour name of up to 20 letters) or a picture of the web folder.
bool IsBackground(std::string_view s);

}  // namespace corvane
