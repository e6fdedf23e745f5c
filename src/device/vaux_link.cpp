#include "device/vaux_link.h"

#include <algorithm>
#include <exception>

#include "core/event_log.h"
#include "config/settings.h"
#include "core/text.h"
#include "devicetable/levels.h"
#include "device/vaux_decode.h"
#include "device/vaux_port.h"
#include "devicetable/device_table.h"
#include "ui/echo_window.h"

namespace corvane {

namespace {

std::string KindOf(std::string_view line) {
  return std::string(line.substr(0, 2));
}

// Not empty, not an error report, and no information other than "accepted".
bool IsGoodReply(std::string_view r) {
  if (r.empty()) return false;
  const std::string kind = KindOf(r);
  if (kind == "VE") return false;
  if (kind == "VI" && r != "VI80") return false;
  return true;
}

std::string Zone(int zone) {
  return ToHex(zone);
}

}  // namespace

VauxLink::VauxLink(EventLoop& loop, EventLog& log, const Settings& settings, DeviceTable& table,
                   VauxPort& port, EchoWindow& echo)
    : loop_(loop),
      log_(log),
      settings_(settings),
      table_(table),
      port_(port),
      echo_(echo),
      upb_send_timer_(loop, [this] { UPBSendTimer_Timer(); }),
      probe_timer_(loop, [this] { ProbeTimer_Timer(); }) {}

std::string VauxLink::Checksum(std::string_view payload) {
  int sum = 0;
  for (size_t i = 0; i + 1 < payload.size(); i += 2) {
    const int byte = HexValue(payload.substr(i, 2));
    sum = (sum + (byte < 0 ? 0 : byte)) % 256;
  }
  return ToHex(sum);
}

// --- send and wait -----------------------------------------------------------

void VauxLink::UPBSendTimer_Timer() {
  last_response_.clear();
  upb_send_timer_.Stop();
}

bool VauxLink::DecodeConfigurationByte(const std::string&, const std::string& reply,
                                       std::string_view name) {
  if (KindOf(reply) != "VS") return false;
  log_.DebugEvent("Corvane", ConfigurationReport(name, HexField(reply, 3)));
  return true;
}

bool VauxLink::DecodeZoneStatus(const std::string&, const std::string& reply, std::string_view) {
  if (KindOf(reply) != "VX") return false;
  const ZoneStatusReply r = ParseZoneStatus(reply);
  log_.DebugEvent("Corvane", ZoneStatusReport(Printable(reply), r));
  ZoneStatusUpdate(r.zone, r.source, r.status, CodeToDb(r.volume_code, VolumeTable()),
                   CodeToDb(r.bass_code, BassTable()), CodeToDb(r.treble_code, TrebleTable()));
  return true;
}

bool VauxLink::DecodePowerup(const std::string& cmd, const std::string& reply, std::string_view) {
  if (KindOf(reply) != "VX") return false;
  const int zone = HexField(cmd, 7);  // the zone is in the request only
  const PowerupReply r = ParsePowerup(reply);
  log_.DebugEvent("Corvane", PowerupReport(Printable(reply), zone, r));
  PowerupUpdate(zone, CodeToDb(r.mute_code, VolumeTable()), CodeToDb(r.volume_code, VolumeTable()));
  return true;
}

bool VauxLink::ApplyReply(ReplyDecoder decoder, const std::string& cmd, const std::string& reply,
                          std::string_view name) {
  using Decode = bool (VauxLink::*)(const std::string&, const std::string&, std::string_view);
  static constexpr Decode kDecoders[] = {
      nullptr,                             // kNone
      &VauxLink::DecodeConfigurationByte,  // kConfigurationByte
      &VauxLink::DecodeZoneStatus,         // kZoneStatus
      &VauxLink::DecodePowerup,            // kPowerup
  };
  const Decode decode = kDecoders[static_cast<size_t>(decoder)];
  return decode == nullptr || (this->*decode)(cmd, reply, name);
}

std::string VauxLink::VauxSend(const std::string& cmd, std::string_view reply,
                               std::string_view name, ReplyDecoder decoder) {
  std::string result;
  try {
    echo_.InsertBeforeLastLineEnd("<try 2>");
    if (!Usable()) return {};
    // A line that came while no command waited is no reply to this one.
    if (!reply.empty()) last_response_.clear();
    const bool sent = port_.PortSend(cmd);
    // Nothing went out (no link): no reply can come, so none is awaited.
    if (reply.empty() || !sent) return {};
    ++sending_;
    struct Done {
      int& sending;
      ~Done() { --sending; }
    } done{sending_};
    for (int pass = 1;; ++pass) {
      upb_send_timer_.SetInterval(kReplyWaitMs);
      upb_send_timer_.Stop();
      upb_send_timer_.Start();
      loop_.PumpUntil([&] { return !last_response_.empty() || !upb_send_timer_.Enabled(); },
                      loop_.NowMs() + kReplyWaitMs + 1000);
      upb_send_timer_.Stop();
      result = last_response_;
      Answered(!result.empty());
      const bool again = IsGoodReply(result) && !ApplyReply(decoder, cmd, result, name);
      last_response_.clear();
      if (!again) return result;
      if (pass >= kMaxWaitPasses) {
        log_.DebugEvent("Corvane", "VauxSend " + cmd + ": no " + std::string(name) +
                                       " reply after " + std::to_string(pass) + " replies");
        return result;
      }
    }
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "VauxSend", e.what());
  }
  return result;
}

