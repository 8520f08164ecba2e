// Bad input: every file gets an answer (a frame or a message), nothing crashes
// or hangs, and nothing unreasonable is allocated.
#include "tests/fixtures/TestMovie.h"

#include "media/MovieReader.h"

#include <gtest/gtest.h>


#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

namespace fs = std::filesystem;
using media::TMajorType;
using media::TMovieReader;
using media::TRgbPicture;

namespace {

// The picture on screen at t seconds of the movie's video stream.
bool PictureAt(TMovieReader& r, double t, int w, int h, TRgbPicture& out) {
    TMovieReader::TPictureRequest request;
    request.Seconds = t;
    request.Width = w;
    request.Height = h;
    return r.PictureAt(request, out);
}

class ReaderBadInput : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw_reader_bad_"); }
    void TearDown() override { fs::remove_all(Dir); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = Dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The first stream of video pictures; the reader's choice of video stream
    // must agree where there is one.
    static int FirstVideo(const TMovieReader& d) {
        int video = -1;
        for (int i = 0; i < d.StreamCount() && video < 0; ++i)
            if (d.StreamType(i) == TMajorType::Video) video = i;
        EXPECT_EQ(d.Facts().VideoStream, video);
        return video;
    }
    std::string Dir;
};

TEST_F(ReaderBadInput, UnreadableFilesAreRefusedWithAMessage) {
    const struct {
        const char* Name;
        std::string Path;
    } cases[] = {
        {"zero bytes", Write("empty.avi", "")},
        {"text named .avi", Write("notes.avi", "These are not the frames you are looking for.\n")},
        {"missing", Dir + "/no such file.avi"},
        {"a folder", Dir},
    };
    for (const auto& c : cases) {
        TMovieReader d;
        EXPECT_FALSE(d.Open(c.Path)) << c.Name;
        EXPECT_FALSE(d.LastError().empty()) << c.Name;
        EXPECT_EQ(d.StreamCount(), 0) << c.Name;
        EXPECT_EQ(d.Facts().VideoStream, -1) << c.Name;
        TRgbPicture picture;
        EXPECT_FALSE(PictureAt(d, 0, 64, 48, picture)) << c.Name;
        EXPECT_FALSE(d.LastError().empty()) << c.Name;
    }
}

TEST_F(ReaderBadInput, AudioOnlyHasNoVideoStream) {
    testmovie::TMovieSpec s;
    s.Container = "wav";
    s.VideoCodec = "";
    s.AudioCodec = "pcm_s16le";
    const std::string path = Dir + "/tone.wav";
    testmovie::MakeTestMovie(path, s);
    TMovieReader d;
    ASSERT_TRUE(d.Open(path)) << d.LastError();
    EXPECT_EQ(FirstVideo(d), -1);
    ASSERT_GE(d.StreamCount(), 1);
    EXPECT_EQ(d.StreamFrameRate(0), 0);
    EXPECT_EQ(d.Facts().FrameRate, 0);
    TRgbPicture picture;
    EXPECT_FALSE(PictureAt(d, 0, 64, 48, picture));
    TMovieReader::TPictureRequest audio;  // asked for the sound stream itself
    audio.Stream = 0;
    audio.Width = 64;
    audio.Height = 48;
    EXPECT_FALSE(d.PictureAt(audio, picture));
    EXPECT_FALSE(d.LastError().empty());
}

TEST_F(ReaderBadInput, CoverPictureOfAnAudioFileIsNotVideo) {
    const std::string path = std::string(FW_MEDIA_SAMPLES) + "/fate_wma_with_ID3_APIC_trimmed.wma";
    if (!fs::exists(path)) GTEST_SKIP() << "sample missing";
    TMovieReader d;
    ASSERT_TRUE(d.Open(path)) << d.LastError();
    ASSERT_GE(d.StreamCount(), 1);
    EXPECT_EQ(d.StreamType(0), TMajorType::Attachment);
    EXPECT_EQ(FirstVideo(d), -1);
}

TEST_F(ReaderBadInput, TruncatedMovieDeliversWhatIsThere) {
    testmovie::TMovieSpec s;
    s.Frames = 50;
    s.TruncateFraction = 0.5;
    const std::string path = Dir + "/cut.avi";
    testmovie::MakeTestMovie(path, s);
    TMovieReader d;
    ASSERT_TRUE(d.Open(path)) << d.LastError();
    ASSERT_EQ(FirstVideo(d), 0);
    const double rate = d.Facts().FrameRate;
    ASSERT_GT(rate, 0);
    int seen = -1;
    for (int p : {0, 5, 12, 40, 49, 3}) {
        TRgbPicture picture;
        if (!PictureAt(d, p / rate, 80, 60, picture)) {
            EXPECT_FALSE(d.LastError().empty());
            continue;
        }
        const int n = testmovie::ReadFrameNumber(picture.Rgb.data(), picture.Width, picture.Height);
        // Beyond the cut the last whole frame stays; before it every frame is exact.
        EXPECT_TRUE(n == p || (p >= 20 && n >= 15 && n <= p)) << "position " << p << " showed " << n;
        seen = std::max(seen, n);
    }
    EXPECT_GE(seen, 12);
}

TEST_F(ReaderBadInput, NonAsciiPathAndOddFrameSize) {
    testmovie::TMovieSpec s;
    s.Width = 161;
    s.Height = 121;
    s.Frames = 20;
    s.VideoCodec = "mpeg4";
    s.Container = "matroska";
    const std::string path = Dir + "/Fïlm – ünïcödé 映画.mkv";
    testmovie::MakeTestMovie(path, s);
    TMovieReader d;
    ASSERT_TRUE(d.Open(path)) << d.LastError();
    ASSERT_EQ(FirstVideo(d), 0);
    EXPECT_EQ(d.Facts().MediaType.Width, 161);
    EXPECT_EQ(d.Facts().MediaType.Height, 121);
    for (auto [w, h] : {std::pair{161, 121}, std::pair{67, 51}}) {
        TRgbPicture bmp;
        ASSERT_TRUE(PictureAt(d, 7 / d.Facts().FrameRate, w, h, bmp)) << d.LastError();
        EXPECT_EQ(bmp.Width, w);
        EXPECT_EQ(bmp.Height, h);
        EXPECT_EQ(testmovie::ReadFrameNumber(bmp.Rgb.data(), bmp.Width, bmp.Height), 7);
    }
}

TEST_F(ReaderBadInput, InsaneRequestsAreRefusedNotAllocated) {
    testmovie::TMovieSpec s;
    s.Frames = 5;
    const std::string path = Dir + "/small.avi";
    testmovie::MakeTestMovie(path, s);
    TMovieReader d;
    ASSERT_TRUE(d.Open(path));
    ASSERT_EQ(FirstVideo(d), 0);
    const struct {
        double T;
        int W, H;
    } cases[] = {
        {0, 100000, 100000}, {0, 0, 0}, {0, -5, 10}, {0, 64, 0},
        {std::nan(""), 64, 48}, {std::numeric_limits<double>::infinity(), 64, 48},
    };
    for (const auto& c : cases) {
        TRgbPicture picture;
        EXPECT_FALSE(PictureAt(d, c.T, c.W, c.H, picture)) << c.W << "x" << c.H << " t=" << c.T;
        EXPECT_FALSE(d.LastError().empty());
        EXPECT_TRUE(picture.Empty());
    }
    // The reader stays usable after refusing.
    TRgbPicture picture;
    EXPECT_TRUE(PictureAt(d, 0, 64, 48, picture)) << d.LastError();
}

// The AVI stream header's frame size patched to nonsense: refused with a message.
TEST_F(ReaderBadInput, MovieClaimingAnAbsurdFrameSize) {
    for (int32_t claimed : {0, 100000}) {
        testmovie::TMovieSpec s;
        s.VideoCodec = "rawvideo";
        s.Frames = 3;
        const std::string path = Dir + "/raw" + std::to_string(claimed) + ".avi";
        testmovie::MakeTestMovie(path, s);
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), {});
        const auto strf = bytes.find("strf");
        ASSERT_NE(strf, std::string::npos);
        for (int k = 0; k < 2; ++k) {  // biWidth, biHeight
            f.seekp(std::streamoff(strf + 12 + 4 * k));
            const uint8_t le[4] = {uint8_t(claimed), uint8_t(claimed >> 8), uint8_t(claimed >> 16), 0};
            f.write(reinterpret_cast<const char*>(le), 4);
        }
        f.close();
        TMovieReader d;
        if (!d.Open(path)) {
            EXPECT_FALSE(d.LastError().empty());
            continue;
        }
        if (FirstVideo(d) < 0) continue;
        TRgbPicture bmp;
        const auto mt = d.Facts().MediaType;
        EXPECT_FALSE(PictureAt(d, 0, std::clamp(mt.Width, 1, 65535), std::clamp(mt.Height, 1, 65535), bmp))
            << claimed;
        EXPECT_FALSE(d.PictureSizeProblem(d.Facts().VideoStream).empty()) << claimed;
        EXPECT_TRUE(bmp.Empty());
    }
}

