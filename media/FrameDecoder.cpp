#include "media/FrameDecoder.h"

#include "media/InputFile.h"

#include <algorithm>
#include <new>

namespace media {

namespace {
constexpr int kMaxAwaitKeyFrames = 600;  // after a seek, give up waiting for a key frame after that many pictures
constexpr int kSkipMarginFrames = 3;     // never skip this close to the wanted picture
}  // namespace

TFrameDecoder::TFrameDecoder(TInputFile& in, int stream, int64_t frameTicks, int64_t origin, int threads)
    : FIn(in), FFormat(in.Format.get()), FStream(stream), FFrameTicks(frameTicks > 0 ? frameTicks : 1),
      FOrigin(origin), FDec(OpenDecoder(in.Format->streams[stream], threads)), FPkt(MakePacket()) {}

bool TFrameDecoder::SeekToStart() {
    ++FSeeks;
    const bool ok = FIn.SeekToStart(FStream);
    Restart(false);
    return ok;
}

bool TFrameDecoder::SeekTo(int64_t ticks, int64_t startTicks, AVFrame* frame) {
    FSeekFailed = false;
    const AVStream* st = FFormat->streams[FStream];
    int64_t seekTs = ticks;
    int64_t backoff = std::max<int64_t>(FFrameTicks, av_rescale_q(1, AVRational{1, 1}, st->time_base));
    for (int tries = 0;; ++tries) {
        bool toStart = seekTs <= startTicks || tries >= 10;
        if (!toStart) {
            ++FSeeks;
            int rc = avformat_seek_file(FFormat, FStream, INT64_MIN, seekTs, seekTs, 0);
            if (rc < 0) rc = av_seek_frame(FFormat, FStream, seekTs, AVSEEK_FLAG_BACKWARD);
            if (rc < 0)
                toStart = true;
            else
                Restart(true);
        }
        if (toStart && !SeekToStart()) {
            FSeekFailed = true;
            return false;
        }
        if (!Next(frame)) {
            if (toStart || FCancelled) return false;  // nothing decodable at all, or no longer wanted
        } else if (frame->pts <= ticks || toStart) {
            return true;
        }
        // Landed after the target (or on nothing): go further back.
        seekTs -= backoff;
        backoff *= 2;
    }
}

void TFrameDecoder::Restart(bool awaitKey) {
    avcodec_flush_buffers(FDec.get());
    FDemuxEof = FDecoderEof = FCancelled = FKeyDrain = false;
    FAwaitKey = awaitKey;
    FAwaited = 0;
    FMaxSkipped = AV_NOPTS_VALUE;
    FLastPts = AV_NOPTS_VALUE;
    FLastDuration = 0;
    FPacketsRead = 0;
}

bool TFrameDecoder::Next(AVFrame* frame) {
    FCancelled = false;
    av_frame_unref(frame);
    for (;;) {
        int rc = avcodec_receive_frame(FDec.get(), frame);
        if (rc == 0) {
            ++FFramesDecoded;
            int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE)
                pts = FLastPts == AV_NOPTS_VALUE ? FOrigin : FLastPts + (FLastDuration > 0 ? FLastDuration : FFrameTicks);
            FLastPts = pts;
            FLastDuration = frame->pkt_duration;
            if (FAwaitKey && !frame->key_frame && ++FAwaited < kMaxAwaitKeyFrames) {
                av_frame_unref(frame);
                continue;
            }
            FAwaitKey = false;
            frame->pts = pts;
            return true;
        }
        if (rc == AVERROR(ENOMEM)) throw std::bad_alloc();
        if (rc == AVERROR_EOF && FKeyDrain) {
            // The key picture drained: the decoder starts afresh for the next one.
            avcodec_flush_buffers(FDec.get());
            FKeyDrain = false;
            rc = AVERROR(EAGAIN);
        }
        if (rc != AVERROR(EAGAIN) || FDemuxEof) {  // the end, or a decoder that cannot go on
            FDecoderEof = true;
            return false;
        }
        if (Cancel && Cancel->load(std::memory_order_relaxed)) {
            FCancelled = true;
            return false;
        }
        if (PacketBudget && FPacketsRead >= PacketBudget) return false;
        rc = av_read_frame(FFormat, FPkt.get());
        if (rc < 0) {  // end of file or a read error: let the decoder give out what it holds
            FDemuxEof = true;
            avcodec_send_packet(FDec.get(), nullptr);
            continue;
        }
        if (FPkt->stream_index != FStream) {
            av_packet_unref(FPkt.get());
            continue;
        }
        ++FPacketsRead;
        if (KeysOnly && !(FPkt->flags & AV_PKT_FLAG_KEY)) {
            av_packet_unref(FPkt.get());
            continue;
        }
        const bool skip = FSkipBefore != AV_NOPTS_VALUE && !FAwaitKey && FPkt->pts != AV_NOPTS_VALUE &&
                          FPkt->pts < FSkipBefore - kSkipMarginFrames * FFrameTicks;
        FDec->skip_frame = KeysOnly ? AVDISCARD_NONKEY : skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        if (skip && (FMaxSkipped == AV_NOPTS_VALUE || FPkt->pts > FMaxSkipped)) FMaxSkipped = FPkt->pts;
        rc = avcodec_send_packet(FDec.get(), FPkt.get());
        av_packet_unref(FPkt.get());
        if (rc == AVERROR(ENOMEM)) throw std::bad_alloc();
        // A key picture alone comes out at once when drained; frame threads
        // would otherwise wait for as many more key pictures as they are.
        if (KeysOnly && rc >= 0 && avcodec_send_packet(FDec.get(), nullptr) >= 0) FKeyDrain = true;
        // Any other refusal: the packet is damaged and dropped.
    }
}

}  // namespace media