// --- link state ----------------------------------------------------------------

bool VauxLink::Usable() {
  if (probing_) return true;
  if (!port_.Configured()) {
    SetState(LinkState::kNotConfigured);
    return false;
  }
  if (!port_.IsOpen()) {
    SetState(LinkState::kPortClosed);
    return false;
  }
  // The port came (back): the controller gets its chance again.
  if (state_ == LinkState::kPortClosed || state_ == LinkState::kNotConfigured) {
    SetState(LinkState::kUp);
  }
  return state_ == LinkState::kUp;
}

void VauxLink::Answered(bool answered) {
  if (answered) {
    unanswered_ = 0;
    SetState(LinkState::kUp);
  } else if (++unanswered_ >= kUnansweredLimit) {
    SetState(LinkState::kUnanswered);
  }
}

void VauxLink::SetState(LinkState state) {
  if (state == state_) return;
  state_ = state;
  const std::string& port = settings_.upb_comm_port;
  switch (state) {
    case LinkState::kUp:
      unanswered_ = 0;
      probe_timer_.Stop();
      log_.LogEvent("Corvane", "Vaux Aris 700 answering on port " + port +
                                   ": commands are sent again");
      return;
    case LinkState::kNotConfigured:
      probe_timer_.Stop();
      log_.LogEvent("Corvane",
                    "No Vaux Aris 700 configured (UPBCommPort is empty): commands are not sent");
      return;
    case LinkState::kPortClosed:
      log_.LogEvent("Corvane", "Vaux Aris 700 port " + port +
                                   " not open: commands fail at once until it opens");
      break;
    case LinkState::kUnanswered:
      log_.LogEvent("Corvane", "Vaux Aris 700 on port " + port + " not answering (" +
                                   std::to_string(kUnansweredLimit) +
                                   " commands in a row got no reply): commands fail at once "
                                   "until it answers");
      break;
  }
  probe_timer_.SetInterval(kProbeMs);
  probe_timer_.Start();
}

void VauxLink::ProbeTimer_Timer() {
  try {
    if (state_ == LinkState::kUp || state_ == LinkState::kNotConfigured) {
      probe_timer_.Stop();
      return;
    }
    // A command still waits for its reply (a wait that began before the
    // link was known down): its answer, or the next tick, decides.
    if (sending_ > 0) return;
    // A TCP link is reopened by asking for it; a serial port by the port.
    if (!port_.IsOpen() && port_.TcpMode()) port_.PortOpen(settings_.upb_comm_port);
    if (!port_.IsOpen()) return;
    probing_ = true;
    const std::string reply =
        VauxSend("VPFE010000", "VS", "ConfigurationByteA", ReplyDecoder::kConfigurationByte);
    probing_ = false;
    if (reply.empty()) SetState(LinkState::kUnanswered);
  } catch (const std::exception& e) {
    probing_ = false;
    log_.LogError("Corvane", "ProbeTimer", e.what());
  }
}

