#include "device/vaux_link.h"

#include <algorithm>

#include "config/settings.h"
#include "core/event_log.h"
#include "core/guard.h"
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

int64_t RequestTimeoutMs(const Settings& settings) {
  const double seconds = LeadingNumber(settings.request_timeout);
  return seconds > 0 ? static_cast<int64_t>(seconds * 1000) : 60000;
}

// The readable report of a reply line of `kind` (empty for other kinds).
std::string LineReport(const std::string& shown, const std::string& kind) {
  if (kind == "VI") return "Vaux Information: " + InformationText(ReplyCode(shown));
  if (kind == "VE") return "Vaux Error Report: " + ErrorText(ReplyCode(shown));
  if (kind == "VV") return EventReport(shown);
  if (kind == "VS") return "Vaux Short Response: " + shown;
  if (kind == "VR") return "Vaux Normal Response: " + shown;
  if (kind == "VX") return "Vaux Extended Response: " + shown;
  return {};
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
      probe_timer_(loop, [this] { ProbeTimer_Timer(); }),
      expiry_timer_(loop, [this] { ExpireWaiting(); }),
      poll_timer_(loop, [this] { PollTimer_Timer(); }),
      work_timer_(loop, [this] {
        work_timer_.Stop();
        Work();
      }) {
  expiry_timer_.SetInterval(1000);
  work_timer_.SetInterval(10);
  port_.SetOpenHandler([this](bool open) { PortChanged(open); });
}

VauxLink::~VauxLink() {
  port_.SetOpenHandler(nullptr);
}

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
  Guard(log_, "VauxSend", [&] {
    echo_.InsertBeforeLastLineEnd("<try 2>");
    if (!Usable()) return;
    if (!reply.empty()) {
      WaitOutLateReply();
      // A line that came while no command waited is no reply to this one.
      last_response_.clear();
    }
    const bool sent = port_.PortSend(cmd);
    // Nothing went out (no link): no reply can come, so none is awaited.
    if (reply.empty() || !sent) return;
    sent_ms_ = loop_.NowMs();
    reply_owed_ = true;
    result = WaitForReply(cmd, name, decoder);
  });
  return result;
}

