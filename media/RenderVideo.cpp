// The video path of the render graph: decode, scale, encode (alone or in
// segments encoded side by side).
#include "media/RenderGraph.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace media {

namespace {

// How far the stated length of a movie may reach past the end of its last
// picture before the difference counts as pictures missing: containers round
// their lengths, and the sound may run on a little after the picture.
constexpr double kStatedEndSlack = 1.0;  // seconds

// Refuses a job whose source changed since `before` was taken: what was read
// no longer belongs to one movie. `unread` names the frames that could not be
// read ("" when all were).
void CheckSourceUnchanged(const char* path, const TSourceState& before, const std::string& unread) {
    const TSourceState now = TSourceState::Of(path);
    if (now.SameAs(before)) return;
    std::string text = "The movie " + Quoted(path ? path : "") + " changed while the clip was being made";
    if (now.Known && before.Known && now.Size != before.Size)
        text += " (it has " + std::to_string(now.Size) + " bytes now, " + std::to_string(before.Size) + " before)";
    text += "; the clip would not show it as it was";
    text += unread.empty() ? "." : ": " + unread + " could not be read.";
    throw MediaError(text);
}

// "frames 12 to 40" of a clip, by the source's frame numbers.
std::string FramesText(int64_t first, int64_t last) {
    return first == last ? "frame " + std::to_string(first)
                         : "frames " + std::to_string(first) + " to " + std::to_string(last);
}

// A fresh, open encoder with the settings of an open one (for segments).
AvCodecContextPtr CloneVideoEncoder(const AVCodecContext* t) {
    AvCodecContextPtr ctx(avcodec_alloc_context3(t->codec));
    if (!ctx) throw std::bad_alloc();
    AVCodecContext* c = ctx.get();
    c->width = t->width;
    c->height = t->height;
    c->pix_fmt = t->pix_fmt;
    c->time_base = t->time_base;
    c->framerate = t->framerate;
    c->sample_aspect_ratio = t->sample_aspect_ratio;
    c->flags = t->flags;
    c->flags2 = t->flags2;
    c->gop_size = t->gop_size;
    c->keyint_min = t->keyint_min;
    c->max_b_frames = t->max_b_frames;
    c->bit_rate = t->bit_rate;
    c->rc_buffer_size = t->rc_buffer_size;
    c->rc_max_rate = t->rc_max_rate;
    c->rc_min_rate = t->rc_min_rate;
    c->global_quality = t->global_quality;
    c->qmin = t->qmin;
    c->qmax = t->qmax;
    c->color_range = t->color_range;
    c->colorspace = t->colorspace;
    c->color_primaries = t->color_primaries;
    c->color_trc = t->color_trc;
    c->thread_count = 1;
    if (t->codec->priv_class && t->priv_data && c->priv_data) CheckRc(av_opt_copy(c->priv_data, t->priv_data), "Setting up the video encoder");
    int rc = avcodec_open2(c, t->codec, nullptr);
    if (rc < 0) throw MediaError("The " + std::string(t->codec->name) + " encoder failed: " + AvErrorText(rc));
    return ctx;
}

}  // namespace


