#pragma once
// The writer's media types and attribute store, made from the descriptions
// encoder set-up hands to the writer.
#include <mfapi.h>
#include <mfidl.h>

#include "platform/win32/com_ptr.h"
#include "video/encode/media_writer.h"

HRESULT mf_video_output_type(const VideoOutputType& type, ComPtr<IMFMediaType>* out);
HRESULT mf_video_input_type(const VideoInputType& type, ComPtr<IMFMediaType>* out);
HRESULT mf_audio_output_type(const AudioOutputType& type, ComPtr<IMFMediaType>* out);
HRESULT mf_audio_input_type(const AudioInputType& type, ComPtr<IMFMediaType>* out);

// The sink writer's attributes: hardware transforms and the device manager
// (may be null) with hardware on, no throttling, and the container.
HRESULT mf_writer_attributes(const WriterAttributes& attributes, IMFDXGIDeviceManager* manager,
                             ComPtr<IMFAttributes>* out);
