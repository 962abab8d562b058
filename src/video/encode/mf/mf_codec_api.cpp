#include "video/encode/mf/mf_codec_api.h"

#include <codecapi.h>

namespace {
// The property ids, from codecapi.h's plain forms.
constexpr GUID kRateControlMode = {STATIC_CODECAPI_AVEncCommonRateControlMode};
constexpr GUID kMeanBitRate = {STATIC_CODECAPI_AVEncCommonMeanBitRate};
constexpr GUID kGopSize = {STATIC_CODECAPI_AVEncMPVGOPSize};
constexpr GUID kLowLatencyMode = {STATIC_CODECAPI_AVLowLatencyMode};
constexpr GUID kBPictureCount = {STATIC_CODECAPI_AVEncMPVDefaultBPictureCount};

void set_ui4(ICodecAPI* api, const GUID& id, uint32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = value;
  api->SetValue(&id, &v);
}

void set_bool(ICodecAPI* api, const GUID& id, bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  api->SetValue(&id, &v);
}
}  // namespace

void mf_apply_codec_settings(ICodecAPI* api, const CodecSettings& s) {
  if (!api) return;
  set_ui4(api, kRateControlMode, s.rate_control_mode);
  set_ui4(api, kMeanBitRate, s.mean_bitrate);
  set_ui4(api, kGopSize, s.gop_size);
  set_bool(api, kLowLatencyMode, s.low_latency);
  set_ui4(api, kBPictureCount, s.b_picture_count);
}