// The frame on screen at time t is the one the stream's frame clock puts
// there (the last frame stamped not after t, within the clock's tolerance),
// as in the preview; frames come out of the one decode path.
void TRenderGraph::TImpl::VideoDecode() {
    auto& v = *Video;
    AVFormatContext* fmt = v.In.Format.get();
    const double tb = v.Clock.Tick();
    const double rate = av_q2d(v.OutRate);
    TFrameDecoder& dec = *v.Dec;
    AvFramePtr first;  // the picture a seek landed on, taken first

    if (v.MediaStart > 0) {
        // Land on a key frame at or before the frame on screen at the clip's start.
        const AVStream* st = fmt->streams[v.StreamIndex];
        const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : v.Clock.Origin;
        const int64_t target = v.Clock.StampOf(v.Clock.TicksAt(v.MediaStart));
        if (target > startTicks) {
            first = MakeFrame();
            if (!dec.SeekTo(target, startTicks, first.get())) first.reset();
            if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
        }
    }

    const TSourceState& sourceBefore = v.SourceBefore;
    int64_t slot = 0;
    AvFramePtr current;  // the latest frame that is on screen at the next slot's time
    double lastTime = -1e300;
    const double framePeriod = 1 / av_q2d(v.SrcRate);
    double lastDuration = framePeriod;  // how long the latest frame stays on screen
    // The longest step between two pictures so far. A picture stays on screen
    // no longer than that (or one frame), or up to the length the file states
    // (a still picture lasting to the end), whatever its packet says: a
    // damaged duration can not stretch the last frame over minutes.
    double longestStep = framePeriod;
    // Clock jumps are removed by the frame clock's rule: the pictures after
    // one follow on from the picture before it (media/FrameClock.h), as in
    // the preview. A clock whose jumps were closed up states a length that
    // means nothing.
    TJumpFollower follow(v.Clock, fmt->iformat->flags & AVFMT_TS_DISCONT);
    if (first && first->pts != AV_NOPTS_VALUE && v.Clock.Jumps())
        follow.Resume(first->pts, v.Clock.List->Pieces[size_t(v.Clock.PieceOf(first->pts, -1))].Shift);
    bool closedUp = v.Clock.Jumps();
    auto slotTime = [&](int64_t n) { return v.MediaStart + double(n) / rate; };
    const int64_t maxSlots = std::llround(kMaxClipSeconds * rate) + 1;
    auto emit = [&](const AVFrame* f) {
        // The movie's stamps run on past what any clip may last.
        if (slot >= maxSlots) throw MediaError("The clip would last more than 24 hours; a clip can last at most 24 hours.");
        AvFramePtr copy(av_frame_clone(f));
        if (!copy) throw std::bad_alloc();
        copy->pts = slot;
        if (!v.Decoded.Push(std::move(copy))) throw TAborted{};
        ++slot;
        v.SlotsDecoded = slot;
    };
    auto take = [&](AvFramePtr f) {
        // The decoder stamps every picture (one without a stamp comes where the one before it ends).
        const bool stamped = f->pts != AV_NOPTS_VALUE;
        double t = stamped ? double(follow.Follow(f->pts)) * tb - v.MovieStart : lastTime + lastDuration;
        closedUp = closedUp || follow.Jumped();
        if (t <= lastTime) t = lastTime + 1e-9;  // keep decode order for broken stamps
        if (lastTime > -1e299) longestStep = std::max(longestStep, t - lastTime);
        lastTime = t;
        const double cap = std::min(std::max(longestStep, v.DeclaredEnd - t), 1 / kMinFrameRate);
        lastDuration = std::min(f->pkt_duration > 0 ? f->pkt_duration * tb : lastDuration, cap);
        while (slot < v.Slots && !v.Clock.OnScreenAt(t, slotTime(slot))) emit(current ? current.get() : f.get());
        current = std::move(f);
    };

    if (v.OwnTimes) {
        // Every picture from the clip's first frame on, once, at its own time.
        int64_t lastPts = -1;
        auto own = [&](AvFramePtr f) {
            if (f->pts == AV_NOPTS_VALUE) return;
            const int64_t pts = follow.Follow(f->pts) - v.StartTicks;
            if (pts < 0 || slot >= v.Slots) return;
            f->pts = std::max(pts, lastPts + 1);
            lastPts = f->pts;
            if (!v.Decoded.Push(std::move(f))) throw TAborted{};
            ++slot;
            v.SlotsDecoded = slot;
        };
        if (first) own(std::move(first));
        while (slot < v.Slots) {
            if (Shared.ShouldEnd()) throw TAborted{};
            AvFramePtr f = MakeFrame();
            if (!dec.Next(f.get())) break;
            own(std::move(f));
        }
        CheckSourceUnchanged(fmt->url, sourceBefore,
                             slot < v.Slots ? FramesText(v.FirstFrame + slot, v.FirstFrame + v.Slots - 1) : "");
        if (slot == 0) throw MediaError("No picture of the movie could be decoded in the clip.");
        if (slot < v.Slots) {
            v.Slots = slot;
            Length = std::min<double>(Length, v.SecondsOfSlots(slot));
        }
        v.DecodeDone = true;
        v.Decoded.Close();
        return;
    }

    if (first) take(std::move(first));
    // The end of the file, or a truncated or damaged file: what was read is all there is.
    while (slot < v.Slots) {
        if (Shared.ShouldEnd()) throw TAborted{};
        AvFramePtr f = MakeFrame();
        if (!dec.Next(f.get())) break;
        take(std::move(f));
    }
    if (slot < v.Slots) {
        // The source has ended. Its last frame stays on screen to the clip's
        // end, but not past the movie's end: where that frame ends, or the
        // length the file states when that is longer. A clip that reaches
        // beyond the movie is cut there.
        const double picturesEnd = current ? lastTime + lastDuration : 0.0;
        const int64_t firstFrame = std::llround(v.MediaStart * rate);
        // A source cut short or written over while it was read.
        CheckSourceUnchanged(fmt->url, sourceBefore,
                             FramesText(firstFrame + slot, firstFrame + v.Slots - 1));
        // Pictures that end well before the length the file states (by more
        // than the slack and than ten steps between its pictures), where the
        // clip wants them, are missing (a damaged or cut-short file): the
        // last picture is not stretched over them. A clock whose jumps were
        // closed up states a length that means nothing.
        const double missing = v.DeclaredEnd - picturesEnd;
        if (current && !closedUp && missing > kStatedEndSlack && missing > 10 * longestStep &&
            slotTime(slot) + v.Clock.Tolerance < v.DeclaredEnd) {
            const int64_t firstMissing = std::max<int64_t>(firstFrame + slot, std::llround(picturesEnd * rate));
            const int64_t lastStated = std::min<int64_t>(firstFrame + v.Slots, std::llround(v.DeclaredEnd * rate)) - 1;
            throw MediaError("The movie's pictures end at " + ShortNumber(picturesEnd) + " seconds, but the file says it lasts " +
                             ShortNumber(v.DeclaredEnd) + " seconds: " + FramesText(firstMissing, std::max(firstMissing, lastStated)) +
                             " could not be read. The file is damaged or cut short; choose a range that ends by frame " +
                             std::to_string(firstMissing) + ".");
        }
        const double movieEnd = closedUp ? picturesEnd : std::max(picturesEnd, v.DeclaredEnd);
        while (slot < v.Slots && current && slotTime(slot) + v.Clock.Tolerance < movieEnd) emit(current.get());
        if (slot == 0) {
            if (!current) throw MediaError("No picture of the movie could be decoded.");
            throw MediaError("The clip starts after the end of the movie, which is " + ShortNumber(movieEnd) +
                             " seconds long.");
        }
        if (slot < v.Slots) {
            v.Slots = slot;
            Length = std::min<double>(Length, double(slot) / rate);
        }
    } else {
        CheckSourceUnchanged(fmt->url, sourceBefore, "");
    }
    v.DecodeDone = true;
    v.Decoded.Close();
}

