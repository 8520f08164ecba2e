// The one decode path of the engine: reads a stream's packets, feeds the
// decoder and hands out its pictures in presentation order, for the preview,
// every output and the captures alike. Private to media/ (FFmpeg types).
//
// Policy, the same everywhere:
//  - a damaged packet is dropped and decoding carries on with the next one;
//    running out of memory is an error (std::bad_alloc);
//  - a read error counts as the end of the file: the decoder gives out what
//    it holds and what was read is all there is;
//  - a picture without a timestamp comes where the one before it ends (its
//    duration, else one frame);
//  - after Restart(true) (a seek), pictures before the first key frame are
//    dropped: they would show what lies before the seek point.
#pragma once

#include "media/AvPtr.h"
#include "media/InputFile.h"

#include <atomic>
#include <cstdint>

namespace media {

class TFrameDecoder {
public:
    // Decodes stream `stream` of `in` (owned by the caller, who may seek it
    // between calls and then calls Restart). frameTicks: one frame's duration
    // in stream ticks; origin: the stamp given to a first picture that has
    // none. threads: 0 lets FFmpeg pick one per core.
    TFrameDecoder(TInputFile& in, int stream, int64_t frameTicks, int64_t origin, int threads = 0);
    TFrameDecoder(const TFrameDecoder&) = delete;
    TFrameDecoder& operator=(const TFrameDecoder&) = delete;

    // The next picture into `frame` (unreferenced first), frame->pts set to
    // its stamp. False at the end of the stream, or when `Cancel` was raised
    // (Cancelled() then tells); the next call carries on after a cancel.
    bool Next(AVFrame* frame);

    // Non-reference pictures whose packets are stamped before `ticks` are not
    // decoded at all (AV_NOPTS_VALUE: every picture is decoded). The highest
    // skipped stamp is kept until the next Restart.
    void SkipBefore(int64_t ticks) { FSkipBefore = ticks; }
    int64_t MaxSkippedPts() const { return FMaxSkipped; }

    // The demuxer has moved: forget what the decoder holds. awaitKey drops
    // pictures up to the next key frame (after a seek into the middle).
    void Restart(bool awaitKey);

    // Moves to a key frame at or before stamp `ticks` and decodes the first
    // picture from there into `frame`. A seek that lands after `ticks` (a
    // file without an index, an imprecise seek) is repeated further back;
    // at or before `startTicks`, and after ten tries, it goes to the start of
    // the file. False when no picture came (SeekFailed() tells when the file
    // could not even go back to its start), or when cancelled.
    bool SeekTo(int64_t ticks, int64_t startTicks, AVFrame* frame);
    bool SeekFailed() const { return FSeekFailed; }
    // Goes back to the start of the file (Restart included).
    bool SeekToStart();
    uint64_t Seeks() const { return FSeeks; }

    bool AtEnd() const { return FDecoderEof; }
    bool Cancelled() const { return FCancelled; }
    // Packets of the stream read since the last Restart (or since opening).
    uint64_t PacketsRead() const { return FPacketsRead; }
    uint64_t FramesDecoded() const { return FFramesDecoded; }

    // Raised from another thread to end the current Next early.
    const std::atomic<bool>* Cancel = nullptr;
    // When set, only key pictures are read and decoded: the other packets of
    // the stream are dropped unread by the decoder (thumbnails of key frames).
    // What the decoder holds afterwards can not be decoded on from: Restart
    // (or seek) before decoding every picture again.
    bool KeysOnly = false;
    // When not 0: Next gives up (as at the end) once that many packets of the
    // stream were read since the last Restart without a picture coming out.
    uint64_t PacketBudget = 0;

    const AVCodecContext* Context() const { return FDec.get(); }

private:
    TInputFile& FIn;
    AVFormatContext* FFormat;
    int FStream;
    int64_t FFrameTicks;
    int64_t FOrigin;
    AvCodecContextPtr FDec;
    AvPacketPtr FPkt;
    bool FDemuxEof = false, FDecoderEof = false, FCancelled = false, FSeekFailed = false;
    uint64_t FSeeks = 0;
    bool FKeyDrain = false;  // a key picture was sent and the decoder drained (KeysOnly)
    bool FAwaitKey = false;
    int FAwaited = 0;
    int64_t FSkipBefore = AV_NOPTS_VALUE;
    int64_t FMaxSkipped = AV_NOPTS_VALUE;
    int64_t FLastPts = AV_NOPTS_VALUE;
    int64_t FLastDuration = 0;
    uint64_t FPacketsRead = 0, FFramesDecoded = 0;
};

}  // namespace media
