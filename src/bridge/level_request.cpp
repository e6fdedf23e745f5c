#include "bridge/level_request.h"

#include <algorithm>

#include "core/text.h"
#include "devicetable/levels.h"
#include "devicetable/status_text.h"

namespace corvane {

namespace {

constexpr std::string_view kUnknown = "Unknown";  // what a missing item reads as

std::string Request(int n) {
  return std::to_string(n);
}

// A Status value (Off, On, Mute) as the request that reaches it or, for
// Off, its nearest.
int StatusRequest(int value) {
  return value == kOnPosition ? kOnPosition : kMutePosition;
}

std::optional<std::string> FromState(const UPBLinkState& record, std::string_view state) {
  if (record.Kind != kStatusKind) return std::nullopt;
  const std::string_view s = TrimWhite(state);
  if (EqualsIgnoreCase(s, "on")) return Request(kOnPosition);
  if (EqualsIgnoreCase(s, "toggle")) return Request(kTogglePosition);
  if (EqualsIgnoreCase(s, "off")) return Request(kMutePosition);
  return std::nullopt;
}

std::string FromPercent(const UPBLinkState& record, double percent) {
  const double p = std::clamp(percent, 0.0, 100.0) / 100.0;
  const int last = LastListPosition(record);
  if (record.Kind == kStatusKind) return Request(p > 0 ? kOnPosition : kMutePosition);
  const int first = FirstListPosition(record.Kind);
  const int span = std::max(last - first, 0);
  const int steps = static_cast<int>(RoundHalfEven(p * span));
  // Level lists run from the loudest down.
  return Request(TableForKind(record.Kind) ? last - steps : first + steps);
}

std::string FromListValue(const UPBLinkState& record, double n) {
  const int value = static_cast<int>(RoundHalfEven(n));
  return Request(record.Kind == kStatusKind ? StatusRequest(value) : value);
}

}  // namespace

std::optional<std::string> RequestFor(const UPBLinkState& record, std::string_view state,
                                      std::string_view level) {
  const std::string_view text = TrimWhite(level);
  if (text.empty() || text == kUnknown) return FromState(record, state);
  const double n = LeadingNumber(text);
  const size_t slash = text.find('/');
  if (text.back() == '%') return FromPercent(record, n);
  if (slash != std::string_view::npos && IsNumeric(text.substr(slash + 1))) {
    const double m = LeadingNumber(text.substr(slash + 1));
    if (m == LastListPosition(record)) return FromListValue(record, n);
    if (m > 0) return FromPercent(record, n / m * 100);
  }
  return NumberText(n);
}

bool Reachable(const UPBLinkState& record, int position) {
  return !(record.Kind == kStatusKind && position == kOffPosition);
}

}  // namespace corvane
