#include "media/Waveform.h"

#include "media/FrameDecoder.h"
#include "media/InputFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace media {

std::vector<TWaveColumn> WaveColumns(const TWaveform& wave, double fromSeconds, double toSeconds, int columns) {
    std::vector<TWaveColumn> out(std::max(0, columns));
    if (columns <= 0 || wave.Empty() || !(toSeconds > fromSeconds)) return out;
    const double perColumn = (toSeconds - fromSeconds) / columns;
    const auto n = int64_t(wave.Peak.size());
    for (int c = 0; c < columns; ++c) {
        const double t0 = fromSeconds + c * perColumn, t1 = t0 + perColumn;
        int64_t b0 = int64_t(std::floor(t0 / wave.BucketSeconds));
        int64_t b1 = std::max(b0 + 1, int64_t(std::ceil(t1 / wave.BucketSeconds)));
        b0 = std::max<int64_t>(0, b0);
        b1 = std::min(n, b1);
        if (b0 >= b1) continue;
        float peak = 0;
        double squares = 0;
        for (int64_t b = b0; b < b1; ++b) {
            peak = std::max(peak, wave.Peak[size_t(b)]);
            squares += double(wave.Rms[size_t(b)]) * wave.Rms[size_t(b)];
        }
        out[size_t(c)] = {peak, float(std::sqrt(squares / double(b1 - b0)))};
    }
    return out;
}

namespace {

// Gathers samples into buckets.
struct TBuckets {
    TWaveform& Wave;
    double Rate;
    bool Started = false;
    int64_t Bucket = 0;        // the bucket being filled (negative: before the first picture, not kept)
    int64_t Left = 0;          // samples it still takes
    float Peak = 0;
    double Squares = 0;
    int64_t Count = 0;

    void Close() {
        if (!Started || Bucket < 0 || Count == 0) {
            Peak = 0;
            Squares = 0;
            Count = 0;
            return;
        }
        if (int64_t(Wave.Peak.size()) <= Bucket) {
            Wave.Peak.resize(size_t(Bucket) + 1, 0.f);
            Wave.Rms.resize(size_t(Bucket) + 1, 0.f);
        }
        Wave.Peak[size_t(Bucket)] = std::max(Wave.Peak[size_t(Bucket)], Peak);
        Wave.Rms[size_t(Bucket)] = float(std::sqrt(Squares / double(Count)));
        Peak = 0;
        Squares = 0;
        Count = 0;
    }
    // Samples from `seconds` (from the origin) on, planar floats of `channels` channels.
    void Add(double seconds, const float* const* planes, int channels, int samples) {
        const double perBucket = Wave.BucketSeconds * Rate;
        const int64_t first = int64_t(std::floor(seconds / Wave.BucketSeconds));
        // A new bucket where the stamps say so (the start, a gap in the sound); else carry on counting.
        if (!Started || first > Bucket + 1 || first < Bucket - 1) {
            Close();
            Started = true;
            Bucket = first;
            const double into = seconds * Rate - double(first) * perBucket;
            Left = std::max<int64_t>(1, int64_t(std::llround(perBucket - into)));
        }
        for (int i = 0; i < samples; ++i) {
            if (Left <= 0) {
                Close();
                ++Bucket;
                Left = std::max<int64_t>(1, int64_t(std::llround(double(Bucket + 1) * perBucket) -
                                                    std::llround(double(Bucket) * perBucket)));
            }
            for (int c = 0; c < channels; ++c) {
                const float v = planes[c][i];
                Peak = std::max(Peak, std::min(1.f, std::abs(v)));
                Squares += double(v) * v;
            }
            Count += channels;
            --Left;
        }
    }
};

}  // namespace

