#include "platform/win32/com_apartment.h"

#include <objbase.h>

void com_join_multithreaded() {
  struct Apartment {
    bool joined = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ~Apartment() {
      if (joined) CoUninitialize();
    }
  };
  thread_local Apartment apartment;
}