// --- command builders --------------------------------------------------------

void VauxLink::ConfigurationAck() {
  VauxSend("VPFF3A06" + Checksum("3A06"), "VI", "ConfigurationAck");
  VauxSend("VPFE010000", "VS", "ConfigurationByteA", ReplyDecoder::kConfigurationByte);
  VauxSend("VPFE040000", "VS", "ConfigurationByteB", ReplyDecoder::kConfigurationByte);
  for (int zone = 1; zone <= kZoneCount; ++zone) PowerupStatus(zone);
}

std::string VauxLink::GetZoneStatus(int zone) {
  return VauxSend("VPFE52" + Zone(zone) + "00", "VX", "GetZoneStatus", ReplyDecoder::kZoneStatus);
}

std::string VauxLink::PowerupStatus(int zone) {
  return VauxSend("VPFE51" + Zone(zone) + "00", "VX", "PowerupStatus", ReplyDecoder::kPowerup);
}

bool VauxLink::AttemptUntil(const std::function<void()>& command,
                            const std::function<void()>& read_back, int kind, int zone,
                            int expected) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    command();
    read_back();
    ZoneRecord record = table_.ZoneRecordOf(kind, zone);
    if (record && record->Value == expected) return true;
    // A controller known not to answer makes further attempts pointless.
    if (LinkDown()) return false;
  }
  return false;
}

bool VauxLink::SourceToZoneRoute(int zone, int source) {
  const std::string cmd = "VP21" + Zone(zone) + "01" + ToHex(source);
  return AttemptUntil([&] { VauxSend(cmd, "VI", "SourceToZoneRoute"); },
                      [&] { GetZoneStatus(zone); }, kSourceKind, zone, source);
}

bool VauxLink::AbsoluteLevel(int zone, int db, int kind, std::string_view function,
                             std::string_view name) {
  const LevelTable& table = *TableForKind(kind);
  const std::string cmd = "VP21" + Zone(zone) + std::string(function) + ToHex(DbToCode(db, table));
  return AttemptUntil([&] { VauxSend(cmd, "VI", name); }, [&] { GetZoneStatus(zone); }, kind, zone,
                      DbToListPosition(db, table));
}

bool VauxLink::AdjustVolumeToAbsoluteLevel(int zone, int db) {
  return AbsoluteLevel(zone, db, kVolumeKind, "02", "AdjustVolumeToAbsoluteLevel");
}

bool VauxLink::AdjustBassToAbsoluteLevel(int zone, int db) {
  return AbsoluteLevel(zone, db, kBassKind, "03", "AdjustBassToAbsoluteLevel");
}

bool VauxLink::AdjustTrebleToAbsoluteLevel(int zone, int db) {
  return AbsoluteLevel(zone, db, kTrebleKind, "04", "AdjustTrebleToAbsoluteLevel");
}

bool VauxLink::MuteZone(int zone, int action) {
  if (action != 0 && action != 1) return false;
  const std::string cmd = "VP21" + Zone(zone) + (action == 0 ? "28" : "1B") + "01";
  const std::string reply = action == 0 ? "2" : "1";
  return AttemptUntil([&] { VauxSend(cmd, reply, "MuteZone"); }, [&] { GetZoneStatus(zone); },
                      kStatusKind, zone, action == 0 ? 2 : 1);
}

std::string VauxLink::AdjustPowerupSettings(int zone, int code, int kind) {
  auto code_of = [&](int k) {
    if (k == kind) return code;
    ZoneRecord record = table_.ZoneRecordOf(k, zone);
    return ListPositionToCode(record ? record->Value : 0, *TableForKind(k));
  };
  const std::string cmd = "VPX2110" + Zone(zone) + ToHex(code_of(kTurnOnVolumeKind)) +
                          ToHex(code_of(kBassKind)) + ToHex(code_of(kTrebleKind)) + "1405" +
                          ToHex(code_of(kTurnOnMuteKind)) + "000200;";
  return VauxSend(cmd, "VX", "AdjustPowerupSettings");
}

bool VauxLink::TurnOnLevel(int zone, int db, int kind) {
  const int code = DbToCode(db, VolumeTable());
  return AttemptUntil([&] { AdjustPowerupSettings(zone, code, kind); },
                      [&] { PowerupStatus(zone); }, kind, zone,
                      DbToListPosition(db, VolumeTable()));
}