void TRenderGraph::TImpl::VideoScale() {
    auto& v = *Video;
    TScaler scaler;
    AvFramePtr in;
    while (v.Decoded.Pop(in)) {
        AvFramePtr out =
            scaler.Scale(in.get(), v.OutWidth, v.OutHeight, v.OutFormat, v.OutFullRange, v.OutMatrix, v.Shape);
        out->pts = in->pts;
        in.reset();
        if (!v.Scaled.Push(std::move(out))) throw TAborted{};
    }
    if (Shared.ShouldEnd()) throw TAborted{};
    v.Scaled.Close();
}

void TRenderGraph::TImpl::VideoEncode() {
    auto& v = *Video;
    if (!v.Segments.empty()) {
        VideoEncodeSegments();
        return;
    }
    if (v.PaletteGif) {
        VideoEncodeGif();
        return;
    }
    AvFramePtr f;
    while (v.Scaled.Pop(f)) {
        f->pict_type = AV_PICTURE_TYPE_NONE;
        // Fixed-quantiser encoders take the quantiser from each frame.
        if (v.Out.Enc->flags & AV_CODEC_FLAG_QSCALE) f->quality = v.Out.Enc->global_quality;
        if (v.OwnTimes) v.Out.Durations[f->pts] = v.OwnDuration(f->pts);
        v.Out.Encode(Shared, f.get());
        ++v.FramesEncoded;
    }
    if (Shared.Failed) throw TAborted{};
    v.Out.Encode(Shared, nullptr);
    v.Done = true;
}