// Every real sample opens and shows a frame, or is refused with a message.
TEST(ReaderSamples, EverySampleAnswersWithoutCrashing) {
    const fs::path dir(FW_MEDIA_SAMPLES);
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no samples at " << dir;
    int files = 0, shown = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == "MANIFEST.tsv" || name == "PROBE.txt") continue;
        ++files;
        TMovieReader d;
        if (!d.Open(entry.path().string())) {
            EXPECT_FALSE(d.LastError().empty()) << name;
            continue;
        }
        const media::TMovieFacts facts = d.Facts();
        if (facts.VideoStream < 0) continue;
        const double rate = facts.FrameRate, length = d.StreamLength(facts.VideoStream);
        EXPECT_TRUE(std::isfinite(rate) && rate >= 0) << name;
        EXPECT_TRUE(std::isfinite(length) && length >= 0) << name;
        bool any = false;
        for (double t : {0.0, length / 2, length, 0.0}) {
            TRgbPicture bmp;
            if (PictureAt(d, t, 64, 48, bmp)) {
                any = true;
                EXPECT_EQ(bmp.Width, 64);
            } else {
                EXPECT_FALSE(d.LastError().empty()) << name << " at " << t;
            }
        }
        shown += any;
    }
    EXPECT_GE(files, 30);
    EXPECT_GE(shown, 25);
}

}  // namespace


