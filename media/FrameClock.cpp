#include "media/FrameClock.h"

#include "media/InputFile.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace media {

namespace {

// The mean rate of the stream's first pictures by their stamps; 0/1 when
// fewer than three pictures have distinct stamps.
AVRational PicturesMeanRate(const std::string& path, int stream) {
    try {
        TInputFile in = TInputFile::OpenAsStated(path);
        if (stream >= int(in.Format->nb_streams)) return {0, 1};
        const AVStream* st = in.Format->streams[stream];
        AvPacketPtr pkt = MakePacket();
        std::vector<int64_t> stamps;
        constexpr int kMaxPackets = 20000;  // of all streams, so that a stream without pictures ends the scan
        for (int n = 0; n < kMaxPackets && int(stamps.size()) < kRatePictures &&
                        av_read_frame(in.Format.get(), pkt.get()) >= 0;
             ++n) {
            if (pkt->stream_index == stream) {
                const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
                if (ts != AV_NOPTS_VALUE) stamps.push_back(ts);
            }
            av_packet_unref(pkt.get());
        }
        std::sort(stamps.begin(), stamps.end());
        stamps.erase(std::unique(stamps.begin(), stamps.end()), stamps.end());
        if (stamps.size() < 3) return {0, 1};
        const double span = double(stamps.back() - stamps.front()) * av_q2d(st->time_base);
        const double rate = double(stamps.size() - 1) / span;
        return std::isfinite(rate) && rate > 0 ? av_d2q(rate, 1 << 20) : AVRational{0, 1};
    } catch (const MediaError&) {
        return {0, 1};
    }
}

}  // namespace

void SettleFrameRates(TInputFile& file) {
    AVFormatContext* fmt = file.Format.get();
    if (!fmt || !fmt->url) return;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        // A stated average rate is the container's own word; only a guessed one is checked.
        if (UsableFrameRate(st->avg_frame_rate) || !UsableFrameRate(st->r_frame_rate)) continue;
        const AVRational measured = PicturesMeanRate(fmt->url, int(i));
        if (!UsableFrameRate(measured)) continue;
        const double ratio = av_q2d(st->r_frame_rate) / av_q2d(measured);
        if (ratio > kRateDisagreement || ratio < 1 / kRateDisagreement) st->avg_frame_rate = measured;
    }
}

TFrameClock TFrameClock::For(const AVStream* stream, int64_t originTicks) {
    TFrameClock c;
    c.TimeBase = stream->time_base.num > 0 && stream->time_base.den > 0 ? stream->time_base : AVRational{1, 1000};
    const AVRational rate = StreamFrameRate(stream);
    c.RateKnown = UsableFrameRate(rate);
    if (c.RateKnown) c.Rate = rate;
    c.Origin = originTicks;
    c.FrameTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(c.Rate), c.TimeBase));
    // A quarter frame: more than any container's rounding of a stamp at a
    // real frame rate, and far enough from the next frame.
    c.Tolerance = std::max(1e-6, 0.25 / c.Fps());
    return c;
}

int64_t TFrameClock::TicksAt(double seconds) const {
    const double ticks = std::floor((seconds + Tolerance) / Tick());
    const double lim = 4e18;
    return Origin + static_cast<int64_t>(std::clamp(ticks, -lim, lim));
}

}  // namespace media
