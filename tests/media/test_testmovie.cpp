// The test movie maker round-trips through a plain FFmpeg decode: every frame
// reads back as its own number, in every container and codec the tests use.
#include "tests/fixtures/TestMovie.h"

#include "media/AvPtr.h"
#include "media/InputFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

using namespace media;

// Decodes the first video stream start to end; returns the number read from
// every frame, in presentation order.
std::vector<int> DecodeAllNumbers(const std::string& path, int width = 0, int height = 0) {
    TInputFile in = TInputFile::Open(path);
    const int vs = in.FirstVideoStream();
    if (vs < 0) throw MediaError("no video");
    AvCodecContextPtr dec = OpenDecoder(in.Format->streams[vs]);
    AvPacketPtr pkt = MakePacket();
    AvFramePtr frame = MakeFrame();
    std::vector<int> numbers;
    std::vector<uint8_t> rgb;
    auto take = [&]() {
        for (;;) {
            int rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            CheckRc(rc, "decode");
            const int w = width ? width : frame->width, h = height ? height : frame->height;
            rgb = testmovie::PackedRgb(frame.get(), w, h, false, SWS_BICUBIC);
            numbers.push_back(testmovie::ReadFrameNumber(rgb.data(), w, h));
        }
    };
    while (av_read_frame(in.Format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vs) {
            avcodec_send_packet(dec.get(), pkt.get());
            take();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    take();
    return numbers;
}

struct TCase {
    const char* Name;
    const char* File;
    testmovie::TMovieSpec Spec;
};

testmovie::TMovieSpec Spec(const char* container, const char* video, const char* audio, int num = 25,
                           int den = 1, int bframes = 0) {
    testmovie::TMovieSpec s;
    s.Container = container;
    s.VideoCodec = video;
    s.AudioCodec = audio;
    s.FrameRateNum = num;
    s.FrameRateDen = den;
    s.MaxBFrames = bframes;
    s.Frames = 40;
    return s;
}

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

class TestMovieRoundTrip : public ::testing::TestWithParam<TCase> {};

TEST_P(TestMovieRoundTrip, EveryFrameReadsItsOwnNumber) {
    const TCase& c = GetParam();
    const std::string dir = testmovie::MakeTempDir("fw_testmovie_");
    const std::string path = dir + "/" + c.File;
    testmovie::MakeTestMovie(path, c.Spec);
    for (auto [w, h] : {std::pair{0, 0}, std::pair{64, 48}}) {
        std::vector<int> got = DecodeAllNumbers(path, w, h);
        ASSERT_EQ(got.size(), size_t(c.Spec.Frames)) << c.Name << " at " << w;
        for (int i = 0; i < c.Spec.Frames; ++i) EXPECT_EQ(got[i], i) << c.Name << " frame " << i << " at " << w;
    }
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, TestMovieRoundTrip,
    ::testing::Values(TCase{"avi_mjpeg", "a.avi", Spec("avi", "mjpeg", "pcm_s16le")},
                      TCase{"mpg_mpeg1", "a.mpg", Spec("mpeg", "mpeg1video", "mp2")},
                      TCase{"mpeg_mpeg2_b", "a.mpeg", Spec("vob", "mpeg2video", "mp2", 30000, 1001, 2)},
                      TCase{"asf_wmv2", "a.wmv", Spec("asf", "wmv2", "wmav2")},
                      TCase{"mp4_h264_b", "a.mp4", Spec("mp4", "libx264", "aac", 24000, 1001, 3)},
                      TCase{"mp4_mpeg4_b", "b.mp4", Spec("mp4", "mpeg4", "", 25, 1, 2)},
                      TCase{"mp4_h264_open_gop", "open.mp4",
                            [] {
                                auto s = Spec("mp4", "libx264", "aac", 25, 1, 2);
                                s.GopSize = 12;
                                s.OpenGop = true;
                                return s;
                            }()},
                      TCase{"mp4_h264_10bit", "deep.mp4",
                            [] {
                                auto s = Spec("mp4", "libx264", "", 25, 1, 2);
                                s.PixelFormat = "yuv420p10le";
                                return s;
                            }()},
                      TCase{"ts_h264_parameter_set_changes", "changes.ts",
                            [] {
                                auto s = Spec("mpegts", "libx264", "aac", 25, 1, 2);
                                s.ParameterSetChanges = 2;
                                return s;
                            }()},
                      TCase{"mkv_hevc_b", "hevc.mkv", Spec("matroska", "libx265", "", 25, 1, 2)},
                      TCase{"mp4_hevc_open_gop", "hevc-open.mp4",
                            [] {
                                auto s = Spec("mp4", "libx265", "", 25, 1, 2);
                                s.OpenGop = true;
                                return s;
                            }()}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TestMovie, ReadFrameNumberRejectsAPlainPicture) {
    std::vector<uint8_t> grey(64 * 48 * 3, 128);
    EXPECT_EQ(testmovie::ReadFrameNumber(grey.data(), 64, 48), -1);
    EXPECT_EQ(testmovie::ReadFrameNumber(nullptr, 64, 48), -1);
}

}  // namespace
