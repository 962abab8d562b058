#pragma once
// Owners for the FFmpeg objects the writer layer uses; each is released with
// its library's own free function on every path.
#include <memory>

#include "video/encode/ffmpeg/fd_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct AvCodecContextFree {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct AvFrameFree {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct AvPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvBufferUnref {
  void operator()(AVBufferRef* p) const { av_buffer_unref(&p); }
};
struct SwrFree {
  void operator()(SwrContext* p) const { swr_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* p) const { sws_freeContext(p); }
};
// An output format context with its file (fd_output.h): closes the file,
// then frees.
struct AvOutputFree {
  void operator()(AVFormatContext* p) const {
    fd_output_close(p);
    avformat_free_context(p);
  }
};

using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;
using AvBufferPtr = std::unique_ptr<AVBufferRef, AvBufferUnref>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using AvOutputPtr = std::unique_ptr<AVFormatContext, AvOutputFree>;