std::string VauxLink::WaitForReply(const std::string& cmd, std::string_view name,
                                   ReplyDecoder decoder) {
  ++sending_;
  struct Done {
    VauxLink& link;
    ~Done() {
      // Work that waited for this command's end runs from the loop.
      if (--link.sending_ == 0 && link.work_after_send_) {
        link.work_after_send_ = false;
        link.ScheduleWork();
      }
    }
  } done{*this};
  for (int pass = 1;; ++pass) {
    upb_send_timer_.SetInterval(reply_wait_ms_);
    upb_send_timer_.Stop();
    upb_send_timer_.Start();
    loop_.PumpUntil([&] { return !last_response_.empty() || !upb_send_timer_.Enabled(); },
                    loop_.NowMs() + reply_wait_ms_ + 1000);
    upb_send_timer_.Stop();
    std::string result = last_response_;
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
}

// A command whose wait ran out may still be answered (a slow adapter). The
// next command first gives that reply the rest of the longest wait, and the
// lines that follow it 100 ms more, so a late line is never taken as the
// next command's answer. Only after one unanswered command: a second one in
// a row means silence, not slowness.
void VauxLink::WaitOutLateReply() {
  if (!late_reply_possible_) return;
  late_reply_possible_ = false;
  const int64_t until = sent_ms_ + kMaxReplyWaitMs;
  int64_t deadline = until;
  while (reply_owed_ || deadline < until) {
    const uint64_t seen = lines_seen_;
    if (loop_.NowMs() >= deadline) return;
    loop_.PumpUntil([&] { return lines_seen_ != seen; }, deadline);
    if (lines_seen_ == seen) return;
    deadline = std::min(until, loop_.NowMs() + 100);
  }
}

// --- link state ----------------------------------------------------------------

bool VauxLink::Usable() {
  if (probing_) return port_.IsOpen();
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

void VauxLink::PortChanged(bool open) {
  if (!open) {
    if (port_.Configured()) SetState(LinkState::kPortClosed);
    return;
  }
  if (state_ == LinkState::kPortClosed || state_ == LinkState::kNotConfigured) {
    SetState(LinkState::kUp);
  }
  ScheduleWork();
}

void VauxLink::Answered(bool answered) {
  if (answered) {
    unanswered_ = 0;
    return;
  }
  late_reply_possible_ = unanswered_ == 0;
  if (++unanswered_ >= kUnansweredLimit) SetState(LinkState::kUnanswered);
}

// Any line from the controller, in time or late, shows it answers; the time
// it took sets the reply wait.
void VauxLink::LineSeen() {
  ++lines_seen_;
  unanswered_ = 0;
  if (reply_owed_) {
    reply_owed_ = false;
    const int64_t took = loop_.NowMs() - sent_ms_;
    slowest_reply_ms_ = std::max(took, slowest_reply_ms_ * 9 / 10);
    reply_wait_ms_ = std::clamp(slowest_reply_ms_ * 3 / 2 + 500, kReplyWaitMs, kMaxReplyWaitMs);
  }
  if (state_ == LinkState::kUnanswered) SetState(LinkState::kUp);
}

void VauxLink::SetState(LinkState state) {
  if (state == state_) return;
  const bool was_up = state_ == LinkState::kUp;
  state_ = state;
  const std::string& port = settings_.upb_comm_port;
  probe_timer_.Stop();
  switch (state) {
    case LinkState::kUp:
      unanswered_ = 0;
      log_.LogEvent("Corvane", "Vaux Aris 700 answering on port " + port +
                                   ": commands are sent again");
      Recover();
      break;
    case LinkState::kNotConfigured:
      log_.LogEvent("Corvane",
                    "No Vaux Aris 700 configured (UPBCommPort is empty): commands are not sent");
      break;
    case LinkState::kPortClosed:
      log_.LogEvent("Corvane",
                    "Vaux Aris 700 port " + port + " not open: requests wait until it opens");
      break;
    case LinkState::kUnanswered:
      log_.LogEvent("Corvane", "Vaux Aris 700 on port " + port + " not answering (" +
                                   std::to_string(kUnansweredLimit) +
                                   " commands in a row got no reply): requests wait until it "
                                   "answers");
      probe_timer_.SetInterval(kProbeMs);
      probe_timer_.Start();
      break;
  }
  const bool up = state == LinkState::kUp;
  if (up != was_up) {
    for (const auto& observer : link_observers_) observer(up);
  }
}

// The link is back after an outage: the waiting requests run, then the
// records are read from the controller again.
void VauxLink::Recover() {
  reads_next_ = 0;
  ScheduleWork();
}

void VauxLink::RequestRecoveryReads() {
  Recover();
}

void VauxLink::ProbeTimer_Timer() {
  Probe();
}

// Asks a controller that stopped answering; at most one probe at a time.
void VauxLink::Probe() {
  if (probing_ || sending_ > 0 || state_ != LinkState::kUnanswered || !port_.IsOpen()) return;
  probing_ = true;
  struct Done {
    bool& probing;
    ~Done() { probing = false; }
  } done{probing_};
  VauxSend("VPFE010000", "VS", "ConfigurationByteA", ReplyDecoder::kConfigurationByte);
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
                      kStatusKind, zone, action == 0 ? kMutePosition : kOnPosition);
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

void VauxLink::Control(const ZoneRequest& request) {
  const ZoneRecord& record = request.record;
  if (!record) return;
  const int v = request.position;
  const int zone = ZoneOfRecord(record->UIDindex);
  const int kind = record->Kind;
  if (kind == kSourceKind) {
    SourceToZoneRoute(zone, v);
  } else if (kind == kStatusKind) {
    // "On" unmutes (action 1, expects On); "Mute" mutes (action 0, expects
    // Mute); "Toggle" does the one that changes the current state.
    ZoneRecord status = table_.ZoneRecordOf(kStatusKind, zone);
    const bool muted = status && status->Value == kMutePosition;
    if (v == kOnPosition) {
      MuteZone(zone, 1);
    } else if (v == kMutePosition) {
      MuteZone(zone, 0);
    } else if (v == kTogglePosition) {
      MuteZone(zone, muted ? 1 : 0);
    }
  } else if (const LevelTable* table = TableForKind(kind)) {
    ControlLevel(request, zone, *table);
  }
}

void VauxLink::ControlLevel(const ZoneRequest& request, int zone, const LevelTable& table) {
  const int kind = request.record->Kind;
  const int v = request.position;
  const int last = static_cast<int>(LevelList(table).size()) - 1;
  const double step = LeadingNumber(settings_.up_down_increment);
  ZoneRecord current = table_.ZoneRecordOf(kind, zone);
  const int cur = current ? current->Value : 0;
  double target = v;
  if (v == kUpPosition) {
    target = std::max(RoundHalfEven(cur - step), double{kFirstLevelPosition});  // towards the loudest
  } else if (v == kDownPosition) {
    target = std::min(RoundHalfEven(cur + step), static_cast<double>(last));
  }
  const int db = PositionToDb(static_cast<int>(target), table);
  using Setter = bool (VauxLink::*)(int, int);
  static constexpr Setter kSetters[] = {
      nullptr,
      nullptr,
      &VauxLink::AdjustVolumeToAbsoluteLevel,
      &VauxLink::AdjustBassToAbsoluteLevel,
      &VauxLink::AdjustTrebleToAbsoluteLevel,
      &VauxLink::SetTurnOnMuteLevel,
      &VauxLink::SetTurnOnVolumeLevel,
  };
  if (kind >= 0 && kind < kAttributeCount && kSetters[kind]) (this->*kSetters[kind])(zone, db);
}

void VauxLink::QueueControl(const ZoneRecord& record, std::string_view value) {
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
  Enqueue({record, *requested});
}

void VauxLink::ControlVauxLink(const ZoneRecord& record, std::string_view value) {
  QueueControl(record, value);
  Work();
}

bool VauxLink::Enqueue(ZoneRequest request) {
  if (!request.record) return false;
  const int kind = request.record->Kind;
  if (!IsRelativeRequest(kind, request.position)) {
    // The record's last waiting request, when absolute, is replaced.
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
      if (it->request.record != request.record) continue;
      if (IsRelativeRequest(kind, it->request.position)) break;
      it->request.position = request.position;
      return true;
    }
  }
  if (controls_.size() >= kQueueLimit) {
    controls_.pop_front();
    ++overflowed_;
    drops_changed_ = true;
  }
  controls_.push_back({std::move(request), loop_.NowMs()});
  if (!expiry_timer_.Enabled()) expiry_timer_.Start();
  ScheduleWork();
  return true;
}

void VauxLink::ScheduleWork() {
  if (work_deferred_) return;
  work_deferred_ = true;
  loop_.Defer([this, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired()) return;
    work_deferred_ = false;
    Work();
  });
}

