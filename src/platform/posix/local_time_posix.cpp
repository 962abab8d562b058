#include "platform/local_time.h"

#include <ctime>

LocalTime local_time_now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  localtime_r(&ts.tv_sec, &t);
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                   t.tm_min,         t.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}
