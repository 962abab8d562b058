#pragma once
// The settings record: one field per INI key, in the file's order. Numbers
// and booleans are 32-bit unsigned (booleans hold 0 or 1).
#include <cstdint>
#include <string>

enum VideoCodecIndex : uint32_t { VIDEO_CODEC_H264 = 0, VIDEO_CODEC_H265 = 1, VIDEO_CODEC_AV1 = 2 };
enum VideoProfileIndex : uint32_t {
  VIDEO_PROFILE_BASE = 0,
  VIDEO_PROFILE_MAIN = 1,
  VIDEO_PROFILE_HIGH = 2,
  VIDEO_PROFILE_MAIN10 = 3
};
enum AudioCodecIndex : uint32_t { AUDIO_CODEC_AAC = 0, AUDIO_CODEC_FLAC = 1 };

struct Config {
  uint32_t MouseCursor = 1;
  uint32_t OnlyClientArea = 1;
  uint32_t ShowRecordingBorder = 1;
  uint32_t KeepRoundedWindowCorners = 1;
  uint32_t HardwareEncoder = 1;
  uint32_t HardwarePreferIntegrated = 0;
  std::string OutputFolder;  // at most 259 UTF-16 units
  uint32_t OpenFolder = 1;
  uint32_t FragmentedOutput = 1;
  uint32_t EnableLimitLength = 0;
  uint32_t EnableLimitSize = 0;
  uint32_t EnableDiskGuard = 1;
  uint32_t LimitLength = 60;
  uint32_t LimitSize = 25;
  uint32_t MinFreeSpaceMB = 512;
  uint32_t WriteDiagnostics = 0;
  uint32_t GammaCorrectResize = 0;
  uint32_t ImprovedColorConversion = 0;
  uint32_t VideoCodec = VIDEO_CODEC_H264;
  uint32_t VideoProfile = VIDEO_PROFILE_HIGH;
  uint32_t VideoMaxWidth = 1920;
  uint32_t VideoMaxHeight = 1080;
  uint32_t VideoMaxFramerate = 60;
  uint32_t VideoBitrate = 8000;
  uint32_t EnableAdaptiveGovernor = 1;
  uint32_t MinAdaptiveFps = 24;
  uint32_t MinAdaptiveBitrateKbps = 2000;
  uint32_t StartDelaySec = 0;
  uint32_t ShowStartCountdownOverlay = 1;
  uint32_t LastPreset = 1;
  uint32_t CaptureAudio = 1;
  uint32_t ApplicationLocalAudio = 1;
  uint32_t AudioCodec = AUDIO_CODEC_AAC;
  uint32_t AudioChannels = 2;
  uint32_t AudioSamplerate = 48000;
  uint32_t AudioBitrate = 160;
  uint32_t CaptureMicrophone = 0;
  std::string MicrophoneDeviceId;  // at most 255 UTF-16 units
  uint32_t MicrophoneVolume = 100;
  uint32_t ShortcutMonitor = 33554476;
  uint32_t ShortcutWindow = 167772204;
  uint32_t ShortcutRect = 100663340;
  uint32_t ShortcutPause = 100663376;
  // Every frame slot of the recording gets a picture (the last one again
  // where none came): a file of constant frame rate, as editors want.
  uint32_t ConstantFrameRate = 0;
  // The screen-cast portal's token for sharing the same monitor again
  // without asking (Wayland desktops); empty until a monitor was shared.
  std::string ScreenCastRestoreToken;  // at most 255 UTF-16 units
  // The input that stands for "everything the computer plays" where the
  // system's own loopback delivers nothing (Wine): an input's id or its
  // name, such as a sound server's monitor of the output. Empty: the
  // loopback of the default output. Only the Windows build reads it.
  std::string SystemAudioDeviceId;  // at most 255 UTF-16 units
};
