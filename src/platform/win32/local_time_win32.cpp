#include "platform/local_time.h"

#include <windows.h>

LocalTime local_time_now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}
