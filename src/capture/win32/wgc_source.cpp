// A target on the screen-capture runtime: an item for the window or the
// monitor, a free-threaded frame pool of two B8G8R8A8 buffers on the
// recording's device, and a session. Frames arrive on the runtime's threads
// through two handler objects that live inside the source: nothing is
// allocated or reference-counted per frame.
#include <d3d10.h>

#include <algorithm>
#include <atomic>

#include "capture/win32/wgc_runtime.h"
#include "platform/clock.h"

namespace {
constexpr DWORD kStopWaitMs = 1000;
constexpr int32_t kPoolBuffers = 2;

template <typename T>
void release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// Queries `object` for IClosable and closes it.
void close_object(IUnknown* object) {
  wgc::IClosable* closable = nullptr;
  if (object && SUCCEEDED(object->QueryInterface(wgc::kIidClosable, reinterpret_cast<void**>(&closable))) &&
      closable) {
    closable->Close();
    closable->Release();
  }
}

class WgcSource;

// A handler object as the runtime sees it (the table pointer first), with
// the source it belongs to beside it.
struct BoundHandler {
  wgc::EventHandler handler;
  WgcSource* owner;
  const GUID* iid;
};

class WgcSource final : public CaptureSource {
 public:
  WgcSource() {
    frame_handler_ = BoundHandler{{&kFrameArrivedVtbl}, this, &wgc::kIidFrameArrivedHandler};
    closed_handler_ = BoundHandler{{&kClosedVtbl}, this, &wgc::kIidClosedHandler};
  }

  ~WgcSource() override {
    stop();
    if (pool_) close_object(pool_);
    release(pool_);
    release(item_);
    release(device_);
    release(staging_);
    release(multithread_);
    release(context_);
    release(d3d_);
  }

