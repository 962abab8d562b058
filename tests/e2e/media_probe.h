#pragma once
// Reads back a recorded file with FFmpeg for the end-to-end checks.
#include <cstdint>
#include <string>
#include <vector>

struct StreamSummary {
  bool present = false;
  std::string codec;
  int width = 0, height = 0;
  double frame_rate = 0;  // average, from the stream header
  int sample_rate = 0, channels = 0;
  int64_t packets = 0;
  double start = 0;     // seconds, first packet's presentation time
  double duration = 0;  // seconds, from the first packet's start to the last one's end
};

struct MediaSummary {
  bool opened = false;
  StreamSummary video, audio;
};

MediaSummary probe_media(const std::string& path);

// One decoded picture: its time, the mean luma below the number strip, and
// the frame number the test content paints along the top edge (-1 when the
// strip cannot be read).
struct PictureInfo {
  double time = 0;
  double mean_luma = 0;
  int number = -1;
};
// `source_width` is the width of the captured area in pixels (the strip's
// geometry is given in those pixels).
std::vector<PictureInfo> decode_pictures(const std::string& path, int source_width);

// The audio track mixed down to one channel.
struct AudioSamples {
  double start = 0;  // seconds, time of samples[0]
  int rate = 0;
  std::vector<float> samples;
};
AudioSamples decode_audio(const std::string& path);

// Fraction of the signal's power in [from, to) seconds (of the track's own
// time line) that lies at `hz` (Goertzel, one bin).
double tone_share(const AudioSamples& a, double hz, double from, double to);

// Every decoded picture as rows of R, G, B bytes (3 * width apart).
struct RgbPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* at(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
};
std::vector<RgbPicture> decode_rgb(const std::string& path);
