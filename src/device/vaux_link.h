// The controller's command side and zone model: command encoding with the
// send-and-wait cycle (VauxSend, the 2 s UPBSendTimer), the read-back retry
// loops, the request mapper ControlVauxLink with its queue of requests, the
// reply decoder VauxReceive, and the zone-status and power-up updates of the
// zone records. It also tracks whether the controller can answer at all: a
// silent or unplugged controller must not make every command wait.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "devicetable/records.h"
#include "platform/event_loop.h"

namespace corvane {

class DeviceTable;
class EchoWindow;
class EventLog;
class VauxPort;
struct Settings;

class VauxLink {
 public:
  static constexpr int64_t kReplyWaitMs = 2000;
  static constexpr int kAttempts = 3;
  // A reply of the wrong kind starts another wait; this many at the most.
  static constexpr int kMaxWaitPasses = 8;

  // While the controller is known not to answer (no controller configured,
  // its port not open, or this many commands in a row got no reply) every
  // command fails at once instead of waiting. A probe asks it every kProbeMs
  // and normal waits resume when it answers. Each change of this state is
  // reported once.
  static constexpr int kUnansweredLimit = 3;
  static constexpr int64_t kProbeMs = 10000;
  enum class LinkState { kUp, kNotConfigured, kPortClosed, kUnanswered };

  VauxLink(EventLoop& loop, EventLog& log, const Settings& settings, DeviceTable& table,
           VauxPort& port, EchoWindow& echo);

  LinkState State() const { return state_; }
  bool LinkDown() const { return state_ != LinkState::kUp; }
  const Timer& ProbeTimer() const { return probe_timer_; }

  // What VauxSend does with the awaited reply besides returning it.
  enum class ReplyDecoder { kNone, kConfigurationByte, kZoneStatus, kPowerup };

  // Sends one command; when `reply` is not empty waits up to 2 s (pumping
  // events) for the reply and returns it, applying it with `decoder`. `name`
  // names the command in reports.
  std::string VauxSend(const std::string& cmd, std::string_view reply, std::string_view name,
                       ReplyDecoder decoder = ReplyDecoder::kNone);
  // The reply the command path waits for (filled by VauxReceive).
  const std::string& LastResponse() const { return last_response_; }

  // Command builders.
  void ConfigurationAck();  // ack, configuration bytes A and B, power-up of zones 1..6
  std::string GetZoneStatus(int zone);
  std::string PowerupStatus(int zone);
  bool SourceToZoneRoute(int zone, int source);
  bool AdjustVolumeToAbsoluteLevel(int zone, int db);
  bool AdjustBassToAbsoluteLevel(int zone, int db);
  bool AdjustTrebleToAbsoluteLevel(int zone, int db);
  // Action 0 sends function 28 and expects Mute; action 1 sends 1B and expects On.
  bool MuteZone(int zone, int action);
  std::string AdjustPowerupSettings(int zone, int code, int kind);
  bool SetTurnOnMuteLevel(int zone, int db);
  bool SetTurnOnVolumeLevel(int zone, int db);
  // A script's own command text, sent unchanged; gives the reply.
  std::string VauxCommand(const std::string& text);

  // Carries out a requested value (a list position, as text) for a record,
  // waiting for the controller.
  void ControlVauxLink(const ZoneRecord& record, std::string_view value);
  // Queues a request for ControlVauxLink and carries it out soon, outside
  // the caller, so that the caller (the xAP drain, a page) never waits for
  // the controller. A request for a record that already waits replaces the
  // waiting one: a burst for one record ends at its latest value.
  void QueueControl(const ZoneRecord& record, std::string value);
  size_t QueuedControls() const { return controls_.size(); }
  // Carries out the queued requests now, waiting for the controller; does
  // nothing when called from inside a request being carried out (the
  // running drain takes them).
  void RunQueuedControls() { DrainControls(); }
  // Sets a record's value without sending anything.
  void CommandVaux(const UPBStatus& status);

  // Classifies, keeps and reports one reply line.
  void VauxReceive(const std::string& line);

  // The start-up status poll of zones 1 to 6.
  void GetCurrentUPBStatus();
  // A zone status reply: source, status and levels (dB) of a zone.
  void ZoneStatusUpdate(int zone, int source, int status, int volume_db, int bass_db,
                        int treble_db);
  // A power-up reply: turn-on mute level and turn-on volume (dB) of a zone.
  void PowerupUpdate(int zone, int mute_db, int volume_db);
  // Power-up replies that came before the zone records existed are applied
  // once they do.
  void ApplyHeldPowerup();

  // The configuration-command checksum: the payload's bytes summed modulo
  // 256, as two hex digits ("3A06" -> "40").
  static std::string Checksum(std::string_view payload);

 private:
  // The decoders VauxSend applies; each returns false for a line of the wrong
  // kind, which starts another wait.
  bool DecodeConfigurationByte(const std::string& cmd, const std::string& reply,
                               std::string_view name);
  bool DecodeZoneStatus(const std::string& cmd, const std::string& reply, std::string_view name);
  bool DecodePowerup(const std::string& cmd, const std::string& reply, std::string_view name);
  bool ApplyReply(ReplyDecoder decoder, const std::string& cmd, const std::string& reply,
                  std::string_view name);

  bool AttemptUntil(const std::function<void()>& command, const std::function<void()>& read_back,
                    int kind, int zone, int expected);
  bool AbsoluteLevel(int zone, int db, int kind, std::string_view function, std::string_view name);
  bool TurnOnLevel(int zone, int db, int kind);
  void UPBSendTimer_Timer();
  bool Usable();
  void Answered(bool answered);
  void SetState(LinkState state);
  void ProbeTimer_Timer();
  void DrainControls();

  EventLoop& loop_;
  EventLog& log_;
  const Settings& settings_;
  DeviceTable& table_;
  VauxPort& port_;
  EchoWindow& echo_;
  Timer upb_send_timer_;       // UPBSendTimer
  std::string last_response_;  // LastResponse

  struct HeldPowerup {
    bool held = false;
    int mute_db = 0;
    int volume_db = 0;
  };
  std::array<HeldPowerup, 7> held_powerup_{};  // by zone 1..6

  LinkState state_ = LinkState::kUp;
  int unanswered_ = 0;    // commands in a row without a reply
  int sending_ = 0;       // VauxSend calls waiting (nested waits count each)
  bool probing_ = false;  // the probe's own request goes out while down
  Timer probe_timer_;

  struct QueuedControl {
    ZoneRecord record;
    std::string value;
  };
  std::deque<QueuedControl> controls_;
  bool draining_ = false;
  bool drain_scheduled_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // for the deferred drain
};

}  // namespace corvane