  bool open(const WgcRuntime& rt, ID3D11Device* d3d, HWND window, HMONITOR monitor, int32_t* width,
            int32_t* height) {
    if (!rt.item_interop || !rt.pool_statics || !rt.create_device || !d3d) return false;
    IDXGIDevice* dxgi = nullptr;
    if (FAILED(d3d->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi))) || !dxgi) return false;
    HRESULT hr = rt.create_device(dxgi, &device_);
    dxgi->Release();
    if (FAILED(hr) || !device_) return false;
    hr = window ? rt.item_interop->CreateForWindow(window, wgc::kIidGraphicsCaptureItem, reinterpret_cast<void**>(&item_))
                : rt.item_interop->CreateForMonitor(monitor, wgc::kIidGraphicsCaptureItem,
                                                     reinterpret_cast<void**>(&item_));
    if (FAILED(hr) || !item_) return false;
    wgc::SizeInt32 size{};
    if (FAILED(item_->get_Size(&size)) || size.Width <= 0 || size.Height <= 0) return false;
    if (FAILED(rt.pool_statics->CreateFreeThreaded(device_, kWgcPixelFormatBgra8, kPoolBuffers, size, &pool_)) ||
        !pool_) {
      return false;
    }
    d3d_ = d3d;
    d3d_->AddRef();
    d3d_->GetImmediateContext(&context_);
    // The copy below runs on the runtime's threads while the encoder may use
    // the same device.
    if (context_ && SUCCEEDED(context_->QueryInterface(__uuidof(ID3D10Multithread),
                                                       reinterpret_cast<void**>(&multithread_)))) {
      multithread_->SetMultithreadProtected(TRUE);
    }
    if (!context_ || !make_staging(size.Width, size.Height)) return false;
    *width = size.Width;
    *height = size.Height;
    return true;
  }

  bool start(bool cursor, bool border, SourceSink* sink) override {
    if (session_ || sink == nullptr) return false;
    if (FAILED(pool_->CreateCaptureSession(item_, &session_)) || !session_) {
      session_ = nullptr;
      return false;
    }
    // Newer systems only; elsewhere the runtime's defaults apply.
    wgc::IGraphicsCaptureSession2* s2 = nullptr;
    if (SUCCEEDED(session_->QueryInterface(wgc::kIidCaptureSession2, reinterpret_cast<void**>(&s2))) && s2) {
      s2->put_IsCursorCaptureEnabled(cursor ? 1 : 0);
      s2->Release();
    }
    wgc::IGraphicsCaptureSession3* s3 = nullptr;
    if (SUCCEEDED(session_->QueryInterface(wgc::kIidCaptureSession3, reinterpret_cast<void**>(&s3))) && s3) {
      s3->put_IsBorderRequired(border ? 1 : 0);
      s3->Release();
    }
    sink_ = sink;
    stopping_ = false;
    pool_->add_FrameArrived(&frame_handler_.handler, &frame_token_);
    item_->add_Closed(&closed_handler_.handler, &closed_token_);
    session_->StartCapture();
    return true;
  }

  bool stop() override {
    stopping_ = true;
    if (frame_token_.value != 0) pool_->remove_FrameArrived(frame_token_);
    frame_token_.value = 0;
    if (closed_token_.value != 0) item_->remove_Closed(closed_token_);
    closed_token_.value = 0;
    if (session_) {
      close_object(session_);
      release(session_);
    }
    // From inside a handler: delivery ends when it returns.
    if (handler_thread_.load() == GetCurrentThreadId()) return false;
    // Handlers that were already running when the registration went away
    // finish first; one that does not within the bound is let go of, and
    // the source is then never freed.
    const int64_t until = qpc_now() + int64_t{kStopWaitMs} * (kQpcFrequency / 1000);
    while (in_flight_.load() != 0 && qpc_now() < until) Sleep(1);
    if (in_flight_.load() != 0) abandoned_ = true;
    return true;
  }

  bool abandoned() const override { return abandoned_; }

  // From inside the frame handler, as the runtime allows.
  void recreate(int32_t width, int32_t height) override {
    if (width <= 0 || height <= 0) return;
    pool_->Recreate(device_, kWgcPixelFormatBgra8, kPoolBuffers, wgc::SizeInt32{width, height});
    make_staging(width, height);
  }

 private:
  // The CPU copy the conversion of this build reads. Made at open and at a
  // re-creation, never per frame.
  bool make_staging(int32_t w, int32_t h) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = UINT(w);
    desc.Height = UINT(h);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ID3D11Texture2D* staging = nullptr;
    if (FAILED(d3d_->CreateTexture2D(&desc, nullptr, &staging)) || !staging) return false;
    release(staging_);
    staging_ = staging;
    staging_w_ = w;
    staging_h_ = h;
    return true;
  }

  void frame_arrived() {
    wgc::IDirect3D11CaptureFrame* frame = nullptr;
    if (FAILED(pool_->TryGetNextFrame(&frame)) || !frame) return;
    wgc::TimeSpan time{};
    wgc::SizeInt32 content{};
    IInspectable* surface = nullptr;
    frame->get_SystemRelativeTime(&time);
    frame->get_ContentSize(&content);
    frame->get_Surface(&surface);
    ID3D11Texture2D* texture = nullptr;
    if (surface) {
      wgc::IDirect3DDxgiInterfaceAccess* access = nullptr;
      if (SUCCEEDED(surface->QueryInterface(wgc::kIidDxgiInterfaceAccess, reinterpret_cast<void**>(&access))) &&
          access) {
        access->GetInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&texture));
        access->Release();
      }
      surface->Release();
    }
    if (texture) {
      D3D11_TEXTURE2D_DESC desc;
      texture->GetDesc(&desc);
      SourceFrame f;
      f.gpu = GpuPicture{texture, int32_t(desc.Width), int32_t(desc.Height)};
      f.time = time.Duration;
      f.content_width = content.Width;
      f.content_height = content.Height;
      const int32_t w = std::min({int32_t(desc.Width), staging_w_, content.Width});
      const int32_t h = std::min({int32_t(desc.Height), staging_h_, content.Height});
      D3D11_MAPPED_SUBRESOURCE mapped{};
      bool mapped_ok = false;
      if (w > 0 && h > 0) {
        if (multithread_) multithread_->Enter();
        D3D11_BOX box{0, 0, 0, UINT(w), UINT(h), 1};
        context_->CopySubresourceRegion(staging_, 0, 0, 0, 0, texture, 0, &box);
        mapped_ok = SUCCEEDED(context_->Map(staging_, 0, D3D11_MAP_READ, 0, &mapped));
        if (multithread_) multithread_->Leave();
      }
      if (mapped_ok) f.image = BgraImage{static_cast<const uint8_t*>(mapped.pData), w, h, int32_t(mapped.RowPitch)};
      ID3D11Texture2D* staging = staging_;  // a re-creation in the call replaces it
      staging->AddRef();
      sink_->frame_arrived(f);
      if (mapped_ok) {
        if (multithread_) multithread_->Enter();
        context_->Unmap(staging, 0);
        if (multithread_) multithread_->Leave();
      }
      staging->Release();
      texture->Release();
    }
    frame->Release();
  }

  static HRESULT STDMETHODCALLTYPE query(wgc::EventHandler* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    const BoundHandler* h = reinterpret_cast<BoundHandler*>(self);
    if (IsEqualGUID(iid, *h->iid) || IsEqualGUID(iid, wgc::kIidAgileObject) || IsEqualGUID(iid, __uuidof(IUnknown))) {
      *out = self;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  static ULONG STDMETHODCALLTYPE add_ref(wgc::EventHandler*) { return 1; }
  static ULONG STDMETHODCALLTYPE release_ref(wgc::EventHandler*) { return 1; }

  static HRESULT STDMETHODCALLTYPE invoke_frame(wgc::EventHandler* self, IInspectable*, IInspectable*) {
    WgcSource* s = reinterpret_cast<BoundHandler*>(self)->owner;
    s->enter();
    if (!s->stopping_.load()) s->frame_arrived();
    s->leave();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE invoke_closed(wgc::EventHandler* self, IInspectable*, IInspectable*) {
    WgcSource* s = reinterpret_cast<BoundHandler*>(self)->owner;
    s->enter();
    if (!s->stopping_.load()) s->sink_->closed(false);
    s->leave();
    return S_OK;
  }
  void enter() {
    in_flight_.fetch_add(1);
    handler_thread_.store(GetCurrentThreadId());
  }
  void leave() {
    handler_thread_.store(0);
    in_flight_.fetch_sub(1);
  }

  static constexpr wgc::EventHandlerVtbl kFrameArrivedVtbl{query, add_ref, release_ref, invoke_frame};
  static constexpr wgc::EventHandlerVtbl kClosedVtbl{query, add_ref, release_ref, invoke_closed};

  BoundHandler frame_handler_{};
  BoundHandler closed_handler_{};
  wgc::EventToken frame_token_{0};
  wgc::EventToken closed_token_{0};
  std::atomic<int> in_flight_{0};
  std::atomic<DWORD> handler_thread_{0};
  std::atomic<bool> stopping_{false};
  bool abandoned_ = false;
  SourceSink* sink_ = nullptr;

  IInspectable* device_ = nullptr;  // the runtime's wrapper of d3d_
  wgc::IGraphicsCaptureItem* item_ = nullptr;
  wgc::IDirect3D11CaptureFramePool* pool_ = nullptr;
  wgc::IGraphicsCaptureSession* session_ = nullptr;
  ID3D11Device* d3d_ = nullptr;
  ID3D11DeviceContext* context_ = nullptr;
  ID3D10Multithread* multithread_ = nullptr;
  ID3D11Texture2D* staging_ = nullptr;
  int32_t staging_w_ = 0, staging_h_ = 0;
};

CaptureSource* open(const WgcRuntime& rt, ID3D11Device* device, HWND window, HMONITOR monitor, int32_t* w,
                    int32_t* h) {
  auto* s = new WgcSource();
  if (!s->open(rt, device, window, monitor, w, h)) {
    delete s;
    return nullptr;
  }
  return s;
}
}  // namespace

CaptureSource* wgc_open_window(const WgcRuntime& runtime, ID3D11Device* device, HWND window, int32_t* width,
                               int32_t* height) {
  return open(runtime, device, window, nullptr, width, height);
}

CaptureSource* wgc_open_monitor(const WgcRuntime& runtime, ID3D11Device* device, HMONITOR monitor, int32_t* width,
                                int32_t* height) {
  return open(runtime, device, nullptr, monitor, width, height);
}
