#include "video/encode/mf/mf_tracked_samples.h"

#include <d3d10.h>
#include <evr.h>
#include <mferror.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "video/encode/mf/mf_declarations.h"

namespace {
DXGI_FORMAT texture_format(PixelLayout layout) {
  return layout == PIXEL_P010 ? DXGI_FORMAT_P010 : DXGI_FORMAT_NV12;
}

uint32_t bytes_per_value(PixelLayout layout) { return layout == PIXEL_P010 ? 2 : 1; }

// Copies the two planes of a semi-planar picture to `to` (luma rows, then
// the chroma rows right after `height` luma rows at the same pitch).
void copy_planes(uint8_t* to, size_t pitch, const MediaSample* from, uint32_t row_bytes, uint32_t height) {
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(to + y * pitch, from->data[0] + static_cast<size_t>(y) * from->linesize[0], row_bytes);
  uint8_t* chroma = to + pitch * height;
  for (uint32_t y = 0; y < height / 2; ++y)
    std::memcpy(chroma + y * pitch, from->data[1] + static_cast<size_t>(y) * from->linesize[1], row_bytes);
}

// Brackets the device context for the upload: the capture thread and a
// hardware encoder use it too.
struct ContextLock {
  ComPtr<ID3D10Multithread> multithread;
  explicit ContextLock(ID3D11DeviceContext* context) {
    if (SUCCEEDED(context->QueryInterface(__uuidof(ID3D10Multithread), multithread.put_void()))) multithread->Enter();
  }
  ~ContextLock() {
    if (multithread) multithread->Leave();
  }
};
}  // namespace

ComPtr<MfSamplePool> MfSamplePool::video(ID3D11Device* device, PixelLayout layout, uint32_t width, uint32_t height) {
  ComPtr<MfSamplePool> pool(new MfSamplePool());
  pool->video_ = true;
  pool->layout_ = layout;
  pool->width_ = width;
  pool->height_ = height;
  if (device) {
    // Where the device makes no textures of the layout (Wine's Direct3D
    // makes staging ones but no others), pictures go in memory.
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = texture_format(layout);
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    D3D11_TEXTURE2D_DESC surface = desc;
    surface.Usage = D3D11_USAGE_DEFAULT;
    surface.CPUAccessFlags = 0;
    surface.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    ComPtr<ID3D11Texture2D> test;
    if (SUCCEEDED(device->CreateTexture2D(&desc, nullptr, pool->staging_.put())) &&
        SUCCEEDED(device->CreateTexture2D(&surface, nullptr, test.put()))) {
      device->AddRef();
      pool->device_.reset(device);
    } else {
      pool->staging_.reset();
    }
  }
  return pool;
}

ComPtr<MfSamplePool> MfSamplePool::audio() { return ComPtr<MfSamplePool>(new MfSamplePool()); }

MfSamplePool::Slot* MfSamplePool::slot_for(MediaSample* pooled) {
  for (Slot& s : slots_)
    if (s.pooled == pooled) return &s;
  for (Slot& s : slots_) {
    if (s.pooled) continue;
    if (FAILED(make_slot(s, pooled))) return nullptr;
    return &s;
  }
  return nullptr;
}

HRESULT MfSamplePool::make_slot(Slot& slot, MediaSample* pooled) {
  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = S_OK;
  if (device_) {
    D3D11_TEXTURE2D_DESC desc{};
    staging_->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.CPUAccessFlags = 0;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    hr = device_->CreateTexture2D(&desc, nullptr, slot.texture.put());
    if (SUCCEEDED(hr)) hr = MFCreateVideoSampleFromSurface(nullptr, sample.put());
    if (SUCCEEDED(hr))
      hr = MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), slot.texture.get(), 0, FALSE, buffer.put());
    DWORD max_length = 0;
    if (SUCCEEDED(hr)) hr = buffer->GetMaxLength(&max_length);
    if (SUCCEEDED(hr)) hr = buffer->SetCurrentLength(max_length);
  } else {
    ComPtr<IMFTrackedSample> tracked;
    hr = MFCreateTrackedSample(tracked.put());
    if (SUCCEEDED(hr)) hr = tracked->QueryInterface(__uuidof(IMFSample), sample.put_void());
    const size_t bytes = video_ ? static_cast<size_t>(width_) * bytes_per_value(layout_) * height_ * 3 / 2
                                : pooled->capacity;
    if (SUCCEEDED(hr)) hr = MFCreateMemoryBuffer(static_cast<DWORD>(bytes), buffer.put());
    slot.buffer.reset(nullptr);
  }
  if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.get());
  if (FAILED(hr)) {
    slot.texture.reset();
    return hr;
  }
  if (!device_) slot.buffer = std::move(buffer);
  slot.pooled = pooled;
  slot.identity = sample.get();
  slot.sample = std::move(sample);
  return S_OK;
}

