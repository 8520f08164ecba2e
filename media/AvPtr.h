// Owning pointers for every FFmpeg object the engine creates.
// Private to media/: include only from media/*.cpp and other media-private headers.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "media/MediaTypes.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace media {

struct AvFormatInputDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
// Output contexts: close the I/O context first, then free the muxer context.
struct AvFormatOutputDeleter {
    void operator()(AVFormatContext* c) const {
        if (!c) return;
        if (c->oformat && !(c->oformat->flags & AVFMT_NOFILE) && c->pb) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct AvCodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AvFrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct AvPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsContextDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrContextDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AvDictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
struct AvBsfDeleter {
    void operator()(AVBSFContext* c) const { av_bsf_free(&c); }
};
struct AvFreeDeleter {
    void operator()(void* p) const { av_free(p); }
};

using AvFormatInputPtr = std::unique_ptr<AVFormatContext, AvFormatInputDeleter>;
using AvFormatOutputPtr = std::unique_ptr<AVFormatContext, AvFormatOutputDeleter>;
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextDeleter>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using AvDictionaryPtr = std::unique_ptr<AVDictionary, AvDictionaryDeleter>;
using AvBsfPtr = std::unique_ptr<AVBSFContext, AvBsfDeleter>;

inline AvFramePtr MakeFrame() {
    AvFramePtr f(av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}
inline AvPacketPtr MakePacket() {
    AvPacketPtr p(av_packet_alloc());
    if (!p) throw std::bad_alloc();
    return p;
}

// av_strerror's text for an FFmpeg error code.
inline std::string AvErrorText(int rc) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(rc, buf, sizeof buf);
    return buf;
}

// Throws MediaError("<what>: <av_strerror text>") when rc < 0; returns rc otherwise.
inline int CheckRc(int rc, const char* what) {
    if (rc < 0) throw MediaError(std::string(what) + ": " + AvErrorText(rc));
    return rc;
}

}  // namespace media
