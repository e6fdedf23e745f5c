#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace corvane {

int64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double SystemWallClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm local{};
  localtime_r(&secs, &local);
  // Seconds since the Unix epoch in local time, then shifted to the date base.
  const double local_secs = static_cast<double>(secs) + static_cast<double>(local.tm_gmtoff) +
                            static_cast<double>(ts.tv_nsec) / 1e9;
  constexpr double kUnixEpochAsDate = 25569.0;  // 1 Jan 1970
  return kUnixEpochAsDate + local_secs / 86400.0;
}

double ManualWallClock::Now() const {
  if (!follow_) return start_;
  return start_ + static_cast<double>(follow_->NowMs() - follow_start_ms_) / 86400000.0;
}

}  // namespace corvane
