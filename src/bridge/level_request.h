// What one BSC command block asks of one zone record: its State and Level
// items turned into the request ControlVauxLink carries out (a list position;
// for level kinds also 0 "Up" and 1 "Down", for Status 0 "Toggle").
//
// Level forms, as peers send them:
//   "n"    the request itself (the status page, scripts and older peers);
//   "n/m"  with m the record's last list position: the value n of the list
//          the program advertises (xAPBSC.Values, and the level item of its
//          events), so a picked entry is set exactly; any other m is the
//          proportion n/m;
//   "p%"   a proportion of the record's listed values. For levels 0% is the
//          quietest and 100% the loudest, as a peer's slider means it; for
//          Source it runs along the list; for Status 0% is off, anything
//          more on.
// Without a Level, State speaks for records with an on/off meaning (Status):
// "on" is On, "toggle" Toggle and "off" Mute, the nearest the controller has
// to off. Other records have no state to set, so State alone asks nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devicetable/records.h"

namespace corvane {

// The request text for ControlVauxLink; nothing when the block asks nothing
// of this record.
std::optional<std::string> RequestFor(const UPBLinkState& record, std::string_view state,
                                      std::string_view level);

// Whether a command can bring the record to this value. The Status value
// Off cannot be reached (the controller offers mute, not off), so the
// advertised list leaves it out.
bool Reachable(const UPBLinkState& record, int position);

}  // namespace corvane
