#pragma once
// The media writer and the audio resampler the encoder drives, as the encoder
// sees them. A backend (video/encode/ffmpeg/) implements them; tests may put a
// recording fake in their place through media_platform_set().
#include <cstdint>
#include <memory>
#include <string>

#include "video/encode/media_sample.h"
#include "video/encode/wave_format.h"

// Negative values are failures. The backend passes its own error codes
// through; the two transform results below keep their well-known values.
using MediaResult = int32_t;
constexpr MediaResult MEDIA_OK = 0;
constexpr MediaResult MEDIA_E_FAIL = static_cast<int32_t>(0x80004005u);
constexpr MediaResult MEDIA_E_NOTACCEPTING = static_cast<int32_t>(0xC00D36B5u);
constexpr MediaResult MEDIA_E_TRANSFORM_NEED_MORE_INPUT = static_cast<int32_t>(0xC00D6D72u);
inline bool media_failed(MediaResult r) { return r < 0; }

enum VideoCodecKind : uint32_t { VIDEO_H264 = 0, VIDEO_HEVC = 1, VIDEO_AV1 = 2 };
enum ContainerKind : uint32_t { CONTAINER_MPEG4 = 0, CONTAINER_FMPEG4 = 1 };

// Colour description values (the numbering of the platform's media types).
constexpr uint32_t CHROMA_SITING_MPEG2 = 5;
constexpr uint32_t NOMINAL_RANGE_16_235 = 2;
constexpr uint32_t PRIMARIES_BT709 = 2;
constexpr uint32_t PRIMARIES_SMPTE170M = 5;
constexpr uint32_t MATRIX_BT709 = 1;
constexpr uint32_t MATRIX_BT601 = 2;
constexpr uint32_t TRANSFER_18 = 2;
constexpr uint32_t INTERLACE_PROGRESSIVE = 2;

struct VideoOutputType {
  VideoCodecKind codec = VIDEO_H264;
  uint32_t profile = 0;  // H.264: 66, 77, 100; H.265 and AV1: 1 (8-bit), 2 (10-bit)
  uint32_t chroma_siting = CHROMA_SITING_MPEG2;
  uint32_t nominal_range = NOMINAL_RANGE_16_235;
  uint32_t primaries = PRIMARIES_BT709;
  uint32_t matrix = MATRIX_BT709;
  uint32_t transfer = TRANSFER_18;
  uint32_t interlace = INTERLACE_PROGRESSIVE;
  uint32_t frame_rate_num = 0, frame_rate_den = 1;
  uint32_t width = 0, height = 0;
  uint32_t avg_bitrate = 0;  // bits per second
};

struct VideoInputType {
  PixelLayout subtype = PIXEL_NV12;  // PIXEL_NV12 or PIXEL_P010
  uint32_t interlace = INTERLACE_PROGRESSIVE;
  uint32_t frame_rate_num = 0, frame_rate_den = 1;
  uint32_t width = 0, height = 0;
};

// Rate control and structure, applied before writing begins.
struct CodecSettings {
  uint32_t rate_control_mode = 2;  // unconstrained variable bit rate
  uint32_t mean_bitrate = 0;       // bits per second
  uint32_t gop_size = 0;           // frames between key frames
  bool low_latency = false;
  uint32_t b_picture_count = 2;
};

enum AudioCodecKind : uint32_t { AUDIO_AAC = 0, AUDIO_FLAC = 1 };

struct AudioOutputType {
  AudioCodecKind codec = AUDIO_AAC;
  uint32_t bits_per_sample = 16;
  uint32_t samples_per_second = 0;
  uint32_t num_channels = 0;
  uint32_t avg_bytes_per_second = 0;  // AAC only; 0 = not set
};

struct AudioInputType {
  uint32_t bits_per_sample = 16;
  uint32_t samples_per_second = 0;
  uint32_t num_channels = 0;
};

struct WriterAttributes {
  bool hardware_transforms = false;
  std::string render_node;  // device for hardware encoders
  std::string driver;       // its kernel driver, which decides the encoder family
  // Windows: the capture's Direct3D 11 device (an ID3D11Device), shared with
  // the encoder and holding the pictures' surfaces; empty elsewhere.
  std::shared_ptr<void> d3d11;
  bool disable_throttling = true;
  ContainerKind container = CONTAINER_MPEG4;
};

