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

double TFrameClock::TimeOfFrame(int64_t n) const {
    if (!Variable()) return double(n) / Fps();
    const auto& times = List->Times;
    if (n < 0) return 0;
    if (n >= int64_t(times.size())) return SecondsOf(List->EndTicks);
    return SecondsOf(times[size_t(n)]);
}

int64_t TFrameClock::TicksOfFrame(int64_t n) const {
    if (!Variable()) return TicksAt(TimeOfFrame(n));
    const auto& times = List->Times;
    return times[size_t(std::clamp<int64_t>(n, 0, int64_t(times.size()) - 1))];
}

void TFrameClock::Adopt(std::shared_ptr<const TList> list) {
    List = std::move(list);
    if (Variable()) Tolerance = std::max(1e-6, 0.5 * Tick());
}

int64_t TFrameClock::FrameCount(double lengthSeconds) const {
    if (Variable()) return int64_t(List->Times.size());
    if (List) lengthSeconds = SecondsOf(List->EndTicks);
    // Frame n is in the movie when its time, with the quarter-frame tolerance, is before the end.
    const double n = std::ceil(lengthSeconds * Fps() - 0.25 - 1e-9);
    return std::isfinite(n) && n > 0 ? int64_t(std::min(n, 2e9)) : 0;
}

int TFrameClock::PieceOf(int64_t stamp, int previous) const {
    if (!List || List->Pieces.size() <= 1) return 0;
    const auto& pieces = List->Pieces;
    const int64_t margin = std::max<int64_t>(1, av_rescale_q(2, AVRational{1, 1}, TimeBase));
    auto holds = [&](int i) {
        return i >= 0 && i < int(pieces.size()) && stamp >= pieces[size_t(i)].RawLow - margin &&
               stamp <= pieces[size_t(i)].RawHigh + margin;
    };
    if (holds(previous)) return previous;
    if (holds(previous + 1)) return previous + 1;
    for (int i = 0; i < int(pieces.size()); ++i)
        if (holds(i)) return i;
    return std::max(0, std::min(previous, int(pieces.size()) - 1));
}

int TFrameClock::PiecesHolding(int64_t stamp) const {
    if (!List || List->Pieces.size() <= 1) return 1;
    int n = 0;
    for (const auto& piece : List->Pieces) n += stamp >= piece.RawLow && stamp <= piece.RawHigh;
    return n;
}

int64_t TFrameClock::Continuous(int64_t stamp, int piece) const {
    if (!List || piece < 0 || piece >= int(List->Pieces.size())) return stamp;
    return stamp + List->Pieces[size_t(piece)].Shift;
}

int64_t TFrameClock::StampOf(int64_t continuous) const {
    if (!List || List->Pieces.empty()) return continuous;
    const auto& pieces = List->Pieces;
    size_t i = 0;
    while (i + 1 < pieces.size() && pieces[i + 1].ContLow <= continuous) ++i;
    return continuous - pieces[i].Shift;
}

int64_t TFrameClock::FrameOfTicks(int64_t continuous) const {
    if (Variable()) {
        const auto& times = List->Times;
        const auto it = std::lower_bound(times.begin(), times.end(), continuous);
        return std::min<int64_t>(int64_t(it - times.begin()), int64_t(times.size()) - 1);
    }
    const double n = std::ceil((SecondsOf(continuous) - Tolerance) * Fps() - 1e-9);
    return std::isfinite(n) && n > 0 ? int64_t(std::min(n, 9e18)) : 0;
}

TJumpFollower::TJumpFollower(const TFrameClock& clock, bool clockMayJump)
    : FFrameTicks(clock.FrameTicks),
      FBack(std::max<int64_t>(1, av_rescale_q(1, AVRational{1, clockMayJump ? 2 : 1}, clock.TimeBase) * (clockMayJump ? 1 : 2))),
      FForward(std::max<int64_t>(1, av_rescale_q(clockMayJump ? 10 : 60, AVRational{1, 1}, clock.TimeBase))) {}

int64_t TJumpFollower::Follow(int64_t stamp) {
    if (FHighest != INT64_MIN && (stamp < FHighest - FBack || stamp > FHighest + FForward)) {
        FShift = FHighestCont + FFrameTicks - stamp;
        FHighest = stamp;
        FJumped = true;
    } else {
        FHighest = std::max(FHighest, stamp);
    }
    const int64_t cont = stamp + FShift;
    FHighestCont = std::max(FHighestCont, cont);
    return cont;
}

void TJumpFollower::Resume(int64_t stamp, int64_t shift) {
    FShift = shift;
    FHighest = stamp;
    FHighestCont = stamp + shift;
}

