// The preview and the output show the same picture for the same frame: the
// reader's frame N at the movie's own size is the picture of output frame
// N - RangeStart of a clip rendered with a lossless compressor at that size.
// The output is read back with libavformat/libavcodec and turned into RGB by
// the engine's own scaler, as the preview does with the source.
#include "RenderTestUtil.h"

#include "convert/RenderClip.h"
#include "media/Compressors.h"
#include "media/MovieReader.h"
#include "media/Scaler.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>

namespace {

namespace fs = std::filesystem;
using rendertest::TTestHost;

using TRgb = std::vector<uint8_t>;  // tightly packed, top-down RGB rows

constexpr double kSame = std::numeric_limits<double>::infinity();

// Peak signal-to-noise ratio in dB of two pictures of the same size
// (infinity when they are equal).
double Psnr(const TRgb& a, const TRgb& b) {
    if (a.size() != b.size() || a.empty()) return -1;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return kSame;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

std::string Db(double v) {
    if (std::isinf(v)) return "identical";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f dB", v);
    return buf;
}

// What the preview shows: the reader's pictures 0 .. count-1 (fewer when the
// movie ends) at the movie's own size, picture n at the time of position
// `start` + (n - start) / rate: the times a clip from position `start` samples
// in a one-rate output (for a movie on the grid of its rate, frame n itself).
// Span: the time from position start to position spanEnd (0 when spanEnd < 0).
struct TPreview {
    std::vector<TRgb> Frames;
    int Width = 0, Height = 0;
    double Rate = 0;
    double Span = 0;
    std::string Error;
};

TPreview PreviewFrames(const std::string& path, int count, int start = 0, int spanEnd = -1) {
    TPreview p;
    media::TMovieReader d;
    if (!d.Open(path)) {
        p.Error = d.LastError();
        return p;
    }
    const media::TMovieFacts facts = d.Facts();
    if (facts.VideoStream < 0) {
        p.Error = "no video stream";
        return p;
    }
    p.Width = facts.MediaType.Width;
    p.Height = facts.MediaType.Height;
    p.Rate = facts.FrameRate;
    const int last = int(std::floor(d.StreamLength(facts.VideoStream) * p.Rate + 1e-6));
    const std::string sizeProblem = d.PictureSizeProblem(facts.VideoStream);
    if (p.Rate <= 0 || p.Width <= 0 || p.Height <= 0 || !sizeProblem.empty()) {
        p.Error = "no usable size or frame rate: " + sizeProblem;
        return p;
    }
    if (spanEnd >= 0) p.Span = d.TimeOfPosition(spanEnd) - d.TimeOfPosition(start);
    for (int n = 0; n < std::min(count, last); ++n) {
        media::TMovieReader::TPictureRequest request;
        request.Seconds = d.TimeOfPosition(start) + (n - start) / p.Rate;
        request.Width = p.Width;
        request.Height = p.Height;
        media::TRgbPicture picture;
        if (!d.PictureAt(request, picture)) {
            p.Error = "frame " + std::to_string(n) + ": " + d.LastError();
            return p;
        }
        p.Frames.push_back(std::move(picture.Rgb));
    }
    return p;
}

// Every picture of the rendered file, converted to RGB by the engine's
// scaler at the file's own size.
std::vector<TRgb> OutputFrames(const std::string& path, int* width, int* height) {
    std::vector<TRgb> frames;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return frames;
    media::AvFormatInputPtr fmt(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return frames;
    const int vs = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0) return frames;
    const AVCodec* codec = avcodec_find_decoder(raw->streams[vs]->codecpar->codec_id);
    if (!codec) return frames;
    media::AvCodecContextPtr dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), raw->streams[vs]->codecpar);
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return frames;
    media::TScaler scaler;
    media::AvPacketPtr pkt = media::MakePacket();
    media::AvFramePtr f = media::MakeFrame();
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), f.get()) == 0) {
            *width = f->width;
            *height = f->height;
            media::AvFramePtr rgb = scaler.Scale(f.get(), f->width, f->height, AV_PIX_FMT_RGB24);
            TRgb packed(std::size_t(f->width) * f->height * 3);
            for (int y = 0; y < f->height; ++y)
                std::memcpy(packed.data() + std::size_t(y) * f->width * 3,
                            rgb->data[0] + std::ptrdiff_t(y) * rgb->linesize[0], std::size_t(f->width) * 3);
            frames.push_back(std::move(packed));
        }
    };
    while (av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == vs && avcodec_send_packet(dec.get(), pkt.get()) >= 0) drain();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return frames;
}

