#include "platform/win32/keep_awake.h"

#include <windows.h>

namespace {
// Looked up at run time: a system without them (or Wine, which exports
// PowerCreateRequest but fails it) still records, on the execution state.
using PowerCreateRequestFn = HANDLE(WINAPI*)(REASON_CONTEXT*);
using PowerRequestFn = BOOL(WINAPI*)(HANDLE, POWER_REQUEST_TYPE);

template <typename F>
F kernel32_function(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

HANDLE g_request = nullptr;
EXECUTION_STATE g_previous_state = 0;
KeepAwakeMode g_mode = KeepAwakeMode::kNone;

bool set_power_request() {
  auto create = kernel32_function<PowerCreateRequestFn>("PowerCreateRequest");
  auto set = kernel32_function<PowerRequestFn>("PowerSetRequest");
  if (!create || !set) return false;
  wchar_t reason[] = L"Frelvanta is recording";
  REASON_CONTEXT context{};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  context.Reason.SimpleReasonString = reason;
  HANDLE request = create(&context);
  if (request == INVALID_HANDLE_VALUE || request == nullptr) return false;
  if (!set(request, PowerRequestSystemRequired)) {
    CloseHandle(request);
    return false;
  }
  g_request = request;
  return true;
}

void clear() {
  if (g_mode == KeepAwakeMode::kPowerRequest) {
    if (auto clear_request = kernel32_function<PowerRequestFn>("PowerClearRequest"))
      clear_request(g_request, PowerRequestSystemRequired);
    CloseHandle(g_request);
    g_request = nullptr;
  } else if (g_mode == KeepAwakeMode::kExecutionState) {
    SetThreadExecutionState(g_previous_state ? g_previous_state : ES_CONTINUOUS);
  }
  g_mode = KeepAwakeMode::kNone;
}
}  // namespace

KeepAwakeMode keep_system_awake(bool on) {
  clear();
  if (!on) return g_mode;
  if (set_power_request()) {
    g_mode = KeepAwakeMode::kPowerRequest;
  } else {
    g_previous_state = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    g_mode = KeepAwakeMode::kExecutionState;
  }
  return g_mode;
}