bool VauxLink::SetTurnOnMuteLevel(int zone, int db) {
  return TurnOnLevel(zone, db, kTurnOnMuteKind);
}

bool VauxLink::SetTurnOnVolumeLevel(int zone, int db) {
  return TurnOnLevel(zone, db, kTurnOnVolumeKind);
}

std::string VauxLink::VauxCommand(const std::string& text) {
  return VauxSend(text, "Script", "VauxCommand");
}

// --- requests ----------------------------------------------------------------

void VauxLink::ControlVauxLink(const ZoneRecord& record, std::string_view value) {
  try {
    if (!record) return;
    if (!IsNumeric(value)) {
      log_.LogError("Corvane", "ControlVauxLink", Quoted(value) + " is not a number");
      return;
    }
    const auto requested = ToInt16(LeadingNumber(value));
    if (!requested) {
      log_.LogError("Corvane", "ControlVauxLink", Quoted(value) + " is out of range");
      return;
    }
    const int v = *requested;
    const int zone = ZoneOfRecord(record->UIDindex);
    const int kind = record->Kind;
    if (kind == kSourceKind) {
      SourceToZoneRoute(zone, v);
    } else if (kind == kStatusKind) {
      // "On" unmutes (action 1, expects On); "Mute" mutes (action 0, expects
      // Mute); "Toggle" does the one that changes the current state.
      ZoneRecord status = table_.ZoneRecordOf(kStatusKind, zone);
      const bool muted = status && status->Value == 2;
      if (v == 1) {
        MuteZone(zone, 1);
      } else if (v == 2) {
        MuteZone(zone, 0);
      } else if (v == 0) {
        MuteZone(zone, muted ? 1 : 0);
      }
    } else if (const LevelTable* table = TableForKind(kind)) {
      const int last = static_cast<int>(LevelList(*table).size()) - 1;
      const double step = LeadingNumber(settings_.up_down_increment);
      ZoneRecord current = table_.ZoneRecordOf(kind, zone);
      const int cur = current ? current->Value : 0;
      double target = v;
      if (v == 0) {
        target = std::max(RoundHalfEven(cur - step), 2.0);  // "Up": towards the loudest
      } else if (v == 1) {
        target = std::min(RoundHalfEven(cur + step), static_cast<double>(last));  // "Down"
      }
      const double p = std::clamp((target - 2) * 2, 0.0, static_cast<double>(table->size() - 2));
      const int db = (*table)[static_cast<size_t>(p) + 1];
      switch (kind) {
        case kVolumeKind:
          AdjustVolumeToAbsoluteLevel(zone, db);
          break;
        case kBassKind:
          AdjustBassToAbsoluteLevel(zone, db);
          break;
        case kTrebleKind:
          AdjustTrebleToAbsoluteLevel(zone, db);
          break;
        case kTurnOnMuteKind:
          SetTurnOnMuteLevel(zone, db);
          break;
        case kTurnOnVolumeKind:
          SetTurnOnVolumeLevel(zone, db);
          break;
        default:
          break;
      }
    }
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "ControlVauxLink", e.what());
  }
}

void VauxLink::QueueControl(const ZoneRecord& record, std::string value) {
  if (!record) return;
  for (QueuedControl& waiting : controls_) {
    if (waiting.record == record) {
      waiting.value = std::move(value);
      return;
    }
  }
  controls_.push_back({record, std::move(value)});
  if (draining_ || drain_scheduled_) return;
  drain_scheduled_ = true;
  loop_.Defer([this, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired()) return;
    drain_scheduled_ = false;
    DrainControls();
  });
}

void VauxLink::DrainControls() {
  if (draining_) return;
  draining_ = true;
  struct Done {
    bool& draining;
    ~Done() { draining = false; }
  } done{draining_};
  // Requests queued while one is carried out join the queue and run here.
  while (!controls_.empty()) {
    QueuedControl next = std::move(controls_.front());
    controls_.pop_front();
    ControlVauxLink(next.record, next.value);
  }
}

