#include "media/PacketIndex.h"

#include "media/InputFile.h"

#include <algorithm>

namespace media {

namespace {

bool Raised(const std::atomic<bool>* cancel) { return cancel && cancel->load(std::memory_order_relaxed); }

void Finish(TKeyStamps& out) {
    std::sort(out.Stamps.begin(), out.Stamps.end());
    out.Stamps.erase(std::unique(out.Stamps.begin(), out.Stamps.end()), out.Stamps.end());
}

// The index of an MP4 or MOV file: the key entries' decode stamps, each read
// once for its presentation stamp. False when the index is empty or a seek
// fails (the caller then reads the packets through).
bool FromMovIndex(AVFormatContext* fmt, AVStream* st, const std::atomic<bool>* cancel, TKeyStamps& out) {
    const int n = avformat_index_get_entries_count(st);
    if (n <= 0) return false;
    std::vector<int64_t> keys;
    for (int i = 0; i < n; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e && (e->flags & AVINDEX_KEYFRAME) && !(e->flags & AVINDEX_DISCARD_FRAME)) keys.push_back(e->timestamp);
    }
    AvPacketPtr pkt = MakePacket();
    for (int64_t dts : keys) {
        if (Raised(cancel)) {
            out.Cancelled = true;
            return true;
        }
        if (avformat_seek_file(fmt, st->index, dts, dts, dts, 0) < 0) return false;
        bool found = false;
        for (int tries = 0; tries < 64 && av_read_frame(fmt, pkt.get()) >= 0; ++tries) {
            const bool ours = pkt->stream_index == st->index;
            ++out.PacketsRead;
            if (ours) {
                found = pkt->dts == dts || pkt->dts == AV_NOPTS_VALUE;
                if (found && pkt->pts != AV_NOPTS_VALUE) out.Stamps.push_back(pkt->pts);
            }
            av_packet_unref(pkt.get());
            if (ours) break;
        }
        if (!found) return false;
    }
    return true;
}

void FromPackets(AVFormatContext* fmt, AVStream* st, const TFrameClock& clock, const std::atomic<bool>* cancel,
                 TKeyStamps& out) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (int(i) != st->index) fmt->streams[i]->discard = AVDISCARD_ALL;
    TJumpFollower follow(clock, fmt->iformat->flags & AVFMT_TS_DISCONT);
    AvPacketPtr pkt = MakePacket();
    for (uint64_t packets = 0;; ++packets) {
        if (packets % 256 == 0 && Raised(cancel)) {
            out.Cancelled = true;
            return;
        }
        if (av_read_frame(fmt, pkt.get()) < 0) break;
        if (pkt->stream_index == st->index) {
            ++out.PacketsRead;
            // Every stamped packet is followed, so that jumps are removed as the frame clock removes them.
            if (pkt->pts != AV_NOPTS_VALUE) {
                const int64_t cont = follow.Follow(pkt->pts);
                if ((pkt->flags & AV_PKT_FLAG_KEY) && !(pkt->flags & AV_PKT_FLAG_DISCARD)) out.Stamps.push_back(cont);
            }
        }
        av_packet_unref(pkt.get());
    }
}

}  // namespace

TKeyStamps ReadKeyStamps(const std::string& path, int stream, const TFrameClock& clock,
                         const std::atomic<bool>* cancel) {
    TKeyStamps out;
    TInputFile in = TInputFile::Open(path);
    AVFormatContext* fmt = in.Format.get();
    if (stream < 0 || stream >= int(fmt->nb_streams)) return out;
    AVStream* st = fmt->streams[stream];
    const std::string name = fmt->iformat->name ? fmt->iformat->name : "";
    bool done = false;
    if (name.find("mov") != std::string::npos && !clock.Jumps()) {
        // Only this stream is wanted; the others are skipped by the demuxer.
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (int(i) != stream) fmt->streams[i]->discard = AVDISCARD_ALL;
        done = FromMovIndex(fmt, st, cancel, out);
        if (!done) {
            out.Stamps.clear();
            if (!in.SeekToStart(stream)) return out;
        }
    }
    if (!done && !out.Cancelled) FromPackets(fmt, st, clock, cancel, out);
    if (out.Cancelled) out.Stamps.clear();
    Finish(out);
    return out;
}

}  // namespace media
