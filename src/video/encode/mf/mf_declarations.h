#pragma once
// What the encoder's Media Foundation code needs that mingw-w64 10's headers
// do not declare. The functions are exported by mfplat.dll (Windows 10 and
// later) and listed in mingw-w64's import library; the attribute key is the
// one of Microsoft's "MFT_ENUM_ADAPTER_LUID attribute" reference page.
#include <windows.h>
#include <evr.h>
#include <mfapi.h>
#include <mftransform.h>

// MFT_ENUM_ADAPTER_LUID: limits an enumeration to the transforms of one
// adapter (a blob holding the adapter's LUID).
constexpr GUID kMftEnumAdapterLuid = {0x1d39518c, 0xe220, 0x4da8, {0xa0, 0x7f, 0xba, 0x17, 0x25, 0x52, 0xd6, 0xb1}};

extern "C" {
// mfapi.h (Windows SDK 10.0.15063 and later).
HRESULT WINAPI MFTEnum2(GUID category, UINT32 flags, const MFT_REGISTER_TYPE_INFO* input_type,
                        const MFT_REGISTER_TYPE_INFO* output_type, IMFAttributes* attributes,
                        IMFActivate*** activates, UINT32* count);
// mfapi.h: a sample with no buffers that implements IMFTrackedSample.
HRESULT WINAPI MFCreateTrackedSample(IMFTrackedSample** sample);
}
