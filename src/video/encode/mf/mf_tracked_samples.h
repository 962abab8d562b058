#pragma once
// Media Foundation samples standing in for the encoder's pooled samples.
// Each pooled picture or block of sound gets one tracked sample the first
// time it is written: a picture on a texture of the capture device (a DXGI
// surface sample) where the device makes one, else in memory; sound in
// memory. While the writer holds the tracked sample, it holds a reference
// to the pooled one; when the writer lets go of the tracked sample, the
// platform passes it to this object, which takes it back and releases the
// pooled sample, so that it returns to the encoder's pool.
#include <d3d11.h>
#include <mfapi.h>
#include <mfidl.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/win32/com_ptr.h"
#include "video/encode/media_sample.h"

class MfSamplePool final : public IMFAsyncCallback {
 public:
  static constexpr uint32_t kSlots = 16;

  // Pictures of `width` x `height` in `layout` (PIXEL_NV12 or PIXEL_P010),
  // on `device` where it is not null and makes the textures.
  static ComPtr<MfSamplePool> video(ID3D11Device* device, PixelLayout layout, uint32_t width, uint32_t height);
  // Blocks of PCM.
  static ComPtr<MfSamplePool> audio();

  // The tracked sample for `pooled`, with its content, time, duration and
  // discontinuity: the reference in `out` is the only one; give it to the
  // writer and drop it. Holds a reference to `pooled` until the sample
  // comes back.
  HRESULT prepare(MediaSample* pooled, ComPtr<IMFSample>* out);
  // After a write that failed: `pooled` is no longer held (its holder
  // returns it itself); the tracked sample still comes back.
  void forget(MediaSample* pooled);
  // Waits up to `timeout_ms` until every tracked sample has come back, then
  // lets go of the pooled samples for good (a late return releases none).
  // True when all came back.
  bool close(uint32_t timeout_ms);

  uint32_t outstanding() const { return outstanding_.load(); }
  // Whether pictures go on textures (false: in memory, or sound).
  bool on_device() const { return static_cast<bool>(device_); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IMFAsyncCallback: a tracked sample's last reference went.
  HRESULT STDMETHODCALLTYPE GetParameters(DWORD* flags, DWORD* queue) override;
  HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override;

 private:
  struct Slot {
    MediaSample* pooled = nullptr;  // what the slot stands for; null: unused
    IMFSample* identity = nullptr;  // the tracked sample, also while it is out
    ComPtr<IMFSample> sample;       // the pool's reference while it is in
    ComPtr<IMFMediaBuffer> buffer;  // memory: where the content goes
    ComPtr<ID3D11Texture2D> texture;
    bool holds_pooled = false;      // a reference to `pooled` is held
  };

  MfSamplePool() = default;
  ~MfSamplePool() = default;
  Slot* slot_for(MediaSample* pooled);
  HRESULT make_slot(Slot& slot, MediaSample* pooled);
  HRESULT fill(Slot& slot, const MediaSample* pooled);
  HRESULT upload(Slot& slot, const MediaSample* pooled);

  std::atomic<ULONG> refs_{1};
  std::mutex lock_;  // the slots' state between the writer's thread and the returns
  Slot slots_[kSlots];
  std::atomic<uint32_t> outstanding_{0};
  bool closed_ = false;

  bool video_ = false;
  PixelLayout layout_ = PIXEL_NV12;
  uint32_t width_ = 0, height_ = 0;
  ComPtr<ID3D11Device> device_;
  ComPtr<ID3D11Texture2D> staging_;  // uploads go through it
};