const char* const kWmv = "";  // no compressor: Windows Media by the default profile

// Renders frames start .. end - 1 of `source` at its own size, video only,
// through the program's clip renderer: AVI with the named compressor, or WMV.
bool RenderLossless(const std::string& source, const std::string& output, const char* compressor, int width,
                    int height, double rate, int start, int end, std::string* why) {
    TTestHost host;
    host.Settings.WithAudio = false;
    const bool wmv = !*compressor;
    host.Settings.WMVSelected = "{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}";
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, compressor);
    if (!wmv && !host.Settings.VideoCompressor) {
        *why = std::string(compressor) + " is not in this FFmpeg";
        return false;
    }
    const bool ok = RenderClip(host, QString::fromStdString(source), QString::fromStdString(output), uint16_t(width),
                               uint16_t(height), 0, rate, start, end, wmv);
    *why = host.FailureReason.toStdString();
    return ok;
}

class PreviewEqualsOutput : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-preview-output"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Dir;
};

// ------------------------------------------------------------- generated movies

struct TGeneratedCase {
    const char* Name;
    const char* File;        // the source's file name (its extension picks nothing; Container does)
    const char* Container;
    const char* Codec;
    const char* PixelFormat; // "" : the codec's 4:2:0 format
    const char* ColourSpace; // "" : untagged
    int BFrames;
    int Width, Height;
    const char* Compressor;  // friendly name of the lossless AVI compressor
    // Lowest PSNR of an output frame against the preview: kSame where the
    // output keeps the decoded pictures as they are.
    double MinPsnr;
    const char* ProbedSpace; // ffprobe's color_space of the output ("" : not checked)
};
void PrintTo(const TGeneratedCase& c, std::ostream* os) { *os << c.Name; }

class GeneratedMovies : public PreviewEqualsOutput, public ::testing::WithParamInterface<TGeneratedCase> {};

TEST_P(GeneratedMovies, OutputFrameIsThePreviewsFrame) {
    const TGeneratedCase& c = GetParam();
    if (!media::BindCompressorByName(media::TCompressorCategory::Video, c.Compressor))
        GTEST_SKIP() << c.Compressor << " is not in this FFmpeg";
    testmovie::TMovieSpec spec;
    spec.Container = c.Container;
    spec.VideoCodec = c.Codec;
    spec.PixelFormat = c.PixelFormat;
    spec.ColourSpace = c.ColourSpace;
    spec.Colourful = true;
    spec.MaxBFrames = c.BFrames;
    spec.Width = c.Width;
    spec.Height = c.Height;
    spec.Frames = 24;
    const std::string src = Dir + "/" + c.File;
    testmovie::MakeTestMovie(src, spec);

    const TPreview preview = PreviewFrames(src, spec.Frames);
    ASSERT_EQ(preview.Error, "");
    ASSERT_EQ(int(preview.Frames.size()), spec.Frames);
    const int start = 5, end = 17;
    const std::string out = Dir + "/out.avi";
    std::string why;
    ASSERT_TRUE(RenderLossless(src, out, c.Compressor, c.Width, c.Height, preview.Rate, start, end, &why)) << why;

    int w = 0, h = 0;
    const auto frames = OutputFrames(out, &w, &h);
    ASSERT_EQ(int(frames.size()), end - start);
    ASSERT_EQ(w, c.Width);
    ASSERT_EQ(h, c.Height);
    double worst = kSame;
    for (int k = 0; k < end - start; ++k) {
        const int n = start + k;
        EXPECT_EQ(testmovie::ReadFrameNumber(frames[k].data(), w, h), n) << "output frame " << k;
        EXPECT_EQ(testmovie::ReadFrameNumber(preview.Frames[n].data(), w, h), n) << "preview frame " << n;
        worst = std::min(worst, Psnr(frames[k], preview.Frames[n]));
    }
    std::printf("[ psnr ] %s: worst %s\n", c.Name, Db(worst).c_str());
    if (std::isinf(c.MinPsnr)) {
        EXPECT_TRUE(std::isinf(worst)) << "output differs from the preview: " << Db(worst);
    } else {
        EXPECT_GE(worst, c.MinPsnr);
    }

    // What the file says about its colours, read by an independent reader.
    const auto streams = rendertest::Probe(out, false);
    ASSERT_EQ(streams.size(), 1u);
    if (*c.ProbedSpace) {
        EXPECT_EQ(streams[0].at("color_space"), c.ProbedSpace);
    }
}