// Real movies, among them packed B-frames in AVI (whose frames carry no
// timestamps of their own and whose decoder times them one tick late) and
// H.264 with B-frames: track-bar position p shows picture p of a plain decode,
// going forward and jumping back.
TEST(ReaderSamples, EveryPositionShowsItsOwnPicture) {
    const fs::path dir(FW_MEDIA_SAMPLES);
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no samples at " << dir;
    for (const char* name : {"fate_packed_bframes.avi", "pmi_sample.mp4", "riff_simpson.avi",
                             "wine_test.wmv", "mxi_100_0306.AVI"}) {
        SCOPED_TRACE(name);
        const std::string path = (dir / name).string();
        if (!fs::exists(path)) continue;
        int w = 0, h = 0;
        const auto plain = testmovie::DecodeAllRgb(path, &w, &h);
        ASSERT_GT(plain.size(), 3u);
        TMovieReader d;
        ASSERT_TRUE(d.Open(path)) << d.LastError();
        const media::TMovieFacts facts = d.Facts();
        ASSERT_GE(facts.VideoStream, 0);
        const double rate = facts.FrameRate;
        EXPECT_GE(d.StreamLength(facts.VideoStream) * rate, double(plain.size()) - 1.01);
        const int n = int(plain.size());
        std::vector<int> positions;
        for (int p = 0; p < n; ++p) positions.push_back(p);
        for (int p : {n - 1, 1, n / 2, 0, n - 2}) positions.push_back(p);
        for (int p : positions) {
            TRgbPicture bmp;
            ASSERT_TRUE(PictureAt(d, p / rate, w, h, bmp)) << d.LastError();
            auto same = [&](int k) { return bmp.Rgb == plain[k]; };
            if (!same(p)) {
                int shown = -1;
                for (int k = 0; k < n && shown < 0; ++k)
                    if (same(k)) shown = k;
                ADD_FAILURE() << "position " << p << " shows picture " << shown;
            }
        }
    }
}
