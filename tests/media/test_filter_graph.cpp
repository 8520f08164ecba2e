// The filter graph wrapper: frames in, filtered frames out, errors as sentences.
#include "media/AvPtr.h"
#include "media/FilterGraph.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/samplefmt.h>
}

namespace {

using media::TFilterGraph;

media::AvFramePtr SoundFrame(int samples, int64_t pts) {
    media::AvFramePtr f = media::MakeFrame();
    f->format = AV_SAMPLE_FMT_FLTP;
    f->sample_rate = 48000;
    f->nb_samples = samples;
    f->pts = pts;
    av_channel_layout_default(&f->ch_layout, 2);
    if (av_frame_get_buffer(f.get(), 0) < 0) throw std::bad_alloc();
    for (int ch = 0; ch < 2; ++ch) {
        auto* data = reinterpret_cast<float*>(f->data[ch]);
        for (int i = 0; i < samples; ++i) data[i] = ((pts + i) % 100) / 100.0f - 0.5f;
    }
    return f;
}

TFilterGraph StereoGraph(const std::string& chain) {
    media::TAudioFilterInput in;
    in.SampleRate = 48000;
    in.Format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&in.Layout, 2);
    return TFilterGraph::Audio(in, chain);
}

// Pushes one second of sound through the chain and counts the samples out.
int64_t SamplesThrough(TFilterGraph& g, int frameSize = 0) {
    if (frameSize) g.SetAudioFrameSize(frameSize);
    int64_t out = 0;
    media::AvFramePtr got = media::MakeFrame();
    auto drain = [&] {
        for (;;) {
            TFilterGraph::TPull r = g.Pull(got.get());
            if (r != TFilterGraph::TPull::Frame) return r;
            if (frameSize) {
                EXPECT_LE(got->nb_samples, frameSize);
            }
            out += got->nb_samples;
        }
    };
    for (int i = 0; i < 48; ++i) {
        g.Push(SoundFrame(1000, i * 1000LL).get());
        EXPECT_EQ(drain(), TFilterGraph::TPull::Again);
    }
    g.Finish();
    EXPECT_EQ(drain(), TFilterGraph::TPull::End);
    return out;
}

}  // namespace

TEST(FilterGraph, TempoChangesTheLengthOfTheSound) {
    struct TCase {
        const char* Chain;
        double Ratio;
    } cases[] = {{"", 1.0}, {"atempo=2.0", 0.5}, {"atempo=2.0,atempo=2.0", 0.25}};
    for (const TCase& c : cases) {
        TFilterGraph g = StereoGraph(c.Chain);
        const int64_t out = SamplesThrough(g);
        EXPECT_NEAR(double(out), 48000 * c.Ratio, 48000 * 0.02) << c.Chain;
    }
}

TEST(FilterGraph, FixedFrameSizeForEncoders) {
    TFilterGraph g = StereoGraph("aformat=sample_fmts=fltp");
    EXPECT_EQ(SamplesThrough(g, 1024), 48000);
}

TEST(FilterGraph, VideoChainScalesAndKeepsTimes) {
    media::TVideoFilterInput in;
    in.Width = 64;
    in.Height = 48;
    in.Format = AV_PIX_FMT_YUV420P;
    in.TimeBase = {1, 25};
    TFilterGraph g = TFilterGraph::Video(in, "scale=32:24,format=rgb24");
    media::AvFramePtr got = media::MakeFrame();
    for (int i = 0; i < 3; ++i) {
        media::AvFramePtr f = media::MakeFrame();
        f->format = in.Format;
        f->width = in.Width;
        f->height = in.Height;
        f->pts = i;
        ASSERT_GE(av_frame_get_buffer(f.get(), 0), 0);
        ASSERT_GE(av_frame_make_writable(f.get()), 0);
        for (int p = 0; p < 3; ++p) {
            const int h = p ? in.Height / 2 : in.Height;
            for (int y = 0; y < h; ++y) memset(f->data[p] + y * f->linesize[p], p ? 128 : 200, f->linesize[p]);
        }
        g.Push(f.get());
        ASSERT_EQ(g.Pull(got.get()), TFilterGraph::TPull::Frame);
        EXPECT_EQ(got->width, 32);
        EXPECT_EQ(got->height, 24);
        EXPECT_EQ(got->format, AV_PIX_FMT_RGB24);
        EXPECT_EQ(got->pts, i);
    }
    EXPECT_EQ(g.OutputWidth(), 32);
    g.Finish();
    EXPECT_EQ(g.Pull(got.get()), TFilterGraph::TPull::End);
}

TEST(FilterGraph, ABadChainIsASentence) {
    try {
        StereoGraph("atempo=nonsense");
        FAIL() << "a bad chain was accepted";
    } catch (const media::MediaError& e) {
        EXPECT_NE(std::string(e.what()).find("atempo=nonsense"), std::string::npos) << e.what();
    }
    EXPECT_THROW(StereoGraph("nosuchfilter"), media::MediaError);
}
