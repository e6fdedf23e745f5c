// A request for one zone record as the layers pass it: the record and the
// position of its request list it asks for (a level, a source, "Up", "Down",
// "Toggle", "On", "Mute"). Text forms live only at the edges (xAP items,
// MQTT payloads, form fields, script arguments).
#pragma once

#include "devicetable/levels.h"
#include "devicetable/records.h"

namespace corvane {

struct ZoneRequest {
  ZoneRecord record;
  int position = 0;
};

// A relative request ("Up", "Down", "Toggle") moves from the record's
// current value, so two of them are two steps; an absolute one names the
// value it leaves behind, so a later one may replace it.
inline bool IsRelativeRequest(int kind, int position) {
  if (kind == kStatusKind) return position == kTogglePosition;
  return TableForKind(kind) != nullptr && position < kFirstLevelPosition;
}

}  // namespace corvane
