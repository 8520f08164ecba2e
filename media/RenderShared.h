// What the render graph's workers share: the writer with its stop and failure
// flags, the queues between threads, one encoder with its output stream.
// Private to media/ (FFmpeg types).
#pragma once

#include "media/AvPtr.h"
#include "media/StagedFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace media {

// Raised inside a worker when the graph is being stopped or has failed.
struct TAborted {};

// A bounded queue of frames between two pipeline threads.
class TFrameQueue {
public:
    explicit TFrameQueue(size_t capacity) : FCapacity(capacity) {}

    // Blocks while full; false when the queue was aborted.
    bool Push(AvFramePtr frame) {
        std::unique_lock lock(FMutex);
        FNotFull.wait(lock, [&] { return FAborted || FItems.size() < FCapacity; });
        if (FAborted) return false;
        FItems.push_back(std::move(frame));
        FNotEmpty.notify_one();
        return true;
    }
    // Blocks until a frame comes; false at the end (closed and empty) or on abort.
    bool Pop(AvFramePtr& frame) {
        std::unique_lock lock(FMutex);
        FNotEmpty.wait(lock, [&] { return FAborted || FClosed || !FItems.empty(); });
        if (FAborted || FItems.empty()) return false;
        frame = std::move(FItems.front());
        FItems.pop_front();
        FNotFull.notify_one();
        return true;
    }
    void Close() {
        std::lock_guard lock(FMutex);
        FClosed = true;
        FNotEmpty.notify_all();
    }
    void Abort() {
        std::lock_guard lock(FMutex);
        FAborted = true;
        FNotEmpty.notify_all();
        FNotFull.notify_all();
    }

private:
    std::mutex FMutex;
    std::condition_variable FNotFull, FNotEmpty;
    std::deque<AvFramePtr> FItems;
    size_t FCapacity;
    bool FClosed = false, FAborted = false;
};

// What the workers share: the writer, the stop and failure flags.
struct TShared {
    AvFormatOutputPtr Out;
    TStagedFile Output;  // the file being written, renamed into place at the end
    std::mutex MuxMutex;
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> Failed{false};
    std::mutex ErrorMutex;
    std::string Error;
    std::vector<TFrameQueue*> Queues;

    void Fail(const std::string& text) {
        {
            std::lock_guard lock(ErrorMutex);
            if (Error.empty()) Error = text;
        }
        Failed = true;
        for (auto* q : Queues) q->Abort();
    }
    bool ShouldEnd() const { return StopFlag || Failed; }

    // Writes one packet; the muxer interleaves the streams.
    void Write(AVPacket* pkt) {
        std::lock_guard lock(MuxMutex);
        if (Failed) throw TAborted{};
        int rc = av_interleaved_write_frame(Out.get(), pkt);
        if (rc < 0) throw MediaError("Writing the output file failed: " + AvErrorText(rc));
        if (Out->pb && Out->pb->error < 0)
            throw MediaError("Writing the output file failed: " + AvErrorText(Out->pb->error));
    }
};

// Sends a frame to an encoder (nullptr flushes) and hands every packet that
// comes out to onPacket(AVPacket*), which may keep or unref it.
template <class F>
void EncodeFrame(AVCodecContext* enc, const AVFrame* frame, F onPacket) {
    int rc = avcodec_send_frame(enc, frame);
    if (rc < 0 && rc != AVERROR_EOF) throw MediaError("The " + std::string(enc->codec->name) + " encoder failed: " + AvErrorText(rc));
    AvPacketPtr pkt = MakePacket();
    for (;;) {
        rc = avcodec_receive_packet(enc, pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) throw MediaError("The " + std::string(enc->codec->name) + " encoder failed: " + AvErrorText(rc));
        onPacket(pkt.get());
        av_packet_unref(pkt.get());
    }
}

// One encoder with its output stream.
struct TEncoderOut {
    AvCodecContextPtr Enc;
    AVStream* Stream = nullptr;
    // > 0: the length (encoder time base) given to packets that come without one.
    int64_t FrameDuration = 0;
    // Lengths (encoder time base) by stamp of frames sent, for packets that
    // come without one where frames last differently; taken as they are used.
    std::map<int64_t, int64_t> Durations;

    // Sends a frame (nullptr flushes) and writes every packet that comes out.
    void Encode(TShared& shared, AVFrame* frame) {
        EncodeFrame(Enc.get(), frame, [&](AVPacket* pkt) {
            if (pkt->duration <= 0 && FrameDuration > 0) pkt->duration = FrameDuration;
            if (auto it = Durations.find(pkt->pts); it != Durations.end()) {
                if (pkt->duration <= 0) pkt->duration = it->second;
                Durations.erase(it);
            }
            av_packet_rescale_ts(pkt, Enc->time_base, Stream->time_base);
            pkt->stream_index = Stream->index;
            shared.Write(pkt);
        });
    }
};

}  // namespace media