// Exact where the output keeps the decoded pictures: an encoder format equal
// to the source's (4:2:0 into FFV1 and Ut Video, palette and RGB sources into
// RGB), or one with more chroma samples at an even height (Huffyuv has no
// 4:2:0: its 4:2:2 repeats the chroma rows as the preview's conversion does).
// Only near where a conversion can not be avoided:
//  - AVI can not say "full range" for Huffyuv or FFV1: a JPEG-range source
//    goes to video levels (256 levels into 220);
//  - only Ut Video of these can say BT.709: a BT.709 source goes to BT.601
//    elsewhere (through the preview's RGB picture, then quantised to YUV);
//  - 4:2:0 does not fit an odd size: FFV1 takes 4:4:4, whose chroma is
//    interpolated as the preview's is at odd heights, but rounded to 8 bits.
INSTANTIATE_TEST_SUITE_P(
    Sources, GeneratedMovies,
    ::testing::Values(
        TGeneratedCase{"Mpeg4BFramesFfv1", "a.mp4", "mp4", "mpeg4", "", "", 2, 160, 120, "FFV1 lossless", kSame, ""},
        TGeneratedCase{"Mpeg4BFramesUtVideo", "a.avi", "avi", "mpeg4", "", "", 2, 160, 120, "Ut Video", kSame,
                       "bt470bg"},
        TGeneratedCase{"Mpeg4BFramesHuffyuv", "a.mp4", "mp4", "mpeg4", "", "", 2, 160, 120, "Huffyuv", kSame, ""},
        TGeneratedCase{"H264Bt709BFramesUtVideo", "a.mp4", "mp4", "libx264", "", "bt709", 3, 160, 120, "Ut Video",
                       kSame, "bt709"},
        TGeneratedCase{"H264Bt709BFramesFfv1", "a.mkv", "matroska", "libx264", "", "bt709", 3, 160, 120,
                       "FFV1 lossless", 45, ""},
        TGeneratedCase{"MjpegFullRangeHuffyuv", "a.avi", "avi", "mjpeg", "", "", 0, 160, 120, "Huffyuv", 48, ""},
        TGeneratedCase{"MjpegFullRangeFfv1", "a.avi", "avi", "mjpeg", "", "", 0, 160, 120, "FFV1 lossless", 48, ""},
        TGeneratedCase{"MjpegOddSizeFfv1", "a.avi", "avi", "mjpeg", "", "", 0, 161, 121, "FFV1 lossless", 50, ""},
        TGeneratedCase{"Ffv1Yuv422UtVideo", "a.mkv", "matroska", "ffv1", "yuv422p", "", 0, 160, 120, "Ut Video",
                       kSame, ""},
        TGeneratedCase{"PngPaletteHuffyuv", "a.avi", "avi", "png", "pal8", "", 0, 160, 120, "Huffyuv", kSame, ""},
        TGeneratedCase{"PngPaletteZmbv", "a.avi", "avi", "png", "pal8", "", 0, 160, 120,
                       "Zip Motion Blocks Video (ZMBV)", kSame, ""},
        TGeneratedCase{"QtrleRgbFfv1", "a.mov", "mov", "qtrle", "rgb24", "", 0, 160, 120, "FFV1 lossless", kSame, ""},
        TGeneratedCase{"PngRgbOddSizeHuffyuv", "a.avi", "avi", "png", "rgb24", "", 0, 161, 121, "Huffyuv", kSame,
                       ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- lossy outputs

// Lossy outputs: the tags an independent reader finds are the ones the
// pictures were made for. A picture read with the wrong range or matrix
// falls far below the coding loss on these colour ramps.
struct TLossyCase {
    const char* Name;
    const char* File;
    const char* Container;
    const char* Codec;
    const char* ColourSpace;  // the source's matrix tag ("" : untagged)
    const char* Compressor;   // kWmv: Windows Media
    const char* Range;        // ffprobe's color_range of the output
    const char* Space;        // ffprobe's color_space of the output
};
void PrintTo(const TLossyCase& c, std::ostream* os) { *os << c.Name; }

class LossyOutputs : public PreviewEqualsOutput, public ::testing::WithParamInterface<TLossyCase> {};

TEST_P(LossyOutputs, TagsSayWhatThePicturesAre) {
    const TLossyCase& c = GetParam();
    if (*c.Compressor && !media::BindCompressorByName(media::TCompressorCategory::Video, c.Compressor))
        GTEST_SKIP() << c.Compressor << " is not in this FFmpeg";
    testmovie::TMovieSpec spec;
    spec.Container = c.Container;
    spec.VideoCodec = c.Codec;
    spec.ColourSpace = c.ColourSpace;
    spec.Colourful = true;
    spec.Frames = 12;
    const std::string src = Dir + "/" + c.File;
    testmovie::MakeTestMovie(src, spec);
    const TPreview preview = PreviewFrames(src, spec.Frames);
    ASSERT_EQ(preview.Error, "");
    const std::string out = Dir + (*c.Compressor ? "/out.avi" : "/out.wmv");
    std::string why;
    ASSERT_TRUE(RenderLossless(src, out, c.Compressor, spec.Width, spec.Height, preview.Rate, 2, 10, &why)) << why;
    const auto streams = rendertest::Probe(out, false);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("color_range"), c.Range);
    EXPECT_EQ(streams[0].at("color_space"), c.Space);
    int w = 0, h = 0;
    const auto frames = OutputFrames(out, &w, &h);
    ASSERT_EQ(frames.size(), 8u);
    double worst = kSame;
    for (int k = 0; k < 8; ++k) worst = std::min(worst, Psnr(frames[k], preview.Frames[2 + k]));
    std::printf("[ psnr ] %s: worst %s\n", c.Name, Db(worst).c_str());
    EXPECT_GE(worst, 35);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, LossyOutputs,
    ::testing::Values(
        TLossyCase{"MjpegFullRangeToMjpeg", "a.avi", "avi", "mjpeg", "", "Motion JPEG", "pc", "bt470bg"},
        TLossyCase{"H264Bt709ToMjpeg", "a.mp4", "mp4", "libx264", "bt709", "Motion JPEG", "pc", "bt470bg"},
        TLossyCase{"H264Bt709ToX264", "a.mp4", "mp4", "libx264", "bt709", "H.264 (x264)", "tv", "bt709"},
        TLossyCase{"MjpegFullRangeToX264", "a.avi", "avi", "mjpeg", "", "H.264 (x264)", "pc", "bt470bg"},
        TLossyCase{"MjpegFullRangeToMpeg4", "a.avi", "avi", "mjpeg", "", "MPEG-4 Part 2", "unknown", "unknown"},
        TLossyCase{"H264Bt709ToWmv", "a.mp4", "mp4", "libx264", "bt709", kWmv, "unknown", "unknown"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- real samples

// Real movies: output frame k is the preview's frame start + k, and looks more
// like it than like the frames before and after it. A movie off the grid of
// its rate is sampled in AVI at its rate from position start's own time, for
// the time positions start .. start + count span.
void CheckSample(const std::string& dir, const std::string& file, const char* compressor, const std::string& out) {
    SCOPED_TRACE(file + " with " + compressor);
    const std::string src = dir + "/" + file;
    const int start = 4, count = 6;
    const TPreview preview = PreviewFrames(src, start + 2 * count + 2, start, start + count);
    ASSERT_EQ(preview.Error, "");
    const int ticks = int(std::llround(preview.Span * preview.Rate));
    ASSERT_GE(int(preview.Frames.size()), start + ticks + 1);
    std::string why;
    ASSERT_TRUE(RenderLossless(src, out, compressor, preview.Width, preview.Height, preview.Rate, start,
                               start + count, &why))
        << why;
    int w = 0, h = 0;
    const auto frames = OutputFrames(out, &w, &h);
    ASSERT_EQ(int(frames.size()), ticks);
    ASSERT_EQ(w, preview.Width);
    ASSERT_EQ(h, preview.Height);
    double worst = kSame;
    for (int k = 0; k < ticks; ++k) {
        const int n = start + k;
        const double here = Psnr(frames[k], preview.Frames[n]);
        worst = std::min(worst, here);
        EXPECT_GE(here, 45) << "output frame " << k << " against preview frame " << n;
        for (int m : {n - 1, n + 1}) {
            if (preview.Frames[m] != preview.Frames[n]) {
                EXPECT_GT(here, Psnr(frames[k], preview.Frames[m]))
                    << "output frame " << k << " looks more like preview frame " << m << " than " << n;
            }
        }
    }
    std::printf("[ psnr ] %s with %s: worst %s\n", file.c_str(), compressor, Db(worst).c_str());
}

TEST_F(PreviewEqualsOutput, RealSamples) {
    const fs::path dir(FW_MEDIA_SAMPLES);
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no samples at " << dir;
    struct TSample {
        const char* File;
        const char* Compressor;
    };
    const TSample samples[] = {
        {"mxi_MVI_4823.AVI", "Huffyuv"},        {"mxi_MVI_4823.AVI", "FFV1 lossless"},
        {"fate_toon.avi", "Huffyuv"},           {"fate_toon.avi", "FFV1 lossless"},
        {"pmi_sample.mp4", "Huffyuv"},          {"pmi_sample.mp4", "Ut Video"},
        {"sio_awesome_movie.mov", "Huffyuv"},   {"lex_mpeg_alien.mpg", "FFV1 lossless"},
        {"fate_packed_bframes.avi", "Huffyuv"}, {"m59_download.avi", "Zip Motion Blocks Video (ZMBV)"},
        {"fate_oneminute.avi", "FFV1 lossless"}, {"riff_simpson.avi", "Huffyuv"},
        {"axm_bear-vp9-odd-dimensions.webm", "FFV1 lossless"},
    };
    int index = 0;
    for (const TSample& s : samples) {
        if (!fs::exists(dir / s.File)) continue;
        CheckSample(dir.string(), s.File, s.Compressor, Dir + "/sample" + std::to_string(index++) + ".avi");
    }
}

// A variable-rate H.264 movie: where the renderer and the preview each had a
// tolerance of their own, output frame k was the preview's frame start + k + 1
// (14 dB against frame start + k). One frame clock makes them agree.
TEST_F(PreviewEqualsOutput, VariableRateSample) {
    const fs::path dir(FW_MEDIA_SAMPLES);
    if (!fs::exists(dir / "mpy_fire2.mp4")) GTEST_SKIP() << "sample missing";
    CheckSample(dir.string(), "mpy_fire2.mp4", "Huffyuv", Dir + "/fire.avi");
}

}  // namespace