// The worker: one unit at a time (a request, a recovery read, a poll), each
// waiting for the controller while the loop serves other events. It never
// runs inside a command's wait; it is asked again when that ends.
void VauxLink::Work() {
  if (working_) return;
  if (sending_ > 0) {
    work_after_send_ = true;  // picked up when the waiting command ends
    return;
  }
  if (port_.ResponseBusy()) {
    // Not inside a reply line's decoding (its lines would wait meanwhile):
    // once that is done.
    work_timer_.Start();
    return;
  }
  working_ = true;
  struct Done {
    bool& working;
    ~Done() { working = false; }
  } done{working_};
  while (WorkOnce()) {
  }
}

bool VauxLink::WorkOnce() {
  ExpireWaiting();
  const bool wanted = !controls_.empty() || reads_next_ >= 0 || polls_left_ > 0;
  // Before the zone records exist (start-up) nothing runs.
  if (!wanted || table_.LinkDictionary().Empty()) return false;
  if (!Usable()) {
    // Someone waits: the link is asked for at once, not at the next retry.
    if (controls_.empty()) return false;
    if (state_ == LinkState::kPortClosed) port_.ReopenNow();
    if (state_ == LinkState::kUnanswered && !probing_) {
      loop_.Defer([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired()) Probe();
      });
    }
    return false;
  }
  if (!controls_.empty()) {
    Waiting next = std::move(controls_.front());
    controls_.pop_front();
    const uint64_t seen = lines_seen_;
    Guard(log_, "ControlVauxLink", [&] { Control(next.request); });
    // The link went down before the controller said a word: the request
    // was not carried out and waits for the link at the front.
    if (LinkDown() && lines_seen_ == seen) controls_.push_front(std::move(next));
  } else if (reads_next_ >= 0) {
    Guard(log_, "GetCurrentUPBStatus", [&] { ReadNext(); });
  } else {
    const int zone = kZoneCount + 1 - polls_left_--;
    Guard(log_, "StatusPoll", [&] { GetZoneStatus(zone); });
  }
  return true;
}

