#pragma once
// A sink writer that writes nothing: it keeps what the media writer tells
// it (the tracks' media types, the codec settings, the samples with their
// times) and holds each written sample until the test lets go of it, as the
// platform's writer does while its encoder works.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mferror.h>
#include <mfreadwrite.h>
#include <strmif.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/win32/com_ptr.h"

class FakeCodecApi final : public ICodecAPI {
 public:
  struct Value {
    GUID id;
    VARTYPE type;
    uint32_t value;  // VT_UI4, or 0/1 for VT_BOOL
  };
  std::vector<Value> values;

  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_ICodecAPI) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return ++refs_; }
  ULONG WINAPI Release() override { return --refs_; }  // lives with the test
  HRESULT WINAPI SetValue(const GUID* api, VARIANT* v) override {
    values.push_back({*api, v->vt, v->vt == VT_BOOL ? (v->boolVal ? 1u : 0u) : static_cast<uint32_t>(v->ulVal)});
    return S_OK;
  }
  HRESULT WINAPI IsSupported(const GUID*) override { return E_NOTIMPL; }
  HRESULT WINAPI IsModifiable(const GUID*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetParameterValues(const GUID*, VARIANT**, ULONG*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetDefaultValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WINAPI RegisterForEvent(const GUID*, LONG_PTR) override { return E_NOTIMPL; }
  HRESULT WINAPI UnregisterForEvent(const GUID*) override { return E_NOTIMPL; }
  HRESULT WINAPI SetAllDefaults() override { return E_NOTIMPL; }
  HRESULT WINAPI SetValueWithNotify(const GUID*, VARIANT*, GUID**, ULONG*) override { return E_NOTIMPL; }
  HRESULT WINAPI SetAllDefaultsWithNotify(GUID**, ULONG*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetAllSettings(IStream*) override { return E_NOTIMPL; }
  HRESULT WINAPI SetAllSettings(IStream*) override { return E_NOTIMPL; }
  HRESULT WINAPI SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) override { return E_NOTIMPL; }

 private:
  std::atomic<ULONG> refs_{1};
};

class FakeSinkWriter final : public IMFSinkWriter {
 public:
  struct Written {
    DWORD stream;
    LONGLONG time, duration;
    UINT32 discontinuity;  // 0 when the attribute is absent
    std::vector<uint8_t> bytes;  // the first buffer's content, memory buffers only
  };

  // Set by the test.
  bool hold = true;         // keep written samples until release_held()
  bool fail_writes = false;
  bool offer_codec_api = true;

  // What the writer was told.
  std::vector<ComPtr<IMFMediaType>> output_types, input_types;
  std::vector<Written> written;
  std::vector<LONGLONG> ticks;
  bool began = false, finalized = false;
  FakeCodecApi codec_api;

  void release_held() {
    std::vector<IMFSample*> held;
    {
      std::lock_guard<std::mutex> guard(lock_);
      held.swap(held_);
    }
    for (IMFSample* s : held) s->Release();
  }
  size_t held_count() {
    std::lock_guard<std::mutex> guard(lock_);
    return held_.size();
  }
  std::vector<Written> written_copy() {
    std::lock_guard<std::mutex> guard(lock_);
    return written;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IMFSinkWriter) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives with the test

  HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* type, DWORD* index) override {
    type->AddRef();
    output_types.emplace_back(type);
    *index = static_cast<DWORD>(output_types.size() - 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes*) override {
    if (index >= output_types.size()) return MF_E_INVALIDSTREAMNUMBER;
    type->AddRef();
    input_types.emplace_back(type);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BeginWriting() override {
    began = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteSample(DWORD index, IMFSample* sample) override {
    if (fail_writes) return E_FAIL;
    Written w{index, 0, 0, 0, {}};
    sample->GetSampleTime(&w.time);
    sample->GetSampleDuration(&w.duration);
    sample->GetUINT32(MFSampleExtension_Discontinuity, &w.discontinuity);
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* p = nullptr;
    DWORD length = 0;
    if (SUCCEEDED(sample->GetBufferByIndex(0, buffer.put())) && SUCCEEDED(buffer->Lock(&p, nullptr, &length))) {
      w.bytes.assign(p, p + length);
      buffer->Unlock();
    }
    std::lock_guard<std::mutex> guard(lock_);
    written.push_back(std::move(w));
    if (hold) {
      sample->AddRef();
      held_.push_back(sample);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD, LONGLONG time) override {
    std::lock_guard<std::mutex> guard(lock_);
    ticks.push_back(time);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Flush(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Finalize() override {
    finalized = true;
    release_held();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD, REFGUID, REFIID riid, void** out) override {
    if (!offer_codec_api) return MF_E_UNSUPPORTED_SERVICE;
    return codec_api.QueryInterface(riid, out);
  }
  HRESULT STDMETHODCALLTYPE GetStatistics(DWORD index, MF_SINK_WRITER_STATISTICS* stats) override {
    if (!stats || stats->cb != sizeof *stats) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    stats->qwByteCountProcessed = 0;
    for (const Written& w : written)
      if (w.stream == index) stats->qwByteCountProcessed += w.bytes.size();
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  std::mutex lock_;
  std::vector<IMFSample*> held_;
};