void VauxLink::CommandVaux(const UPBStatus& status) {
  try {
    if (!status.Link) return;
    status.Link->Value = status.Value;
    log_.LogEvent("Corvane", "Commanding " + ToHex(status.Link->UIDindex) + " to " +
                                 std::to_string(status.Value));
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "CommandVaux", e.what());
  }
}

// --- replies -----------------------------------------------------------------

void VauxLink::VauxReceive(const std::string& line) {
  try {
    const std::string kind = KindOf(line);
    if (kind == "VS" || kind == "VX") {
      last_response_ = line;
    } else if ((kind == "VE" || kind == "VI" || kind == "VV" || kind == "VR") &&
               last_response_.empty()) {
      last_response_ = line;
    }
    if (log_.DebugEnabled()) {
      const std::string shown = Printable(line);
      log_.LogEvent("Corvane", "Receiving Status " + shown);
      std::string report;
      if (kind == "VI") {
        report = "Vaux Information: " + InformationText(ReplyCode(shown));
      } else if (kind == "VE") {
        report = "Vaux Error Report: " + ErrorText(ReplyCode(shown));
      } else if (kind == "VV") {
        report = EventReport(shown);
      } else if (kind == "VS") {
        report = "Vaux Short Response: " + shown;
      } else if (kind == "VR") {
        report = "Vaux Normal Response: " + shown;
      } else if (kind == "VX") {
        report = "Vaux Extended Response: " + shown;
      }
      if (!report.empty()) log_.LogEvent("Corvane", report);
    }
    loop_.Pump();
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "VauxReceive", e.what());
  }
}

// --- zone model --------------------------------------------------------------

void VauxLink::GetCurrentUPBStatus() {
  if (!port_.Configured()) return;  // reported once already, as not configured
  log_.LogEvent("Corvane", "Getting Status from Vaux Aris 700");
  for (int zone = 1; zone <= kZoneCount; ++zone) GetZoneStatus(zone);
}

void VauxLink::ZoneStatusUpdate(int zone, int source, int status, int volume_db, int bass_db,
                                int treble_db) {
  // A zone outside 1..6 would name another zone's records (record 6 x kind +
  // zone), and a missing field is no value.
  if (zone < 1 || zone > kZoneCount || source < 0 || status < 0) {
    log_.DebugEvent("Corvane", "Vaux zone status for zone " + std::to_string(zone) + " ignored");
    return;
  }
  const int values[] = {source, std::min(status, 2), DbToListPosition(volume_db, VolumeTable()),
                        DbToListPosition(bass_db, BassTable()),
                        DbToListPosition(treble_db, TrebleTable())};
  for (int kind = kSourceKind; kind <= kTrebleKind; ++kind) {
    ZoneRecord record = table_.ZoneRecordOf(kind, zone);
    const auto value = static_cast<int16_t>(values[kind]);
    if (record && record->Value != value) table_.ChangeEvent(record, value);
  }
}

void VauxLink::PowerupUpdate(int zone, int mute_db, int volume_db) {
  if (zone < 1 || zone > kZoneCount) {
    log_.DebugEvent("Corvane", "Vaux power-up for zone " + std::to_string(zone) + " ignored");
    return;
  }
  if (table_.LinkDictionary().Empty()) {
    held_powerup_[static_cast<size_t>(zone)] = {true, mute_db, volume_db};
    return;
  }
  const int values[] = {DbToListPosition(mute_db, VolumeTable()),
                        DbToListPosition(volume_db, VolumeTable())};
  for (int kind = kTurnOnMuteKind; kind <= kTurnOnVolumeKind; ++kind) {
    ZoneRecord record = table_.ZoneRecordOf(kind, zone);
    const auto value = static_cast<int16_t>(values[kind - kTurnOnMuteKind]);
    if (record && record->Value != value) table_.ChangeEvent(record, value);
  }
}

void VauxLink::ApplyHeldPowerup() {
  for (int zone = 1; zone <= kZoneCount; ++zone) {
    HeldPowerup held = held_powerup_[static_cast<size_t>(zone)];
    held_powerup_[static_cast<size_t>(zone)] = {};
    if (held.held) PowerupUpdate(zone, held.mute_db, held.volume_db);
  }
}

}  // namespace corvane