namespace {

// Whether the pictures' times lie on the grid of the clock's rate: every step
// between neighbours is a whole number of frames, within the rounding of
// container clocks (a millisecond and a half, or two ticks) and 1 % of the step.
bool OnGrid(const std::vector<int64_t>& times, const TFrameClock& clock) {
    const double period = 1 / clock.Fps();
    const double tick = clock.Tick();
    const double slack = std::max(0.0015, 2 * tick);
    for (size_t i = 1; i < times.size(); ++i) {
        const double step = double(times[i] - times[i - 1]) * tick;
        const double k = std::max(1.0, std::round(step / period));
        if (std::abs(step - k * period) > slack + 0.01 * k * period) return false;
    }
    return true;
}

}  // namespace

TFrameClock ListedClock(const AVStream* stated, const std::string& path, int64_t originTicks,
                        const std::atomic<bool>* cancel) {
    TFrameClock clock = TFrameClock::For(stated, originTicks);
    const int stream = stated->index;
    try {
        TInputFile in = TInputFile::Open(path);
        AVFormatContext* fmt = in.Format.get();
        if (stream < 0 || stream >= int(fmt->nb_streams)) return clock;
        AVStream* st = fmt->streams[stream];
        const std::string name = fmt->iformat->name ? fmt->iformat->name : "";
        // AVI gives every frame a slot of its one rate.
        if (name == "avi" || !clock.RateKnown) return clock;
        if (name.find("mov") != std::string::npos) {
            // The index holds the decode stamps (edit lists applied, discarded
            // samples flagged) without reading the file: evenly spaced ones are
            // a constant rate; others are read through for presentation times.
            std::vector<int64_t> dts;
            const int n = avformat_index_get_entries_count(st);
            for (int i = 0; i < n; ++i) {
                const AVIndexEntry* e = avformat_index_get_entry(st, i);
                if (e && !(e->flags & AVINDEX_DISCARD_FRAME)) dts.push_back(e->timestamp);
            }
            std::sort(dts.begin(), dts.end());
            if (!dts.empty() && OnGrid(dts, clock)) return clock;
        }
        TJumpFollower follow(clock, fmt->iformat->flags & AVFMT_TS_DISCONT);
        auto list = std::make_shared<TFrameClock::TList>();
        AvPacketPtr pkt = MakePacket();
        std::vector<int64_t> times;
        int64_t end = INT64_MIN;
        bool unstamped = false;  // a packet without its own time: a field or a picture of several packets
        for (int64_t packets = 0;; ++packets) {
            if (cancel && packets % 256 == 0 && cancel->load(std::memory_order_relaxed)) return clock;
            if (av_read_frame(fmt, pkt.get()) < 0) break;
            if (pkt->stream_index == stream) {
                const int64_t ts = pkt->pts;
                unstamped = unstamped || ts == AV_NOPTS_VALUE;
                if (ts != AV_NOPTS_VALUE) {
                    const int64_t shift = follow.Shift();
                    const int64_t cont = follow.Follow(ts);
                    if (list->Pieces.empty() || follow.Shift() != shift) {
                        TFrameClock::TList::TPiece piece;
                        piece.Shift = follow.Shift();
                        piece.RawLow = piece.RawHigh = ts;
                        list->Pieces.push_back(piece);
                    }
                    auto& piece = list->Pieces.back();
                    piece.RawLow = std::min(piece.RawLow, ts);
                    piece.RawHigh = std::max(piece.RawHigh, ts);
                    times.push_back(cont);
                    end = std::max(end, cont + (pkt->duration > 0 ? pkt->duration : clock.FrameTicks));
                }
            }
            av_packet_unref(pkt.get());
        }
        // Packets are pictures only where each has its own time (field-coded
        // H.264 in transport streams sends the second field without one);
        // otherwise the stream keeps the rule of its rate.
        if (unstamped) return clock;
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
        // Pictures before the first one the decoder gives (leading pictures it drops) are not shown.
        if (originTicks != AV_NOPTS_VALUE)
            times.erase(times.begin(), std::lower_bound(times.begin(), times.end(), originTicks));
        if (times.empty()) return clock;
        for (auto& piece : list->Pieces) piece.ContLow = piece.RawLow + piece.Shift;
        // An interlaced stream may send each field as a packet of its own:
        // its packets are not pictures, and only its jumps are listed.
        const AVFieldOrder field = st->codecpar->field_order;
        const bool interlaced = field != AV_FIELD_PROGRESSIVE && field != AV_FIELD_UNKNOWN;
        list->Variable = !interlaced && !OnGrid(times, clock);
        if (!list->Variable && list->Pieces.size() <= 1) return clock;
        list->EndTicks = end;
        list->Times = std::move(times);
        clock.Adopt(std::move(list));
        return clock;
    } catch (const MediaError&) {
        return clock;
    }
}

int64_t TFrameClock::TicksAt(double seconds) const {
    const double ticks = std::floor((seconds + Tolerance) / Tick());
    const double lim = 4e18;
    return Origin + static_cast<int64_t>(std::clamp(ticks, -lim, lim));
}

}  // namespace media
