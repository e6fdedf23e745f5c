// The protocol side of the Vaux Aris 700 simulator: keeps six zones and
// answers the command text it is fed with the controller's reply lines.
// Commands carry no terminator, so they are cut by their shape: "VPX..." up
// to ";", "VPFF" + two bytes + checksum, "VP" + four bytes. CR, LF and spaces
// between commands are ignored, so the protocol can be typed by hand.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sim {

struct SimZone {
  int status = 0;   // 0 off, 1 on, 2 mute
  int source = 0;   // 0 none, 1..8
  int volume = 60;  // level codes
  int bass = 6;
  int treble = 6;
  int turn_on_volume = 50;
  int turn_on_mute = 40;
  int turn_on_bass = 6;
  int turn_on_treble = 6;
};

struct SimOptions {
  bool silent = false;        // answer nothing
  bool garbage = false;       // a garbage line before every reply
  bool wrong_zone = false;    // zone status replies name zone + 6
  bool ack_requests = false;  // "VI80" before every "VX"/"VS" reply
  bool split_vx = false;      // "VX" on a line of its own, then the data
  bool events = false;        // a "VV" event line after each performed control
};

class VauxSimulator {
 public:
  explicit VauxSimulator(SimOptions options = {});

  // Feeds received text; returns the reply lines (each ending in CR LF).
  std::vector<std::string> Feed(std::string_view bytes);
  // Every complete command seen, in order.
  const std::vector<std::string>& Commands() const { return commands_; }

  SimZone& Zone(int zone) { return zones_.at(static_cast<size_t>(zone - 1)); }
  const SimZone& Zone(int zone) const { return zones_.at(static_cast<size_t>(zone - 1)); }
  int config_a = 0x18;  // Info_Messages, Error_Messages
  int config_b = 0x00;
  SimOptions& options() { return options_; }

  // The reply text for a status or power-up request of a zone.
  std::string StatusLine(int zone) const;
  std::string PowerupLine(int zone) const;

 private:
  std::vector<std::string> Handle(const std::string& cmd);
  std::vector<std::string> Request(int what, int zone);
  std::vector<std::string> Control(int zone, int function, int data);
  std::vector<std::string> Extended(const std::string& hex);
  std::vector<std::string> Reply(std::vector<std::string> lines);

  SimOptions options_;
  std::array<SimZone, 6> zones_{};
  std::string pending_;
  std::vector<std::string> commands_;
  bool in_garbage_ = false;
  int garbage_count_ = 0;
};

}  // namespace corvane::sim
