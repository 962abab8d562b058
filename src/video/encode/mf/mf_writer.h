#pragma once
// The media writer over Media Foundation's sink writer: the tracks' media
// types, the encoder's codec settings, tracked samples that return the
// encoder's pooled samples, stream ticks, statistics and finalisation.
#include <d3d11.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <memory>
#include <string>

#include "platform/win32/com_ptr.h"
#include "video/encode/media_writer.h"

// A writer over `sink`; pictures go on textures of `device` where it is
// not null. Tests give it a sink of their own.
std::unique_ptr<MediaWriter> mf_writer_over(ComPtr<IMFSinkWriter> sink, ID3D11Device* device);

// Creates the file at `path` and a sink writer on it with the writer
// attributes: with hardware transforms, a device manager for `device`.
MediaResult mf_create_writer(const std::string& path, const WriterAttributes& attributes, ID3D11Device* device,
                             std::unique_ptr<MediaWriter>* writer);