// The start-up reads, one per call: the acknowledgement, configuration
// bytes A and B, the power-up levels and the status of zones 1 to 6.
void VauxLink::ReadNext() {
  constexpr int kStatusReads = 3 + kZoneCount;
  const int step = reads_next_;
  if (step == 0) log_.LogEvent("Corvane", "Reading the Vaux Aris 700 configuration again");
  if (step == kStatusReads) log_.LogEvent("Corvane", "Getting Status from Vaux Aris 700");
  if (step == 0) {
    VauxSend("VPFF3A06" + Checksum("3A06"), "VI", "ConfigurationAck");
  } else if (step <= 2) {
    VauxSend(step == 1 ? "VPFE010000" : "VPFE040000", "VS",
             step == 1 ? "ConfigurationByteA" : "ConfigurationByteB",
             ReplyDecoder::kConfigurationByte);
  } else if (step < kStatusReads) {
    PowerupStatus(step - 2);  // steps 3..8: zones 1..6
  } else {
    GetZoneStatus(step - kStatusReads + 1);
  }
  // A read cut off by a new outage is made again after it (from the start).
  if (LinkDown() || reads_next_ != step) return;
  reads_next_ = step + 1 < kStatusReads + kZoneCount ? step + 1 : -1;
}

// Called every second while requests wait or drops are not yet reported.
void VauxLink::ExpireWaiting() {
  const int64_t limit = RequestTimeoutMs(settings_);
  const int64_t now = loop_.NowMs();
  const size_t before = controls_.size();
  std::erase_if(controls_, [&](const Waiting& w) { return now - w.queued_ms >= limit; });
  if (controls_.size() != before) {
    expired_ += static_cast<int>(before - controls_.size());
    drops_changed_ = true;
  }
  // One line per burst: reported at the first check that finds no more.
  if (drops_changed_) {
    drops_changed_ = false;
  } else if (expired_ + overflowed_ > 0) {
    log_.LogEvent("Corvane", std::to_string(expired_ + overflowed_) +
                                 " Vaux Aris 700 request(s) dropped: " + std::to_string(expired_) +
                                 " not carried out within " + std::to_string(limit / 1000) +
                                 " s (RequestTimeout), " + std::to_string(overflowed_) +
                                 " beyond the " + std::to_string(kQueueLimit) + " waiting");
    expired_ = overflowed_ = 0;
  }
  if (controls_.empty() && expired_ + overflowed_ == 0) expiry_timer_.Stop();
}

// Ticks every second and reads StatusPoll each time, so a value changed on
// the setup page takes effect without a restart.
void VauxLink::PollTimer_Timer() {
  const double seconds = LeadingNumber(settings_.status_poll);
  if (seconds <= 0) return;
  const int64_t now = loop_.NowMs();
  if (last_poll_ms_ >= 0 && now - last_poll_ms_ < static_cast<int64_t>(seconds * 1000)) return;
  // Requests go first; a round still running is not started again.
  if (!controls_.empty() || LinkDown() || polls_left_ > 0) return;
  last_poll_ms_ = now;
  polls_left_ = kZoneCount;
  ScheduleWork();
}

void VauxLink::ApplySettings() {
  if (!poll_timer_.Enabled()) {
    poll_timer_.SetInterval(1000);
    poll_timer_.Start();
    last_poll_ms_ = loop_.NowMs();
  }
  ScheduleWork();
}

void VauxLink::CommandVaux(const UPBStatus& status) {
  Guard(log_, "CommandVaux", [&] {
    if (!status.Link) return;
    status.Link->Value = status.Value;
    log_.LogEvent("Corvane", "Commanding " + ToHex(status.Link->UIDindex) + " to " +
                                 std::to_string(status.Value));
  });
}

// --- replies -----------------------------------------------------------------

void VauxLink::VauxReceive(const std::string& line) {
  Guard(log_, "VauxReceive", [&] {
    const std::string kind = KindOf(line);
    if (kind == "VS" || kind == "VX") {
      last_response_ = line;
    } else if ((kind == "VE" || kind == "VI" || kind == "VV" || kind == "VR") &&
               last_response_.empty()) {
      last_response_ = line;
    }
    LineSeen();
    if (log_.DebugEnabled()) {
      const std::string shown = Printable(line);
      log_.LogEvent("Corvane", "Receiving Status " + shown);
      const std::string report = LineReport(shown, kind);
      if (!report.empty()) log_.LogEvent("Corvane", report);
    }
    loop_.Pump();
  });
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
