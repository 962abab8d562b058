// Converts each input at once and keeps the result until process_output has
// taken all of it; meanwhile it refuses more input, as the encoder's feeding
// rules expect (the same contract as the FFmpeg build's transform).
#include "video/encode/mf/mf_resampler.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/com_apartment.h"
#include "platform/win32/com_ptr.h"
#include "video/encode/mf/mf_startup.h"

namespace {
constexpr int64_t kSecond = 10'000'000;

bool supported(const WaveFormat& f, bool* is_float) {
  uint16_t tag = f.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE) tag = f.is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  *is_float = tag == WAVE_FORMAT_IEEE_FLOAT;
  const bool bits_ok = *is_float ? f.wBitsPerSample == 32 : (f.wBitsPerSample == 16 || f.wBitsPerSample == 32);
  return (tag == WAVE_FORMAT_IEEE_FLOAT || tag == WAVE_FORMAT_PCM) && bits_ok && f.nChannels > 0 &&
         f.nSamplesPerSec > 0 && f.nBlockAlign == f.nChannels * (f.wBitsPerSample / 8);
}

HRESULT media_type_of(const WaveFormat& f, bool is_float, ComPtr<IMFMediaType>* out) {
  ComPtr<IMFMediaType> t;
  HRESULT hr = MFCreateMediaType(t.put());
  if (SUCCEEDED(hr)) hr = t->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  if (SUCCEEDED(hr)) hr = t->SetGUID(MF_MT_SUBTYPE, is_float ? MFAudioFormat_Float : MFAudioFormat_PCM);
  if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, f.nChannels);
  if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, f.nSamplesPerSec);
  if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, f.nBlockAlign);
  if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, f.nSamplesPerSec * f.nBlockAlign);
  if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, f.wBitsPerSample);
  if (SUCCEEDED(hr)) hr = t->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (SUCCEEDED(hr) && f.dwChannelMask) hr = t->SetUINT32(MF_MT_AUDIO_CHANNEL_MASK, f.dwChannelMask);
  if (SUCCEEDED(hr)) *out = std::move(t);
  return hr;
}

class MfResampler final : public AudioTransform {
 public:
  explicit MfResampler(ComPtr<IMFTransform> mft) : mft_(std::move(mft)) {}
  ~MfResampler() override {
    if (streaming_) mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
  }

  MediaResult set_input_type(const WaveFormat& format) override {
    bool is_float = false;
    if (!supported(format, &is_float)) return E_INVALIDARG;
    ComPtr<IMFMediaType> t;
    HRESULT hr = media_type_of(format, is_float, &t);
    if (SUCCEEDED(hr)) hr = mft_->SetInputType(0, t.get(), 0);
    if (SUCCEEDED(hr)) in_ = format;
    return hr;
  }

  MediaResult set_output_type(const WaveFormat& format) override {
    bool is_float = false;
    if (!supported(format, &is_float) || is_float || format.wBitsPerSample != 16) return E_INVALIDARG;
    ComPtr<IMFMediaType> t;
    HRESULT hr = media_type_of(format, false, &t);
    if (SUCCEEDED(hr)) hr = mft_->SetOutputType(0, t.get(), 0);
    if (SUCCEEDED(hr)) out_ = format;
    return hr;
  }

  MediaResult begin_streaming() override {
    if (in_.nBlockAlign == 0 || out_.nBlockAlign == 0) return E_INVALIDARG;
    if (streaming_) return S_OK;
    HRESULT hr = mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    if (SUCCEEDED(hr)) hr = mft_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    streaming_ = SUCCEEDED(hr);
    clock_set_ = false;
    pending_.clear();
    read_ = 0;
    return hr;
  }

  // The encoder's worker calls from its own thread, in its apartment.
  MediaResult process_input(const MediaSample* sample) override {
    com_join_multithreaded();
    if (!streaming_ && media_failed(begin_streaming())) return E_INVALIDARG;
    if (read_ < pending_.size()) return MEDIA_E_NOTACCEPTING;
    pending_.clear();
    read_ = 0;
    const DWORD bytes = static_cast<DWORD>(sample->length / in_.nBlockAlign * in_.nBlockAlign);
    if (bytes == 0 || !sample->data[0]) return S_OK;
    advance_clock(sample->time, bytes / in_.nBlockAlign);
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMFSample> input;
    HRESULT hr = MFCreateMemoryBuffer(bytes, buffer.put());
    BYTE* p = nullptr;
    if (SUCCEEDED(hr)) hr = buffer->Lock(&p, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      std::memcpy(p, sample->data[0], bytes);
      buffer->Unlock();
      hr = buffer->SetCurrentLength(bytes);
    }
    if (SUCCEEDED(hr)) hr = MFCreateSample(input.put());
    if (SUCCEEDED(hr)) hr = input->AddBuffer(buffer.get());
    if (SUCCEEDED(hr)) hr = input->SetSampleTime(sample->time);
    if (SUCCEEDED(hr)) hr = input->SetSampleDuration(bytes / in_.nBlockAlign * kSecond / in_.nSamplesPerSec);
    if (SUCCEEDED(hr)) hr = mft_->ProcessInput(0, input.get(), 0);
    if (SUCCEEDED(hr)) hr = collect();
    return hr;
  }

