// The render graph's decode and sound for a clip of several joined spans
// (TRenderClip::Ranges): the pictures of each span in turn, one output frame
// per grid slot, and the sound of each span cut on the same frame edges,
// cross-faded over a few milliseconds at each join.
#include "media/RenderGraph.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace media {

namespace {

// Half the cross-fade at a join: the fade runs from this long before the join
// to as long after it, the first span's sound fading out beneath the next's.
constexpr double kHalfFadeSeconds = 0.004;

std::string SpanText(size_t i, const TJoinedSpan& s) {
    return "Segment " + std::to_string(i + 1) + " (frames " + std::to_string(s.First) + " to " +
           std::to_string(s.End - 1) + ")";
}

}  // namespace

// Each span: seek to the key frame before its first frame, then the frame on
// screen at each of its slots by the frame clock's rule, as VideoDecode does
// for one span. A span reaching past the movie's end is refused.
void TRenderGraph::TImpl::VideoDecodeJoined() {
    auto& v = *Video;
    AVFormatContext* fmt = v.In.Format.get();
    const AVStream* st = fmt->streams[v.StreamIndex];
    const double tb = v.Clock.Tick();
    const double rate = av_q2d(v.OutRate);
    const double framePeriod = 1 / av_q2d(v.SrcRate);
    const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : v.Clock.Origin;
    TFrameDecoder& dec = *v.Dec;
    int64_t slot = 0;
    auto emit = [&](const AVFrame* f) {
        AvFramePtr copy(av_frame_clone(f));
        if (!copy) throw std::bad_alloc();
        copy->pts = slot;
        if (!v.Decoded.Push(std::move(copy))) throw TAborted{};
        ++slot;
        v.SlotsDecoded = slot;
    };
    for (size_t i = 0; i < Joined.size(); ++i) {
        const TJoinedSpan& span = Joined[i];
        AvFramePtr first;
        const int64_t target = v.Clock.StampOf(v.Clock.TicksAt(span.Start));
        if (target > startTicks) {
            first = MakeFrame();
            if (!dec.SeekTo(target, startTicks, first.get())) first.reset();
        } else if (i > 0) {
            dec.SeekToStart();
        }
        if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
        if (Shared.ShouldEnd()) throw TAborted{};
        TJumpFollower follow(v.Clock, fmt->iformat->flags & AVFMT_TS_DISCONT);
        if (first && first->pts != AV_NOPTS_VALUE && v.Clock.Jumps())
            follow.Resume(first->pts, v.Clock.List->Pieces[size_t(v.Clock.PieceOf(first->pts, -1))].Shift);
        AvFramePtr current;  // the latest frame, on screen until the next one's time
        double lastTime = -1e300, lastDuration = framePeriod;
        auto slotTime = [&](int64_t n) { return span.Start + double(n - span.FirstSlot) / rate; };
        auto take = [&](AvFramePtr f) {
            double t = f->pts != AV_NOPTS_VALUE ? double(follow.Follow(f->pts)) * tb - v.MovieStart : lastTime + lastDuration;
            if (t <= lastTime) t = lastTime + 1e-9;  // keep decode order for broken stamps
            lastTime = t;
            lastDuration = f->pkt_duration > 0 ? std::min(f->pkt_duration * tb, 1 / kMinFrameRate) : framePeriod;
            while (slot < span.EndSlot && !v.Clock.OnScreenAt(t, slotTime(slot))) emit(current ? current.get() : f.get());
            current = std::move(f);
        };
        if (first) take(std::move(first));
        while (slot < span.EndSlot) {
            if (Shared.ShouldEnd()) throw TAborted{};
            AvFramePtr f = MakeFrame();
            if (!dec.Next(f.get())) break;
            take(std::move(f));
        }
        if (slot < span.EndSlot) {
            // The movie has ended: its last frame stays on screen to its own end.
            const double end = current ? std::max(lastTime + lastDuration, v.DeclaredEnd) : 0.0;
            while (slot < span.EndSlot && current && slotTime(slot) + v.Clock.Tolerance < end) emit(current.get());
            if (slot < span.EndSlot)
                throw MediaError(SpanText(i, span) + " reaches past the end of the movie; choose frames within it.");
        }
    }
    v.DecodeDone = true;
    v.Decoded.Close();
}

