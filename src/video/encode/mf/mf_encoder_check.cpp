#include "video/encode/mf/mf_encoder_check.h"

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>

#include "platform/win32/com_ptr.h"
#include "platform/win32/wide.h"
#include "video/encode/mf/mf_declarations.h"
#include "video/encode/mf/mf_startup.h"

namespace {
GUID output_subtype(VideoCodecKind codec) {
  switch (codec) {
    case VIDEO_HEVC: return MFVideoFormat_HEVC;
    case VIDEO_AV1: return MFVideoFormat_AV1;
    default: return MFVideoFormat_H264;
  }
}

std::string friendly_name(IMFActivate* activate) {
  wchar_t* text = nullptr;
  UINT32 length = 0;
  if (FAILED(activate->GetAllocatedString(MFT_FRIENDLY_NAME_Attribute, &text, &length)) || !text) return {};
  std::string name = to_utf8(text);
  CoTaskMemFree(text);
  return name;
}
}  // namespace

MfEncoderCheck mf_check_video_encoder(const VideoEncoderRequest& request) {
  MfEncoderCheck check;
  if (!mf_started()) {
    check.result = E_FAIL;
    return check;
  }
  ComPtr<IMFAttributes> attributes;
  HRESULT hr = MFCreateAttributes(attributes.put(), 1);
  UINT32 flags = MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER;
  if (SUCCEEDED(hr) && request.hardware) {
    // The adapter the capture runs on: its LUID as the 8-byte LUID layout
    // (low part first).
    LUID luid{static_cast<DWORD>(request.adapter_luid & 0xffffffffu), static_cast<LONG>(request.adapter_luid >> 32)};
    hr = attributes->SetBlob(kMftEnumAdapterLuid, reinterpret_cast<const UINT8*>(&luid), sizeof luid);
    flags = MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER;
  }
  const MFT_REGISTER_TYPE_INFO input{MFMediaType_Video,
                                     request.input == PIXEL_P010 ? MFVideoFormat_P010 : MFVideoFormat_NV12};
  const MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, output_subtype(request.codec)};
  IMFActivate** found = nullptr;
  UINT32 count = 0;
  if (SUCCEEDED(hr)) hr = MFTEnum2(MFT_CATEGORY_VIDEO_ENCODER, flags, &input, &output, attributes.get(), &found, &count);
  check.result = hr;
  if (FAILED(hr)) return check;
  check.count = count;
  if (count > 0) check.name = friendly_name(found[0]);
  for (UINT32 i = 0; i < count; ++i) found[i]->Release();
  CoTaskMemFree(found);
  return check;
}