  MediaResult process_output(MediaSample* sample) override {
    com_join_multithreaded();
    if (read_ >= pending_.size()) return MEDIA_E_TRANSFORM_NEED_MORE_INPUT;
    const size_t block = out_.nBlockAlign;
    const size_t n = std::min(pending_.size() - read_, sample->capacity / block * block);
    if (n == 0) return E_INVALIDARG;
    std::memcpy(sample->data[0], pending_.data() + read_, n);
    read_ += n;
    sample->length = n;
    sample->time = out_time_;
    sample->duration = static_cast<int64_t>(n / block) * kSecond / out_.nSamplesPerSec;
    out_time_ += sample->duration;
    if (read_ >= pending_.size()) {
      pending_.clear();
      read_ = 0;
    }
    return S_OK;
  }

  MediaResult drain() override {
    com_join_multithreaded();
    if (!streaming_) return S_OK;
    if (read_ >= pending_.size()) {
      pending_.clear();
      read_ = 0;
    }
    HRESULT hr = mft_->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
    return SUCCEEDED(hr) ? collect() : hr;
  }

 private:
  // Appends everything the transform has ready to the pending output.
  HRESULT collect() {
    const DWORD chunk = out_.nSamplesPerSec / 10 * out_.nBlockAlign;  // 100 ms
    for (;;) {
      ComPtr<IMFMediaBuffer> buffer;
      ComPtr<IMFSample> output;
      HRESULT hr = MFCreateMemoryBuffer(chunk, buffer.put());
      if (SUCCEEDED(hr)) hr = MFCreateSample(output.put());
      if (SUCCEEDED(hr)) hr = output->AddBuffer(buffer.get());
      if (FAILED(hr)) return hr;
      MFT_OUTPUT_DATA_BUFFER data{};
      data.pSample = output.get();
      DWORD status = 0;
      hr = mft_->ProcessOutput(0, 1, &data, &status);
      if (data.pEvents) data.pEvents->Release();
      if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return S_OK;
      if (FAILED(hr)) return hr;
      BYTE* p = nullptr;
      DWORD length = 0;
      if (FAILED(buffer->Lock(&p, nullptr, &length))) return E_FAIL;
      pending_.insert(pending_.end(), p, p + length / out_.nBlockAlign * out_.nBlockAlign);
      buffer->Unlock();
      if (length == 0) return S_OK;
    }
  }

  ComPtr<IMFTransform> mft_;
  WaveFormat in_{}, out_{};
  bool streaming_ = false;
  std::vector<uint8_t> pending_;
  size_t read_ = 0;
  // The output's time runs on from the first input: the filter holds a few
  // frames back, so stamping each output with its input's time would leave
  // a gap after the first block. A gap between inputs (sound that was lost)
  // carries over to the output.
  void advance_clock(int64_t input_time, size_t input_frames) {
    if (!clock_set_) {
      out_time_ = input_time;
      clock_set_ = true;
    } else if (input_time - in_end_ > kGapTolerance) {
      out_time_ += input_time - in_end_;
    }
    in_end_ = input_time + static_cast<int64_t>(input_frames) * kSecond / in_.nSamplesPerSec;
  }
  static constexpr int64_t kGapTolerance = 10'000;  // 1 ms: rounding of the inputs' times
  bool clock_set_ = false;
  int64_t out_time_ = 0;  // of the next output
  int64_t in_end_ = 0;    // where the last input ended
};
}  // namespace

std::unique_ptr<AudioTransform> mf_create_resampler() {
  if (!mf_started()) return nullptr;
  ComPtr<IMFTransform> mft;
  if (FAILED(CoCreateInstance(CLSID_CResamplerMediaObject, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IMFTransform),
                              mft.put_void())))
    return nullptr;
  return std::make_unique<MfResampler>(std::move(mft));
}
