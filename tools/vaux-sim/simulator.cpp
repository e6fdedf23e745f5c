#include "simulator.h"

#include "core/text.h"

namespace corvane::sim {

namespace {

constexpr size_t kShortCommand = 10;  // "VP" + four bytes
constexpr size_t kLongestExtended = 64;

bool InRange(int v, int low, int high) {
  return v >= low && v <= high;
}

std::string Line(std::string text) {
  return text + "\r\n";
}

}  // namespace

VauxSimulator::VauxSimulator(SimOptions options) : options_(options) {
  // Each zone starts in its own, easily told apart state.
  constexpr int kStatus[] = {1, 1, 2, 0, 1, 0};
  for (int z = 1; z <= 6; ++z) {
    SimZone& s = Zone(z);
    s.status = kStatus[z - 1];
    s.source = z;
    s.volume = 62 - 3 * z;  // -2 dB .. -32 dB
    s.bass = 3 + z;         // -6 dB .. +9 dB
    s.treble = 10 - z;      // +9 dB .. -6 dB
    s.turn_on_volume = 50 + z;
    s.turn_on_mute = 30 + z;
  }
}

std::string VauxSimulator::StatusLine(int zone) const {
  const SimZone& s = Zone(zone);
  return Line("VX" + ToHex(s.status) + ToHex(s.source) + ToHex(s.volume) + ToHex(s.bass) +
              ToHex(s.treble) + ToHex(options_.wrong_zone ? zone + 6 : zone));
}

std::string VauxSimulator::PowerupLine(int zone) const {
  const SimZone& s = Zone(zone);
  return Line("VX" + ToHex(s.turn_on_volume) + ToHex(s.turn_on_bass) + ToHex(s.turn_on_treble) +
              "1405" + ToHex(s.turn_on_mute));
}

std::vector<std::string> VauxSimulator::Reply(std::vector<std::string> lines) {
  if (options_.silent) return {};
  std::vector<std::string> out;
  if (options_.garbage) {
    static const char* const kGarbage[] = {"#@!garbage", "\x01\x02\x7f\xfe\xff", "12 34 zz",
                                           "\x1b[0m~~"};
    out.push_back(Line(kGarbage[garbage_count_++ % 4]));
  }
  for (auto& line : lines) {
    if (options_.split_vx && line.rfind("VX", 0) == 0) {
      out.push_back("VX\r\n");
      out.push_back(line.substr(2));
    } else {
      out.push_back(std::move(line));
    }
  }
  return out;
}

std::vector<std::string> VauxSimulator::Feed(std::string_view bytes) {
  pending_.append(bytes);
  std::vector<std::string> out;
  auto add = [&](std::vector<std::string> lines) {
    for (auto& l : lines) out.push_back(std::move(l));
  };
  for (;;) {
    size_t skip = 0;
    while (skip < pending_.size() && (pending_[skip] == '\r' || pending_[skip] == '\n' ||
                                      pending_[skip] == ' ' || pending_[skip] == '\t'))
      ++skip;
    pending_.erase(0, skip);
    if (pending_.empty()) break;
    if (pending_[0] != 'V' || (pending_.size() >= 2 && pending_[1] != 'P')) {
      // A character no command starts with: one "bogus character" report
      // for a run of them.
      if (!in_garbage_) add(Reply({Line("VI82")}));
      in_garbage_ = true;
      pending_.erase(0, 1);
      continue;
    }
    in_garbage_ = false;
    if (pending_.size() < 3) break;
    std::string cmd;
    if (pending_[2] == 'X') {
      const size_t end = pending_.find(';');
      if (end == std::string::npos) {
        if (pending_.size() <= kLongestExtended) break;
        add(Reply({Line("VE08")}));
        pending_.erase(0, 3);
        continue;
      }
      cmd = pending_.substr(0, end + 1);
      pending_.erase(0, end + 1);
    } else {
      if (pending_.size() < kShortCommand) break;
      // A "V" inside means a broken command followed by the next one.
      const size_t next = pending_.find('V', 2);
      if (next < kShortCommand) {
        commands_.push_back(pending_.substr(0, next));
        add(Reply({Line("VE02")}));
        pending_.erase(0, next);
        continue;
      }
      cmd = pending_.substr(0, kShortCommand);
      pending_.erase(0, kShortCommand);
    }
    commands_.push_back(cmd);
    add(Handle(cmd));
  }
  return out;
}

std::vector<std::string> VauxSimulator::Handle(const std::string& cmd) {
  if (cmd[2] == 'X') return Extended(cmd.substr(3, cmd.size() - 4));
  int b[4];
  for (int i = 0; i < 4; ++i) {
    b[i] = HexValue(std::string_view(cmd).substr(2 + 2 * static_cast<size_t>(i), 2));
    if (b[i] < 0) return Reply({Line("VE02")});
  }
  switch (b[0]) {
    case 0xFF:
      if ((b[1] + b[2]) % 256 != b[3]) return Reply({Line("VE01")});
      return Reply({Line("VI80")});
    case 0xFE:
      return Request(b[1], b[2]);
    case 0x21:
      return Control(b[1], b[2], b[3]);
    default:
      return Reply({Line("VE02")});
  }
}

std::vector<std::string> VauxSimulator::Request(int what, int zone) {
  std::string line;
  if (what == 0x01) {
    line = Line("VS" + ToHex(config_a));
  } else if (what == 0x04) {
    line = Line("VS" + ToHex(config_b));
  } else if (what == 0x51 || what == 0x52) {
    if (!InRange(zone, 1, 6)) return Reply({Line("VE33")});
    line = what == 0x52 ? StatusLine(zone) : PowerupLine(zone);
  } else {
    return Reply({Line("VE02")});
  }
  if (options_.ack_requests) return Reply({Line("VI80"), line});
  return Reply({line});
}

std::vector<std::string> VauxSimulator::Control(int zone, int function, int data) {
  if (!InRange(zone, 1, 6)) return Reply({Line("VE33")});
  SimZone& s = Zone(zone);
  int event_status = 0x01;  // "Function Performed"
  switch (function) {
    case 0x01:
      if (!InRange(data, 0, 8)) return Reply({Line("VE31")});
      s.source = data;
      event_status = 0x40;  // "A/V Route was performed"
      break;
    case 0x02:
      if (!InRange(data, 27, 63)) return Reply({Line("VE03")});
      s.volume = data;
      break;
    case 0x03:
      if (!InRange(data, 3, 11)) return Reply({Line("VE03")});
      s.bass = data;
      break;
    case 0x04:
      if (!InRange(data, 3, 10)) return Reply({Line("VE03")});
      s.treble = data;
      break;
    case 0x28:
      s.status = 2;
      break;  // mute
    case 0x1B:
      s.status = 1;
      break;  // on (unmuted)
    default:
      return Reply({Line("VE32")});
  }
  std::vector<std::string> lines{Line("VI80")};
  if (options_.events) {
    lines.push_back(Line("VV00" + ToHex(event_status) + ToHex(function == 0x01 ? data : 0) +
                         ToHex(function) + ToHex(zone) + "0000"));
  }
  return Reply(std::move(lines));
}

std::vector<std::string> VauxSimulator::Extended(const std::string& hex) {
  // "2110" zone, turn-on volume, bass, treble, "14", "05", turn-on mute, "000200".
  auto byte = [&](size_t i) {
    return i * 2 + 2 <= hex.size() ? HexValue(std::string_view(hex).substr(i * 2, 2)) : -1;
  };
  const int zone = byte(2);
  if (hex.size() != 24 || byte(0) != 0x21 || byte(1) != 0x10 || !InRange(zone, 1, 6) ||
      !InRange(byte(3), 27, 63) || !InRange(byte(4), 3, 11) || !InRange(byte(5), 3, 10) ||
      !InRange(byte(8), 27, 63)) {
    return Reply({Line("VE08")});
  }
  SimZone& s = Zone(zone);
  s.turn_on_volume = byte(3);
  s.turn_on_bass = byte(4);
  s.turn_on_treble = byte(5);
  s.turn_on_mute = byte(8);
  return Reply({Line("VI80")});
}

}  // namespace corvane::sim
