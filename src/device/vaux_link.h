// The controller's command side and zone model: command encoding with the
// send-and-wait cycle (VauxSend, UPBSendTimer), the read-back retry loops,
// the request mapper ControlVauxLink, the reply decoder VauxReceive, and the
// zone-status and power-up updates of the zone records.
//
// Requests (ZoneRequest) wait in one queue in arrival order and are carried
// out one at a time by a worker that runs from the event loop, never inside
// the caller. While the link is down (no port, port closed, controller not
// answering) they wait, bounded in number and age, and a request that
// arrives starts a reopen or a probe at once. When the link comes back the
// waiting requests run first, then the controller's configuration,
// power-up levels and zone status are read again so the records follow it.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/levels.h"
#include "devicetable/records.h"
#include "devicetable/zone_request.h"
#include "platform/event_loop.h"

namespace corvane {

class DeviceTable;
class EchoWindow;
class EventLog;
class VauxPort;
struct Settings;

class VauxLink {
 public:
  // The reply wait starts at 2 s and follows the controller's observed
  // latency (one and a half times its slowest recent reply, plus 0.5 s) up
  // to 5 s, so a slow adapter is waited for and its replies are not taken
  // as the answer to the next command.
  static constexpr int64_t kReplyWaitMs = 2000;
  static constexpr int64_t kMaxReplyWaitMs = 5000;
  static constexpr int kAttempts = 3;
  // A reply of the wrong kind starts another wait; this many at the most.
  static constexpr int kMaxWaitPasses = 8;

  // After this many commands in a row without a reply the controller counts
  // as not answering: requests wait and a probe asks it every kProbeMs (and
  // at once when a request arrives). Any line from it ends that state.
  static constexpr int kUnansweredLimit = 3;
  static constexpr int64_t kProbeMs = 5000;
  // Waiting requests: at most this many, each at most RequestTimeout seconds.
  static constexpr size_t kQueueLimit = 256;
  enum class LinkState { kUp, kNotConfigured, kPortClosed, kUnanswered };

  VauxLink(EventLoop& loop, EventLog& log, const Settings& settings, DeviceTable& table,
           VauxPort& port, EchoWindow& echo);
  ~VauxLink();
  VauxLink(const VauxLink&) = delete;
  VauxLink& operator=(const VauxLink&) = delete;

  // --- the public request API (bridge, MQTT, scripts, pages, JSON API) ---
  // Queues a request; it is carried out from the event loop in arrival
  // order. An absolute request replaces the same record's absolute request
  // still waiting at the end of that record's requests; relative ones
  // ("Up", "Down", "Toggle") are never merged. False when the request names
  // no record.
  bool Enqueue(ZoneRequest request);
  // Is the link usable now (port open and controller answering)?
  bool LinkUp() const { return state_ == LinkState::kUp; }
  bool LinkDown() const { return !LinkUp(); }
  LinkState State() const { return state_; }
  // Called with true when the link comes up and false when it goes down.
  void AddLinkObserver(std::function<void(bool up)> observer) {
    link_observers_.push_back(std::move(observer));
  }
  size_t QueuedControls() const { return controls_.size(); }
  // Carries out the waiting requests now while the link is up (the status
  // page and scripts show the controller's answer next); inside a running
  // request it does nothing and the running worker takes them.
  void RunQueuedControls() { Work(); }
  // Text edges: the value read as a number (halves to even). QueueControl
  // only queues; ControlVauxLink queues and runs the queue now.
  void QueueControl(const ZoneRecord& record, std::string_view value);
  void ControlVauxLink(const ZoneRecord& record, std::string_view value);
  // Sets a record's value without sending anything.
  void CommandVaux(const UPBStatus& status);

  // Settings that shape the link (RequestTimeout, StatusPoll); called after
  // the settings are (re)loaded.
  void ApplySettings();
  // The configuration, power-up and zone-status reads run again soon (a
  // port opened by a settings reload).
  void RequestRecoveryReads();

  const Timer& ProbeTimer() const { return probe_timer_; }
  int64_t ReplyWaitMs() const { return reply_wait_ms_; }

  // What VauxSend does with the awaited reply besides returning it.
  enum class ReplyDecoder { kNone, kConfigurationByte, kZoneStatus, kPowerup };

  // Sends one command; when `reply` is not empty waits (pumping events) for
  // the reply and returns it, applying it with `decoder`. `name` names the
  // command in reports. Fails at once ("") while the link is down.
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
  // Carries out one request now, waiting for the controller.
  void Control(const ZoneRequest& request);

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
  std::string WaitForReply(const std::string& cmd, std::string_view name, ReplyDecoder decoder);
  void WaitOutLateReply();

  bool AttemptUntil(const std::function<void()>& command, const std::function<void()>& read_back,
                    int kind, int zone, int expected);
  bool AbsoluteLevel(int zone, int db, int kind, std::string_view function, std::string_view name);
  bool TurnOnLevel(int zone, int db, int kind);
  void ControlLevel(const ZoneRequest& request, int zone, const LevelTable& table);
  void UPBSendTimer_Timer();
  bool Usable();
  void Answered(bool answered);
  void LineSeen();
  void SetState(LinkState state);
  void Recover();
  void PortChanged(bool open);  // VauxPort's report
  void ProbeTimer_Timer();
  void Probe();
  void ScheduleWork();
  void Work();
  bool WorkOnce();
  void RunRequest(ZoneRequest request);
  void ReadNext();
  void ExpireWaiting();
  void PollTimer_Timer();

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
  std::vector<std::function<void(bool)>> link_observers_;
  int unanswered_ = 0;    // commands in a row without a reply
  int sending_ = 0;       // VauxSend calls waiting (nested waits count each)
  bool probing_ = false;  // the probe's own request goes out while down
  Timer probe_timer_;

  // Reply timing: when the last command went out, whether its reply is
  // still owed, and the adapted wait.
  int64_t sent_ms_ = -1;
  bool reply_owed_ = false;
  bool late_reply_possible_ = false;
  int64_t slowest_reply_ms_ = 0;
  int64_t reply_wait_ms_ = kReplyWaitMs;
  uint64_t lines_seen_ = 0;

  struct Waiting {
    ZoneRequest request;
    int64_t queued_ms = 0;
  };
  std::deque<Waiting> controls_;
  bool working_ = false;
  bool work_deferred_ = false;    // a run of the worker is due from the loop
  bool work_after_send_ = false;  // ... once the command now waiting ends
  int reads_next_ = -1;  // the next recovery read (0..14), -1 when none is due
  int polls_left_ = 0;   // zones still to poll in this round
  int64_t last_poll_ms_ = -1;
  // Requests dropped in the current burst, not yet reported: too old, or
  // pushed out by a full queue.
  int expired_ = 0;
  int overflowed_ = 0;
  bool drops_changed_ = false;
  Timer expiry_timer_;
  Timer poll_timer_;
  Timer work_timer_;  // runs the worker once line decoding is done
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // for deferred calls
};

}  // namespace corvane
