#include "video/encode/mf/mf_writer.h"

#include <strmif.h>

#include "platform/win32/com_apartment.h"
#include "platform/win32/wide.h"
#include "video/encode/mf/mf_codec_api.h"
#include "video/encode/mf/mf_device_manager.h"
#include "video/encode/mf/mf_media_types.h"
#include "video/encode/mf/mf_startup.h"
#include "video/encode/mf/mf_tracked_samples.h"

namespace {
// How long the writer waits, when it goes, for the platform to hand back
// the samples it still held.
constexpr uint32_t kReturnWaitMs = 1000;

class MfWriter final : public MediaWriter {
 public:
  MfWriter(ComPtr<IMFSinkWriter> sink, ID3D11Device* device) : sink_(std::move(sink)) {
    if (device) {
      device->AddRef();
      device_.reset(device);
    }
  }

  ~MfWriter() override {
    sink_.reset();
    for (ComPtr<MfSamplePool>* pool : {&video_pool_, &audio_pool_})
      if (*pool) (*pool)->close(kReturnWaitMs);
  }

  MediaResult add_video_stream(const VideoOutputType& type, int32_t* index) override {
    ComPtr<IMFMediaType> t;
    const HRESULT made = mf_video_output_type(type, &t);
    return add_stream(made, t.get(), index, &video_stream_);
  }

  MediaResult add_audio_stream(const AudioOutputType& type, int32_t* index) override {
    ComPtr<IMFMediaType> t;
    const HRESULT made = mf_audio_output_type(type, &t);
    return add_stream(made, t.get(), index, &audio_stream_);
  }

  MediaResult set_video_input(int32_t index, const VideoInputType& type) override {
    ComPtr<IMFMediaType> t;
    HRESULT hr = mf_video_input_type(type, &t);
    if (SUCCEEDED(hr)) hr = sink_->SetInputMediaType(static_cast<DWORD>(index), t.get(), nullptr);
    if (SUCCEEDED(hr)) {
      layout_ = type.subtype == PIXEL_P010 ? PIXEL_P010 : PIXEL_NV12;
      video_pool_ = MfSamplePool::video(device_.get(), layout_, type.width, type.height);
    }
    return hr;
  }

  MediaResult set_audio_input(int32_t index, const AudioInputType& type) override {
    ComPtr<IMFMediaType> t;
    HRESULT hr = mf_audio_input_type(type, &t);
    if (SUCCEEDED(hr)) hr = sink_->SetInputMediaType(static_cast<DWORD>(index), t.get(), nullptr);
    if (SUCCEEDED(hr)) audio_pool_ = MfSamplePool::audio();
    return hr;
  }

  bool set_codec_settings(int32_t index, const CodecSettings& settings) override {
    ComPtr<ICodecAPI> api;
    if (FAILED(sink_->GetServiceForStream(static_cast<DWORD>(index), GUID_NULL, IID_ICodecAPI,
                                          api.put_void())) ||
        !api)
      return false;
    mf_apply_codec_settings(api.get(), settings);
    return true;
  }

  PixelLayout picture_layout(int32_t) const override { return layout_; }

  MediaResult begin_writing() override { return sink_->BeginWriting(); }

  MediaResult write_sample(int32_t index, MediaSample* sample) override {
    com_join_multithreaded();
    MfSamplePool* pool = index == video_stream_ ? video_pool_.get() : index == audio_stream_ ? audio_pool_.get()
                                                                                          : nullptr;
    if (!pool || !sample) return E_INVALIDARG;
    ComPtr<IMFSample> tracked;
    HRESULT hr = pool->prepare(sample, &tracked);
    if (FAILED(hr)) return hr;
    hr = sink_->WriteSample(static_cast<DWORD>(index), tracked.get());
    // The encoder takes its sample back itself after a failure.
    if (FAILED(hr)) pool->forget(sample);
    return hr;  // `tracked` goes here: the writer holds what it keeps
  }

  MediaResult send_stream_tick(int32_t index, int64_t time) override {
    com_join_multithreaded();
    return sink_->SendStreamTick(static_cast<DWORD>(index), time);
  }

  MediaResult get_statistics(int32_t index, uint64_t* bytes_processed) override {
    com_join_multithreaded();
    MF_SINK_WRITER_STATISTICS stats{};
    stats.cb = sizeof stats;
    const HRESULT hr = sink_->GetStatistics(static_cast<DWORD>(index), &stats);
    if (SUCCEEDED(hr)) *bytes_processed = stats.qwByteCountProcessed;
    return hr;
  }

  MediaResult finalize() override {
    com_join_multithreaded();
    return sink_->Finalize();
  }

 private:
  // Adds the track of an output type made with result `made`.
  HRESULT add_stream(HRESULT made, IMFMediaType* type, int32_t* index, int32_t* kept) {
    DWORD i = 0;
    HRESULT hr = made;
    if (SUCCEEDED(hr)) hr = sink_->AddStream(type, &i);
    if (SUCCEEDED(hr)) *index = *kept = static_cast<int32_t>(i);
    return hr;
  }

  ComPtr<IMFSinkWriter> sink_;
  ComPtr<ID3D11Device> device_;
  ComPtr<MfSamplePool> video_pool_, audio_pool_;
  int32_t video_stream_ = -1, audio_stream_ = -1;
  PixelLayout layout_ = PIXEL_NV12;
};
}  // namespace

std::unique_ptr<MediaWriter> mf_writer_over(ComPtr<IMFSinkWriter> sink, ID3D11Device* device) {
  if (!sink) return nullptr;
  return std::make_unique<MfWriter>(std::move(sink), device);
}

MediaResult mf_create_writer(const std::string& path, const WriterAttributes& attributes, ID3D11Device* device,
                             std::unique_ptr<MediaWriter>* writer) {
  if (!mf_started()) return E_FAIL;
  ComPtr<IMFDXGIDeviceManager> manager;
  HRESULT hr = S_OK;
  // With hardware on, the encoder shares the capture's device; without it
  // the pictures still come on that device's textures.
  if (attributes.hardware_transforms && device)
    hr = mf_device_manager_for(device, &manager);
  else if (device)
    mf_protect_device(device);
  ComPtr<IMFAttributes> store;
  if (SUCCEEDED(hr)) hr = mf_writer_attributes(attributes, manager.get(), &store);
  std::wstring url = to_wide(path);
  for (wchar_t& c : url)
    if (c == L'/') c = L'\\';
  ComPtr<IMFSinkWriter> sink;
  if (SUCCEEDED(hr)) hr = MFCreateSinkWriterFromURL(url.c_str(), nullptr, store.get(), sink.put());
  if (FAILED(hr)) return hr;
  *writer = mf_writer_over(std::move(sink), device);
  return S_OK;
}