// A single-threaded encoder on several cores: consecutive runs of frames
// (segments) go round-robin to one worker per core; each segment is encoded by
// an encoder of its own (so it starts with a key frame) and written whole, in
// segment order, once every earlier segment is written. Progress counts only
// written frames. On a stop the file ends after the last segment that follows
// on without a gap (a part-way segment is written, later ones are not).
void TRenderGraph::TImpl::VideoEncodeSegments() {
    auto& v = *Video;
    const int workers = static_cast<int>(v.Segments.size());
    std::mutex turnMutex;
    std::condition_variable turnCv;
    int64_t turn = 0;         // the next segment to write
    int64_t dispatched = 0;   // segments that were given at least one frame
    bool truncated = false;   // a segment ended part-way: nothing after it is written

    auto work = [&](int w) {
        TFrameQueue& queue = *v.Segments[static_cast<size_t>(w)];
        const AVCodecContext* tmpl = v.Out.Enc.get();
        for (int64_t seg = w;; seg += workers) {
            AvCodecContextPtr enc;
            std::vector<AvPacketPtr> packets;
            int64_t frames = 0;
            bool whole = false;  // the segment's end mark came
            auto drain = [&] {
                for (;;) {
                    AvPacketPtr pkt = MakePacket();
                    int rc = avcodec_receive_packet(enc.get(), pkt.get());
                    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
                    if (rc < 0) throw MediaError("The " + std::string(tmpl->codec->name) + " encoder failed: " + AvErrorText(rc));
                    packets.push_back(std::move(pkt));
                }
            };
            AvFramePtr f;
            while (queue.Pop(f)) {
                if (!f) {
                    whole = true;
                    break;
                }
                if (!enc) enc = CloneVideoEncoder(tmpl);
                f->pict_type = frames == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
                if (tmpl->flags & AV_CODEC_FLAG_QSCALE) f->quality = tmpl->global_quality;
                int rc = avcodec_send_frame(enc.get(), f.get());
                if (rc < 0) throw MediaError("The " + std::string(tmpl->codec->name) + " encoder failed: " + AvErrorText(rc));
                f.reset();
                ++frames;
                ++v.FramesWorked;
                drain();
            }
            if (frames == 0 && !whole) {
                // No frame of this segment: the end of the clip, or a stop.
                std::lock_guard lock(turnMutex);
                if (seg >= dispatched) return;
            }
            if (enc) {
                int rc = avcodec_send_frame(enc.get(), nullptr);
                if (rc < 0 && rc != AVERROR_EOF)
                    throw MediaError("The " + std::string(tmpl->codec->name) + " encoder failed: " + AvErrorText(rc));
                drain();
                enc.reset();
            }
            std::unique_lock lock(turnMutex);
            while (turn != seg && !Shared.Failed) turnCv.wait_for(lock, std::chrono::milliseconds(20));
            if (Shared.Failed) throw TAborted{};
            if (!truncated) {
                for (auto& pkt : packets) {
                    av_packet_rescale_ts(pkt.get(), tmpl->time_base, v.Out.Stream->time_base);
                    pkt->stream_index = v.Out.Stream->index;
                    Shared.Write(pkt.get());
                }
                v.FramesEncoded += frames;
                if (!whole) truncated = true;
            }
            ++turn;
            turnCv.notify_all();
            if (!whole) return;
        }
    };

    auto abortAll = [&] {
        for (auto& q : v.Segments) q->Abort();
    };
    std::atomic<bool> workerFailed{false};
    std::vector<std::thread> threads;
    struct TJoin {
        std::vector<std::thread>& T;
        ~TJoin() {
            for (auto& t : T)
                if (t.joinable()) t.join();
        }
    } join{threads};
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            try {
                work(w);
            } catch (const TAborted&) {
                workerFailed = true;
            } catch (const std::exception& e) {
                workerFailed = true;
                Shared.Fail(e.what());
            }
            if (workerFailed) abortAll();
        });
    }

    // Hand the frames out: v.SegmentFrames to a worker, then on to the next.
    try {
        AvFramePtr f;
        int64_t inSegment = 0, seg = 0;
        while (v.Scaled.Pop(f)) {
            TFrameQueue& q = *v.Segments[static_cast<size_t>(seg % workers)];
            if (inSegment == 0) {
                std::lock_guard lock(turnMutex);
                dispatched = seg + 1;
            }
            if (!q.Push(std::move(f))) throw TAborted{};
            if (++inSegment == v.SegmentFrames) {
                if (!q.Push(AvFramePtr())) throw TAborted{};
                inSegment = 0;
                ++seg;
            }
        }
        if (!Shared.ShouldEnd() && inSegment > 0) {
            if (!v.Segments[static_cast<size_t>(seg % workers)]->Push(AvFramePtr())) throw TAborted{};
        }
        if (Shared.ShouldEnd()) {
            // A stop: the workers write what follows on without a gap.
            abortAll();
        } else {
            for (auto& q : v.Segments) q->Close();
        }
    } catch (...) {
        abortAll();
        throw;
    }
    for (auto& t : threads) t.join();
    if (Shared.Failed) throw TAborted{};
    v.Done = true;
}

}  // namespace media