HRESULT MfSamplePool::upload(Slot& slot, const MediaSample* pooled) {
  ComPtr<ID3D11DeviceContext> context;
  device_->GetImmediateContext(context.put());
  ContextLock guard(context.get());
  D3D11_MAPPED_SUBRESOURCE mapped{};
  HRESULT hr = context->Map(staging_.get(), 0, D3D11_MAP_WRITE, 0, &mapped);
  if (FAILED(hr)) return hr;
  copy_planes(static_cast<uint8_t*>(mapped.pData), mapped.RowPitch, pooled, width_ * bytes_per_value(layout_), height_);
  context->Unmap(staging_.get(), 0);
  context->CopyResource(slot.texture.get(), staging_.get());
  return S_OK;
}

HRESULT MfSamplePool::fill(Slot& slot, const MediaSample* pooled) {
  if (device_) return upload(slot, pooled);
  BYTE* p = nullptr;
  DWORD max_length = 0;
  HRESULT hr = slot.buffer->Lock(&p, &max_length, nullptr);
  if (FAILED(hr)) return hr;
  DWORD length = 0;
  if (video_) {
    const uint32_t row = width_ * bytes_per_value(layout_);
    copy_planes(p, row, pooled, row, height_);
    length = row * height_ * 3 / 2;
  } else {
    length = static_cast<DWORD>(std::min<size_t>(pooled->length, max_length));
    std::memcpy(p, pooled->data[0], length);
  }
  slot.buffer->Unlock();
  return slot.buffer->SetCurrentLength(length);
}

HRESULT MfSamplePool::prepare(MediaSample* pooled, ComPtr<IMFSample>* out) {
  std::unique_lock<std::mutex> guard(lock_);
  Slot* slot = slot_for(pooled);
  if (!slot) return E_OUTOFMEMORY;
  // The tracked sample of a write that failed may still be on its way back.
  for (int i = 0; i < 200 && !slot->sample; ++i) {
    guard.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    guard.lock();
  }
  if (!slot->sample) return MF_E_NOTACCEPTING;
  IMFSample* s = slot->sample.get();
  HRESULT hr = fill(*slot, pooled);
  if (SUCCEEDED(hr)) hr = s->SetSampleTime(pooled->time);
  if (SUCCEEDED(hr)) hr = s->SetSampleDuration(pooled->duration);
  if (SUCCEEDED(hr))
    hr = pooled->discontinuity ? s->SetUINT32(MFSampleExtension_Discontinuity, 1)
                               : s->DeleteItem(MFSampleExtension_Discontinuity);
  ComPtr<IMFTrackedSample> tracked;
  if (SUCCEEDED(hr)) hr = s->QueryInterface(__uuidof(IMFTrackedSample), tracked.put_void());
  if (SUCCEEDED(hr)) hr = tracked->SetAllocator(this, nullptr);
  if (FAILED(hr)) return hr;
  // From here the sample is out: its last release comes back to Invoke.
  AddRef();
  outstanding_.fetch_add(1);
  sample_add_ref(pooled);
  slot->holds_pooled = true;
  *out = std::move(slot->sample);
  return S_OK;
}

void MfSamplePool::forget(MediaSample* pooled) {
  bool held = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (Slot& s : slots_) {
      if (s.pooled != pooled || !s.holds_pooled) continue;
      s.holds_pooled = false;
      held = true;
    }
  }
  // The holder keeps its own reference, so this is never the last one.
  if (held) sample_release(pooled);
}

bool MfSamplePool::close(uint32_t timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (outstanding_.load() != 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::lock_guard<std::mutex> guard(lock_);
  closed_ = true;
  return outstanding_.load() == 0;
}

HRESULT STDMETHODCALLTYPE MfSamplePool::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IMFAsyncCallback)) {
    *out = static_cast<IMFAsyncCallback*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MfSamplePool::AddRef() { return refs_.fetch_add(1) + 1; }

ULONG STDMETHODCALLTYPE MfSamplePool::Release() {
  const ULONG left = refs_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE MfSamplePool::GetParameters(DWORD* flags, DWORD* queue) {
  *flags = 0;
  *queue = MFASYNC_CALLBACK_QUEUE_MULTITHREADED;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MfSamplePool::Invoke(IMFAsyncResult* result) {
  ComPtr<IUnknown> object;
  ComPtr<IMFSample> sample;
  if (result && SUCCEEDED(result->GetObject(object.put())))
    object->QueryInterface(__uuidof(IMFSample), sample.put_void());
  // A result without one of our samples changes nothing: no reference is
  // gained or lost.
  if (!sample) return S_OK;
  MediaSample* release = nullptr;
  bool ours = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (Slot& s : slots_) {
      if (s.identity != sample.get() || s.sample) continue;
      ours = true;
      if (s.holds_pooled && !closed_) release = s.pooled;
      s.holds_pooled = false;
      s.sample = std::move(sample);  // the pool's reference again
      break;
    }
  }
  if (!ours) return S_OK;
  if (release) sample_release(release);  // back to the encoder's pool
  outstanding_.fetch_sub(1);
  Release();  // the reference the sample held while it was out
  return S_OK;
}