TWaveformResult ReadWaveform(const std::string& path, TWaveform& wave,
                             const std::function<void(std::size_t)>& grown, const std::atomic<bool>* cancel) {
    TWaveformResult result;
    wave.Peak.clear();
    wave.Rms.clear();
    try {
        TInputFile in = TInputFile::Open(path);
        const int stream = in.FirstAudioStream();
        if (stream < 0) return result;
        AVStream* st = in.Format->streams[stream];
        if (st->codecpar->sample_rate <= 0 || st->codecpar->ch_layout.nb_channels <= 0) return result;
        result.HasSound = true;
        const int video = in.FirstVideoStream();
        const double originSeconds = in.StreamStartSeconds(video >= 0 ? video : stream);
        for (unsigned i = 0; i < in.Format->nb_streams; ++i)
            if (int(i) != stream) in.Format->streams[i]->discard = AVDISCARD_ALL;
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        TFrameDecoder dec(in, stream, 1, start, 1);
        dec.Cancel = cancel;
        AvFramePtr frame = MakeFrame();
        AvFramePtr planar = MakeFrame();
        SwrContextPtr swr;
        int swrFormat = -1, swrRate = 0;
        struct TLayout {
            AVChannelLayout Layout{};
            ~TLayout() { av_channel_layout_uninit(&Layout); }
        } swrKept;
        AVChannelLayout& swrLayout = swrKept.Layout;
        TBuckets buckets{wave, double(st->codecpar->sample_rate)};
        auto lastGrown = std::chrono::steady_clock::now();
        while (dec.Next(frame.get())) {
            const int channels = frame->ch_layout.nb_channels;
            if (frame->nb_samples <= 0 || channels <= 0 || frame->sample_rate <= 0) continue;
            if (!swr || swrFormat != frame->format || swrRate != frame->sample_rate ||
                av_channel_layout_compare(&swrLayout, &frame->ch_layout) != 0) {
                SwrContext* s = nullptr;
                CheckRc(swr_alloc_set_opts2(&s, &frame->ch_layout, AV_SAMPLE_FMT_FLTP, frame->sample_rate,
                                            &frame->ch_layout, AVSampleFormat(frame->format), frame->sample_rate, 0,
                                            nullptr),
                        "setting up the sound conversion");
                swr.reset(s);
                CheckRc(swr_init(swr.get()), "setting up the sound conversion");
                swrFormat = frame->format;
                swrRate = frame->sample_rate;
                av_channel_layout_uninit(&swrLayout);
                av_channel_layout_copy(&swrLayout, &frame->ch_layout);
                buckets.Rate = frame->sample_rate;
            }
            av_frame_unref(planar.get());
            planar->format = AV_SAMPLE_FMT_FLTP;
            planar->sample_rate = frame->sample_rate;
            planar->nb_samples = frame->nb_samples;
            av_channel_layout_copy(&planar->ch_layout, &frame->ch_layout);
            CheckRc(av_frame_get_buffer(planar.get(), 0), "making room for sound");
            const int got = swr_convert(swr.get(), planar->extended_data, planar->nb_samples,
                                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            if (got <= 0) continue;
            const double seconds = double(frame->pts) * av_q2d(st->time_base) - originSeconds;
            buckets.Add(seconds, reinterpret_cast<const float* const*>(planar->extended_data), channels, got);
            if (grown && std::chrono::steady_clock::now() - lastGrown > std::chrono::milliseconds(250)) {
                lastGrown = std::chrono::steady_clock::now();
                // The bucket being filled is not final yet.
                grown(buckets.Bucket > 0 ? std::min(wave.Peak.size(), size_t(buckets.Bucket)) : 0);
            }
        }
        result.PacketsRead = dec.PacketsRead();
        if (dec.Cancelled()) {
            result.Cancelled = true;
            wave.Peak.clear();
            wave.Rms.clear();
            return result;
        }
        buckets.Close();
        if (grown) grown(wave.Peak.size());
    } catch (const MediaError& e) {
        result.Error = e.what();
    }
    return result;
}

}  // namespace media
