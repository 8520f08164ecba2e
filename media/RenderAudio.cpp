// The audio path of the render graph: decode, resample to the writer's
// format, trim to the clip, pad with silence, encode.
#include "media/RenderGraph.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
}

namespace media {

namespace {

struct AvAudioFifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using AvAudioFifoPtr = std::unique_ptr<AVAudioFifo, AvAudioFifoDeleter>;

// The sample format of decoded audio frames, to notice when it changes.
struct TAudioInput {
    AVChannelLayout Layout{};
    int Rate = 0;
    int Format = -1;

    TAudioInput() = default;
    TAudioInput(const TAudioInput&) = delete;
    TAudioInput& operator=(const TAudioInput&) = delete;
    ~TAudioInput() { av_channel_layout_uninit(&Layout); }

    bool Matches(const AVFrame* f) const {
        return f->sample_rate == Rate && f->format == Format && av_channel_layout_compare(&f->ch_layout, &Layout) == 0;
    }
    void Set(const AVFrame* f) {
        av_channel_layout_uninit(&Layout);
        CheckRc(av_channel_layout_copy(&Layout, &f->ch_layout), "Audio layout");
        Rate = f->sample_rate;
        Format = f->format;
    }
};

// A count from a double, saturated instead of overflowing for absurd times.
int64_t Saturated(double v) {
    if (!(v > -9e18)) return std::numeric_limits<int64_t>::min() / 2;
    if (!(v < 9e18)) return std::numeric_limits<int64_t>::max() / 2;
    return static_cast<int64_t>(v);
}
// Seconds to stream ticks (rounded down).
int64_t SecondsToTicks(double seconds, double tb) { return Saturated(std::floor(seconds / tb)); }

}  // namespace

void TRenderGraph::TImpl::AudioWork() {
    auto& a = *Audio;
    AVCodecContext* enc = a.Out.Enc.get();
    const int outRate = enc->sample_rate;
    const int channels = enc->ch_layout.nb_channels;
    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    AvAudioFifoPtr fifo(av_audio_fifo_alloc(enc->sample_fmt, channels, frameSize * 4));
    if (!fifo) throw std::bad_alloc();
    int64_t emitted = 0;      // samples handed to the encoder
    int64_t toDrop = 0;       // resampled samples before the clip's start
    // Encoders with priming (wmav2, mp3, ac3) put that many samples of their
    // own in front; decoders in ASF and AVI play them. Stamping the input that
    // much later and leaving out as much source sound keeps the first packet
    // at time 0, level with the picture, and the sound in step with it.
    // WebM's readers skip the priming from the first packet's stamp on: the
    // input is stamped later so that this packet comes at 0 (an earlier one
    // would move every stream of the file later), and no sound is left out.
    // MP4's edit list takes the priming off by itself.
    const int64_t padding = std::max(0, enc->initial_padding);
    const int64_t priming = a.Priming == TAudioPath::TPriming::Played ? padding : 0;
    const int64_t stampShift = a.Priming == TAudioPath::TPriming::EditList ? 0 : padding;

    // Output samples of the first `slots` output frames.
    auto samplesOfSlots = [&](int64_t slots) {
        if (Video->OwnTimes) return int64_t(std::llround(Video->SecondsOfSlots(slots) * outRate));
        return av_rescale_q(slots, av_inv_q(Video->OutRate), AVRational{1, outRate});
    };
    // Waits until the next `n` samples may go out. While the video decoder may
    // still find the movie ending before the clip does, the sound does not
    // run past the picture it has handed on (the clip is then cut where the
    // picture ends); and it keeps no more than a second ahead of the encoded
    // picture, so the muxer interleaves without piling up packets.
    auto waitForVideo = [&](int64_t n) {
        while (Video && !Shared.ShouldEnd()) {
            if (Video->DecodeDone) {
                const int64_t end = std::max(samplesOfSlots(Video->Slots), emitted);
                if (end < a.TotalSamples) a.TotalSamples = end;
            } else if (emitted + n > samplesOfSlots(Video->SlotsDecoded)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (Video->Done) return;
            const double vpos = Video->SecondsOfSlots(Video->FramesEncoded);
            if (double(emitted) / outRate < vpos + 1.0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    auto encodeFromFifo = [&](bool final) {
        while (emitted < a.TotalSamples) {
            int avail = av_audio_fifo_size(fifo.get());
            int n = static_cast<int>(std::min<int64_t>(frameSize, a.TotalSamples - emitted));
            if (avail < n && !final) return;
            waitForVideo(n);
            if (Shared.ShouldEnd()) throw TAborted{};
            if (emitted >= a.TotalSamples) break;
            n = static_cast<int>(std::min<int64_t>(n, a.TotalSamples - emitted));
            if (avail < n) {
                // Pad the clip's end with silence.
                AvFramePtr pad = MakeFrame();
                pad->nb_samples = n - avail;
                pad->format = enc->sample_fmt;
                CheckRc(av_channel_layout_copy(&pad->ch_layout, &enc->ch_layout), "Audio layout");
                CheckRc(av_frame_get_buffer(pad.get(), 0), "Allocating audio");
                av_samples_set_silence(pad->data, 0, pad->nb_samples, channels, enc->sample_fmt);
                av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(pad->data), pad->nb_samples);
            }
            if (emitted + n > std::llround(kMaxClipSeconds * outRate) + frameSize)
                throw MediaError("The clip would last more than 24 hours; a clip can last at most 24 hours.");
            AvFramePtr f = MakeFrame();
            f->nb_samples = n;
            f->format = enc->sample_fmt;
            f->sample_rate = outRate;
            CheckRc(av_channel_layout_copy(&f->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(f.get(), 0), "Allocating audio");
            av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->data), n);
            f->pts = emitted + stampShift;
            a.Out.Encode(Shared, f.get());
            emitted += n;
            a.SamplesEncoded = emitted;
        }
    };
    // Adds resampled samples to the fifo, dropping those before the clip.
    auto addSamples = [&](uint8_t** data, int count) {
        int skip = static_cast<int>(std::min<int64_t>(toDrop, count));
        toDrop -= skip;
        if (count - skip <= 0) return;
        uint8_t* planes[AV_NUM_DATA_POINTERS] = {nullptr};
        const int bps = av_get_bytes_per_sample(enc->sample_fmt);
        const bool planar = av_sample_fmt_is_planar(enc->sample_fmt);
        for (int c = 0; c < (planar ? channels : 1); ++c)
            planes[c] = data[c] + static_cast<ptrdiff_t>(skip) * bps * (planar ? 1 : channels);
        av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planes), count - skip);
    };

    bool first = true;  // no frame of the source decoded yet
    if (a.HasSource) {
        AVFormatContext* fmt = a.In.Format.get();
        const AVStream* st = fmt->streams[a.StreamIndex];
        const double tb = av_q2d(st->time_base);
        TFrameDecoder& dec = *a.Dec;
        AvFramePtr landed;  // the frame a seek landed on, taken first
        if (a.MediaStart > 0) {
            const double target = a.MovieStart + a.MediaStart - 1.0;
            if (target > a.MovieStart) {
                const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
                landed = MakeFrame();
                if (!dec.SeekTo(SecondsToTicks(target, tb), startTicks, landed.get())) landed.reset();
                if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
            }
        }
        auto next = [&](AvFramePtr& f) {
            if (landed) {
                f = std::move(landed);
                return true;
            }
            f = MakeFrame();
            return dec.Next(f.get());
        };
        SwrContextPtr swr;
        TAudioInput swrIn;  // the format swr was set up for
        AvFramePtr out = MakeFrame();
        auto resample = [&](const AVFrame* f) {
            const int inCount = f ? f->nb_samples : 0;
            const int cap = static_cast<int>(av_rescale_rnd(swr_get_delay(swr.get(), outRate) + inCount, outRate,
                                                            f ? f->sample_rate : outRate, AV_ROUND_UP)) + 64;
            av_frame_unref(out.get());
            out->nb_samples = cap;
            out->format = enc->sample_fmt;
            CheckRc(av_channel_layout_copy(&out->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(out.get(), 0), "Allocating audio");
            int got = swr_convert(swr.get(), out->data, cap, f ? const_cast<const uint8_t**>(f->extended_data) : nullptr, inCount);
            CheckRc(got, "Resampling the audio");
            addSamples(out->data, got);
        };
        // A stream may change its layout, rate or sample format part-way (joined
        // recordings): the samples still held for the old format are drained
        // first, then a resampler for the new one carries on at the same place.
        auto setUpResampler = [&](AVFrame* f) {
            if (swr && swrIn.Matches(f)) return;
            if (swr) resample(nullptr);
            swr.reset();
            SwrContext* raw = nullptr;
            CheckRc(swr_alloc_set_opts2(&raw, &enc->ch_layout, enc->sample_fmt, outRate, &f->ch_layout,
                                        static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr),
                    "Setting up the audio resampler");
            swr.reset(raw);
            CheckRc(swr_init(swr.get()), "Setting up the audio resampler");
            swrIn.Set(f);
        };
        AvFramePtr f;
        // Up to the end of the file, or of what a truncated or damaged file holds.
        while (emitted < a.TotalSamples && next(f)) {
            if (Shared.ShouldEnd()) throw TAborted{};
            {
                // A damaged frame that names no channels, rate or format carries no sound.
                if (f->nb_samples <= 0 || f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0 || f->format < 0)
                    continue;
                if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                    av_channel_layout_default(&f->ch_layout, f->ch_layout.nb_channels);
                setUpResampler(f.get());
                if (first) {
                    first = false;
                    // Where this first frame sits against the clip's start.
                    const double t = f->pts != AV_NOPTS_VALUE ? f->pts * tb - a.MovieStart : 0;
                    const int64_t offset = Saturated(std::round((a.MediaStart - t) * outRate));
                    if (offset + priming >= 0) {
                        toDrop = offset + priming;
                    } else {
                        // The source's sound starts after the clip: silence first,
                        // a piece at a time so that a long gap needs no more memory.
                        int64_t gap = -(offset + priming);
                        while (gap > 0 && emitted < a.TotalSamples) {
                            AvFramePtr sil = MakeFrame();
                            sil->nb_samples = static_cast<int>(std::min<int64_t>(gap, 1 << 16));
                            sil->format = enc->sample_fmt;
                            CheckRc(av_channel_layout_copy(&sil->ch_layout, &enc->ch_layout), "Audio layout");
                            CheckRc(av_frame_get_buffer(sil.get(), 0), "Allocating audio");
                            av_samples_set_silence(sil->data, 0, sil->nb_samples, channels, enc->sample_fmt);
                            av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(sil->data), sil->nb_samples);
                            gap -= sil->nb_samples;
                            encodeFromFifo(false);
                        }
                    }
                }
                resample(f.get());
                encodeFromFifo(false);
            }
        }
        if (swr) resample(nullptr);
    }
    if (!Video && emitted < a.TotalSamples) {
        // Sound only: the clip ends where the movie does, when that is sooner:
        // at the end of the source's sound, or the length the file states
        // when that is longer.
        const int64_t soundEnd = emitted + av_audio_fifo_size(fifo.get());
        const int64_t statedEnd = a.DeclaredEnd > 0 ? std::llround((a.DeclaredEnd - a.MediaStart) * outRate) : 0;
        const int64_t end = std::max(soundEnd, statedEnd);
        if ((a.HasSource || a.DeclaredEnd > 0) && end < a.TotalSamples) {
            if (end <= 0) {
                if (first && a.DeclaredEnd <= 0) throw MediaError("No sound of the movie could be decoded.");
                throw MediaError("The clip starts after the end of the movie" +
                                 (a.DeclaredEnd > 0 ? ", which is " + ShortNumber(a.DeclaredEnd) + " seconds long."
                                                    : std::string(".")));
            }
            a.TotalSamples = end;
            Length = std::min<double>(Length, double(end) / outRate);
        }
    }
    encodeFromFifo(true);
    if (Shared.Failed) throw TAborted{};
    a.Out.Encode(Shared, nullptr);
}

}  // namespace media
