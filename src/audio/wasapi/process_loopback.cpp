#include "audio/wasapi/process_loopback.h"

#include <mmdeviceapi.h>

#include <atomic>
#include <new>

#include "core/trace.h"

namespace {
// The activation parameters of the process-loopback device (12 bytes);
// mingw-w64's headers do not declare them.
struct ProcessLoopbackParams {
  uint32_t activation_type;  // 1: process loopback
  uint32_t target_process_id;
  uint32_t loopback_mode;    // 0: include the target's process tree
};
static_assert(sizeof(ProcessLoopbackParams) == 12);
constexpr uint32_t kActivationTypeProcessLoopback = 1;
constexpr uint32_t kIncludeTargetProcessTree = 0;

// IAgileObject: the engine calls the handler on a thread of its own,
// without marshalling.
const IID kIidAgileObject = {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};

// Completion handler of one activation. Reference-counted and on the heap:
// when the wait times out the opener lets go of its reference, and the
// engine's reference keeps the handler alive until it has reported.
class ActivationHandler final : public IActivateAudioInterfaceCompletionHandler {
 public:
  explicit ActivationHandler(uint32_t pid)
      : params_{kActivationTypeProcessLoopback, pid, kIncludeTargetProcessTree},
        done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    variant_.vt = VT_BLOB;
    variant_.blob.cbSize = sizeof params_;
    variant_.blob.pBlobData = reinterpret_cast<BYTE*>(&params_);
  }
  bool valid() const { return done_ != nullptr; }
  // The parameters live with the handler, so they outlast the call even
  // when the engine reads them late.
  PROPVARIANT* parameters() { return &variant_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IActivateAudioInterfaceCompletionHandler)) ||
        IsEqualIID(iid, kIidAgileObject)) {
      *out = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override {
    HRESULT activate_result = E_FAIL;
    ComPtr<IUnknown> activated;
    if (operation && SUCCEEDED(operation->GetActivateResult(&activate_result, activated.put())) &&
        SUCCEEDED(activate_result) && activated) {
      activated->QueryInterface(__uuidof(IAudioClient), client_.put_void());
    }
    result_ = activate_result;
    SetEvent(done_);
    return S_OK;
  }

  // The client once the engine reported, null before or on failure.
  ComPtr<IAudioClient> wait(uint32_t timeout_ms) {
    if (WaitForSingleObject(done_, timeout_ms) != WAIT_OBJECT_0) {
      trace_eventf("audio.process_loopback_timeout ms=%u", timeout_ms);
      return {};
    }
    if (!client_) trace_eventf("audio.process_loopback_failed hr=0x%08lx", static_cast<unsigned long>(result_));
    return std::move(client_);
  }

 private:
  ~ActivationHandler() {
    if (done_) CloseHandle(done_);
  }
  std::atomic<ULONG> refs_{1};
  ProcessLoopbackParams params_;
  PROPVARIANT variant_{};
  HANDLE done_;
  HRESULT result_ = E_PENDING;
  ComPtr<IAudioClient> client_;
};
}  // namespace

ComPtr<IAudioClient> activate_process_loopback(uint32_t pid, uint32_t timeout_ms) {
  ComPtr<ActivationHandler> handler(new (std::nothrow) ActivationHandler(pid));
  if (!handler || !handler->valid()) return {};
  ComPtr<IActivateAudioInterfaceAsyncOperation> operation;
  if (FAILED(ActivateAudioInterfaceAsync(L"VAD\\Process_Loopback", __uuidof(IAudioClient), handler->parameters(), handler.get(),
                                         operation.put())))
    return {};
  return handler->wait(timeout_ms);
}