// The sound of each span: decoded from a little before it to a little after
// it, resampled to the encoder's rate and layout as float, then joined: at
// each join the span before fades out while the next fades in, centred on the
// join, so the output holds exactly each span's length of sound and no click.
// Where the source has no sound (before its start, after its end, or none at
// all) it is silence.
void TRenderGraph::TImpl::AudioWorkJoined() {
    auto& a = *Audio;
    AVCodecContext* enc = a.Out.Enc.get();
    const int outRate = enc->sample_rate;
    const int channels = enc->ch_layout.nb_channels;
    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    const int64_t padding = std::max(0, enc->initial_padding);
    const int64_t priming = a.Priming == TAudioPath::TPriming::Played ? padding : 0;
    const int64_t stampShift = a.Priming == TAudioPath::TPriming::EditList ? 0 : padding;

    // Where each span's sound lies in the output, in samples: on the
    // picture's frame edges.
    std::vector<int64_t> bounds;
    for (const TJoinedSpan& s : Joined)
        bounds.push_back(Video ? av_rescale_q(s.FirstSlot, av_inv_q(Video->OutRate), AVRational{1, outRate})
                               : std::llround(s.OutStart * outRate));
    bounds.push_back(Video ? av_rescale_q(Joined.back().EndSlot, av_inv_q(Video->OutRate), AVRational{1, outRate})
                           : std::llround(Joined.back().OutEnd * outRate));
    a.TotalSamples = bounds.back();
    int64_t half = std::llround(kHalfFadeSeconds * outRate);
    for (size_t i = 0; i + 1 < bounds.size(); ++i) half = std::min(half, (bounds[i + 1] - bounds[i]) / 2);
    half = std::max<int64_t>(half, 0);

    // Float samples to the encoder's format (same rate and layout).
    SwrContextPtr toEnc;
    {
        SwrContext* raw = nullptr;
        CheckRc(swr_alloc_set_opts2(&raw, &enc->ch_layout, enc->sample_fmt, outRate, &enc->ch_layout, AV_SAMPLE_FMT_FLTP,
                                    outRate, 0, nullptr),
                "Setting up the audio resampler");
        toEnc.reset(raw);
        CheckRc(swr_init(toEnc.get()), "Setting up the audio resampler");
    }
    struct TFifoFree {
        void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
    };
    std::unique_ptr<AVAudioFifo, TFifoFree> fifo(av_audio_fifo_alloc(enc->sample_fmt, channels, frameSize * 4));
    if (!fifo) throw std::bad_alloc();
    int64_t emitted = 0;       // samples handed to the encoder
    int64_t toDrop = priming;  // the encoder's played priming stands in for as much sound

    // Keeps the sound no more than a second ahead of the encoded picture, so
    // that the writer interleaves without piling up packets.
    auto waitForVideo = [&] {
        while (Video && !Video->Done && !Shared.ShouldEnd() &&
               double(emitted) / outRate > Video->SecondsOfSlots(Video->FramesEncoded) + 1.0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    auto encodeFromFifo = [&](bool final) {
        while (emitted < a.TotalSamples) {
            const int avail = av_audio_fifo_size(fifo.get());
            const int n = static_cast<int>(std::min<int64_t>(frameSize, a.TotalSamples - emitted));
            if (avail < n && !final) return;
            waitForVideo();
            if (Shared.ShouldEnd()) throw TAborted{};
            AvFramePtr f = MakeFrame();
            f->nb_samples = n;
            f->format = enc->sample_fmt;
            f->sample_rate = outRate;
            CheckRc(av_channel_layout_copy(&f->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(f.get(), 0), "Allocating audio");
            const int got = av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->data), std::min(n, avail));
            // The end of the clip (the priming taken off its start): silence.
            if (got < n) av_samples_set_silence(f->data, got, n - got, channels, enc->sample_fmt);
            f->pts = emitted + stampShift;
            a.Out.Encode(Shared, f.get());
            emitted += n;
            a.SamplesEncoded = emitted;
        }
    };
    using TPlanes = std::vector<std::vector<float>>;
    // Hands count samples of `planes` from `from` on to the encoder.
    auto put = [&](const TPlanes& planes, int64_t from, int64_t count) {
        const int64_t skip = std::min(toDrop, count);
        toDrop -= skip;
        from += skip;
        count -= skip;
        while (count > 0) {
            const int n = static_cast<int>(std::min<int64_t>(count, 1 << 14));
            std::vector<const uint8_t*> in;
            for (const auto& p : planes) in.push_back(reinterpret_cast<const uint8_t*>(p.data() + from));
            AvFramePtr out = MakeFrame();
            out->nb_samples = n + 32;
            out->format = enc->sample_fmt;
            CheckRc(av_channel_layout_copy(&out->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(out.get(), 0), "Allocating audio");
            const int got = swr_convert(toEnc.get(), out->data, n + 32, in.data(), n);
            CheckRc(got, "Converting the audio");
            if (av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out->data), got) < got) throw std::bad_alloc();
            from += n;
            count -= n;
            encodeFromFifo(false);
        }
    };

    // One span's sound, from `half` samples before its start to as long after its end.
    auto gather = [&](const TJoinedSpan& span, int64_t samples) {
        const int64_t want = samples + 2 * half;
        TPlanes planes(size_t(channels), std::vector<float>(size_t(want), 0.0f));
        if (!a.HasSource) return planes;
        AVFormatContext* fmt = a.In.Format.get();
        const AVStream* st = fmt->streams[a.StreamIndex];
        const double tb = av_q2d(st->time_base);
        TFrameDecoder& dec = *a.Dec;
        const double from = span.Start - double(half) / outRate;  // seconds from the movie's first picture
        AvFramePtr landed;
        const double target = a.MovieStart + from - 1.0;
        if (target > a.MovieStart) {
            const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
            landed = MakeFrame();
            if (!dec.SeekTo(static_cast<int64_t>(std::floor(target / tb)), startTicks, landed.get())) landed.reset();
        } else {
            dec.SeekToStart();
        }
        if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
        SwrContextPtr swr;
        int swrRate = 0, swrFormat = -1;
        AVChannelLayout swrLayout{};
        struct TLayoutFree {
            AVChannelLayout& L;
            ~TLayoutFree() { av_channel_layout_uninit(&L); }
        } layoutFree{swrLayout};
        int64_t pos = 0;  // where the next resampled sample goes in `planes`
        bool placed = false;
        AvFramePtr out = MakeFrame();
        auto resample = [&](const AVFrame* f) {
            const int inCount = f ? f->nb_samples : 0;
            const int cap = static_cast<int>(av_rescale_rnd(swr_get_delay(swr.get(), outRate) + inCount, outRate,
                                                            f ? f->sample_rate : outRate, AV_ROUND_UP)) + 64;
            av_frame_unref(out.get());
            out->nb_samples = cap;
            out->format = AV_SAMPLE_FMT_FLTP;
            CheckRc(av_channel_layout_copy(&out->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(out.get(), 0), "Allocating audio");
            const int got = swr_convert(swr.get(), out->data, cap, f ? const_cast<const uint8_t**>(f->extended_data) : nullptr, inCount);
            CheckRc(got, "Resampling the audio");
            for (int k = 0; k < got; ++k, ++pos) {
                if (pos < 0 || pos >= want) continue;
                for (int c = 0; c < channels; ++c) planes[size_t(c)][size_t(pos)] = reinterpret_cast<const float*>(out->data[c])[k];
            }
        };
        AvFramePtr f;
        auto next = [&] {
            if (landed) {
                f = std::move(landed);
                return true;
            }
            f = MakeFrame();
            return dec.Next(f.get());
        };
        while (pos < want && next()) {
            if (Shared.ShouldEnd()) throw TAborted{};
            if (f->nb_samples <= 0 || f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0 || f->format < 0) continue;
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&f->ch_layout, f->ch_layout.nb_channels);
            if (!swr || f->sample_rate != swrRate || f->format != swrFormat || av_channel_layout_compare(&f->ch_layout, &swrLayout) != 0) {
                if (swr) resample(nullptr);
                swr.reset();
                SwrContext* raw = nullptr;
                CheckRc(swr_alloc_set_opts2(&raw, &enc->ch_layout, AV_SAMPLE_FMT_FLTP, outRate, &f->ch_layout,
                                            static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr),
                        "Setting up the audio resampler");
                swr.reset(raw);
                CheckRc(swr_init(swr.get()), "Setting up the audio resampler");
                swrRate = f->sample_rate;
                swrFormat = f->format;
                av_channel_layout_uninit(&swrLayout);
                CheckRc(av_channel_layout_copy(&swrLayout, &f->ch_layout), "Audio layout");
            }
            if (!placed) {
                // Where this first frame sits against the span's start.
                placed = true;
                const double t = f->pts != AV_NOPTS_VALUE ? f->pts * tb - a.MovieStart : 0;
                pos = std::llround((t - from) * outRate);
            }
            resample(f.get());
        }
        if (swr && pos < want) resample(nullptr);
        return planes;
    };

    TPlanes carry;  // the span before: its last `half` samples and `half` after it
    for (size_t i = 0; i < Joined.size(); ++i) {
        const int64_t n = bounds[i + 1] - bounds[i];
        TPlanes planes = gather(Joined[i], n);
        if (i == 0) {
            put(planes, half, n - half);
        } else {
            // The cross-fade around the join, then the span's own sound.
            TPlanes mix(size_t(channels), std::vector<float>(size_t(2 * half)));
            for (int64_t k = 0; k < 2 * half; ++k) {
                const float w = float((double(k) + 0.5) / double(2 * half));
                for (size_t c = 0; c < size_t(channels); ++c)
                    mix[c][size_t(k)] = carry[c][size_t(k)] * (1 - w) + planes[c][size_t(k)] * w;
            }
            put(mix, 0, 2 * half);
            put(planes, 2 * half, n - half - half);
        }
        if (i + 1 == Joined.size()) {
            put(planes, n, half);
        } else {
            carry.assign(size_t(channels), {});
            for (size_t c = 0; c < size_t(channels); ++c)
                carry[c].assign(planes[c].begin() + n, planes[c].begin() + n + 2 * half);
        }
    }
    encodeFromFifo(true);
    if (Shared.Failed) throw TAborted{};
    a.Out.Encode(Shared, nullptr);
}

}  // namespace media
