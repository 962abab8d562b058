#pragma once
#include <cstdint>

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

LocalTime local_time_now();