class MediaWriter {
 public:
  virtual ~MediaWriter() = default;
  virtual MediaResult add_video_stream(const VideoOutputType& type, int32_t* index) = 0;
  virtual MediaResult add_audio_stream(const AudioOutputType& type, int32_t* index) = 0;
  virtual MediaResult set_video_input(int32_t index, const VideoInputType& type) = 0;
  virtual MediaResult set_audio_input(int32_t index, const AudioInputType& type) = 0;
  // False when the stream has no codec settings to offer.
  virtual bool set_codec_settings(int32_t index, const CodecSettings& settings) = 0;
  // Layout the stream's encoder takes its pictures in, once the input type is
  // set: the input subtype itself, or its planar twin for encoders that only
  // read planar pictures.
  virtual PixelLayout picture_layout(int32_t index) const = 0;
  virtual MediaResult begin_writing() = 0;
  // The writer takes its own references to `sample`; it releases them when
  // it no longer needs the content.
  virtual MediaResult write_sample(int32_t index, MediaSample* sample) = 0;
  // Marks the stream as having no new content up to `time` (100-ns units).
  virtual MediaResult send_stream_tick(int32_t index, int64_t time) = 0;
  virtual MediaResult get_statistics(int32_t index, uint64_t* bytes_processed) = 0;
  virtual MediaResult finalize() = 0;
};

// Converts submitted audio to the track's PCM input. It holds the output of
// one input at a time and refuses more input (MEDIA_E_NOTACCEPTING) until that
// output has been taken.
class AudioTransform {
 public:
  virtual ~AudioTransform() = default;
  virtual MediaResult set_input_type(const WaveFormat& format) = 0;
  virtual MediaResult set_output_type(const WaveFormat& format) = 0;
  virtual MediaResult begin_streaming() = 0;
  // Input: plane 0 of `sample`, `length` bytes, with time and duration.
  virtual MediaResult process_input(const MediaSample* sample) = 0;
  // Fills plane 0 of `sample` up to its capacity and stamps it;
  // MEDIA_E_TRANSFORM_NEED_MORE_INPUT when nothing is pending.
  virtual MediaResult process_output(MediaSample* sample) = 0;
  // Pushes out what the filter still holds, for the last process_output calls.
  virtual MediaResult drain() = 0;
};

// What the encoder check asks for: the codec, profile and bit depth of a
// recording, on a device or in software.
struct VideoEncoderRequest {
  VideoCodecKind codec = VIDEO_H264;
  uint32_t profile = 100;
  PixelLayout input = PIXEL_NV12;  // PIXEL_P010 for 10 bits
  bool hardware = false;
  std::string render_node;  // hardware: the device
  std::string driver;       // hardware: its kernel driver
  uint64_t adapter_luid = 0;  // hardware on Windows: the adapter (its LUID)
  uint32_t width = 0, height = 0;  // 0: any size
  uint32_t frame_rate_num = 0, frame_rate_den = 1;
};

// The services encoder set-up creates its objects through.
struct MediaPlatform {
  // Whether the encoder for the request opens: on the device when
  // `hardware` is set, in software otherwise. Creates no file. Fills
  // `encoder_name` (may be null) with the name of the encoder tried.
  bool (*find_video_encoder)(const VideoEncoderRequest& request, std::string* encoder_name) = nullptr;
  // Creates the output file and a writer on it.
  MediaResult (*create_writer)(const std::string& path, const WriterAttributes& attributes,
                               std::unique_ptr<MediaWriter>* writer) = nullptr;
  std::unique_ptr<AudioTransform> (*create_resampler)() = nullptr;
};

const MediaPlatform& media_platform();
// Replaces the platform (tests); nullptr restores the default backend.
void media_platform_set(const MediaPlatform* platform);
// The backend's table, defined by the backend.
const MediaPlatform& default_media_platform();

// Starts the backend's media services for the process (start-up, before
// the encoder's own parts); their absence shows later, in the encoder check.
void media_platform_start();

// Whether the build's backend writes files at all (true in every build
// today; a build without a writer would refuse every recording).
bool media_platform_can_write();
