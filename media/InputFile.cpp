#include "media/InputFile.h"

#include "media/FrameClock.h"
#include "media/FrameDecoder.h"

#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

namespace media {

namespace {

// A sentence naming the file, for messages shown to the user.
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

TInputFile TInputFile::Open(const std::string& path) {
    TInputFile file = OpenAsStated(path);
    SettleFrameRates(file);
    return file;
}

TInputFile TInputFile::OpenAsStated(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p(path);
    const auto status = fs::status(p, ec);
    if (ec || !fs::exists(status))
        throw MediaError("The file " + Quoted(path) + " does not exist.");
    if (fs::is_directory(status))
        throw MediaError(Quoted(path) + " is a folder, not a movie file.");
    // Pipes, devices and sockets would block the reader or never end: only
    // regular files (or links to them) are movies.
    if (!fs::is_regular_file(status))
        throw MediaError(Quoted(path) + " is not a regular file (it is a device, pipe or socket); only movie files can be opened.");
    const auto size = fs::file_size(p, ec);
    if (!ec && size == 0)
        throw MediaError("The file " + Quoted(path) + " is empty.");

    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0)  // avformat_open_input frees the context on failure
        throw MediaError("The file " + Quoted(path) + " can not be read as a movie (" + AvErrorText(rc) + ").");
    TInputFile file;
    file.Format.reset(raw);
    rc = avformat_find_stream_info(raw, nullptr);
    if (rc < 0)
        throw MediaError("The file " + Quoted(path) + " can not be read as a movie (" + AvErrorText(rc) + ").");
    return file;
}

int TInputFile::FirstVideoStream() const {
    if (!Format) return -1;
    std::vector<int> candidates;
    for (unsigned i = 0; i < Format->nb_streams; ++i) {
        const AVStream* s = Format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            candidates.push_back(static_cast<int>(i));
    }
    if (candidates.size() <= 1) return candidates.empty() ? -1 : candidates.front();
    // Several video streams (some recorders write empty ones): read packets
    // until the first candidate shows one, or up to the limit.
    std::vector<bool> seen(Format->nb_streams, false);
    try {
        TInputFile again = Open(Format->url ? Format->url : "");
        AvPacketPtr pkt = MakePacket();
        constexpr int kMaxPackets = 20000;
        for (int n = 0; n < kMaxPackets && av_read_frame(again.Format.get(), pkt.get()) >= 0; ++n) {
            const int index = pkt->stream_index;
            av_packet_unref(pkt.get());
            if (index < 0 || index >= int(seen.size())) continue;
            seen[static_cast<size_t>(index)] = true;
            if (index == candidates.front()) break;
        }
    } catch (const MediaError&) {
    }
    for (int c : candidates)
        if (seen[static_cast<size_t>(c)]) return c;
    return candidates.front();
}

int TInputFile::FirstAudioStream() const {
    if (!Format) return -1;
    for (unsigned i = 0; i < Format->nb_streams; ++i)
        if (Format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return static_cast<int>(i);
    return -1;
}

double TInputFile::StreamStartSeconds(int stream) const {
    if (!Format || stream < 0 || static_cast<unsigned>(stream) >= Format->nb_streams) return 0;
    const AVStream* s = Format->streams[stream];
    if (s->start_time != AV_NOPTS_VALUE) return s->start_time * av_q2d(s->time_base);
    if (Format->start_time != AV_NOPTS_VALUE) return double(Format->start_time) / AV_TIME_BASE;
    return 0;
}

bool TInputFile::SeekToStart(int stream) {
    const AVStream* st = Format->streams[stream];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    int rc = -1;
    if (Format->iformat->flags & AVFMT_TS_DISCONT) rc = av_seek_frame(Format.get(), -1, 0, AVSEEK_FLAG_BYTE);
    if (rc < 0) rc = avformat_seek_file(Format.get(), stream, INT64_MIN, start, start, 0);
    if (rc < 0) rc = av_seek_frame(Format.get(), stream, start, AVSEEK_FLAG_BACKWARD);
    if (rc < 0) rc = av_seek_frame(Format.get(), -1, 0, AVSEEK_FLAG_BYTE);
    return rc >= 0;
}

int64_t FirstFrameTicks(const std::string& path, int stream) {
    int64_t fallback = 0;
    try {
        TInputFile in = TInputFile::Open(path);
        if (stream < 0 || stream >= int(in.Format->nb_streams)) return 0;
        const AVStream* st = in.Format->streams[stream];
        if (st->start_time != AV_NOPTS_VALUE) fallback = st->start_time;
        TFrameDecoder dec(in, stream, 1, AV_NOPTS_VALUE);
        // A damaged start may hold no picture for a while; give up after that many packets.
        dec.PacketBudget = 2000;
        AvFramePtr frame = MakeFrame();
        if (dec.Next(frame.get()) && frame->pts != AV_NOPTS_VALUE) return frame->pts;
    } catch (const MediaError&) {
    }
    return fallback;
}

bool UsableFrameRate(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0) return false;
    const double v = av_q2d(rate);
    return std::isfinite(v) && v >= kMinFrameRate && v <= kMaxFrameRate;
}

bool UsablePictureSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           int64_t(width) * height <= kMaxPicturePixels;
}

AVRational StreamFrameRate(const AVStream* stream) {
    if (UsableFrameRate(stream->avg_frame_rate)) return stream->avg_frame_rate;
    if (UsableFrameRate(stream->r_frame_rate)) return stream->r_frame_rate;
    return AVRational{0, 1};
}

AvCodecContextPtr OpenDecoder(const AVStream* stream, int threadCount) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        const char* name = avcodec_get_name(stream->codecpar->codec_id);
        throw MediaError(std::string("There is no decoder for the ") + (name ? name : "unknown") +
                         " stream of this file.");
    }
    AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    CheckRc(avcodec_parameters_to_context(ctx.get(), stream->codecpar), "Reading the stream's parameters");
    ctx->pkt_timebase = stream->time_base;
    // A stream that claims an absurd picture size is refused by the decoder
    // instead of making it allocate gigabytes.
    ctx->max_pixels = kMaxPicturePixels;
    ctx->thread_count = threadCount;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    CheckRc(avcodec_open2(ctx.get(), codec, nullptr), (std::string("Opening the ") + codec->name + " decoder").c_str());
    return ctx;
}

}  // namespace media
