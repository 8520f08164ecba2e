// Clips of several segments (TClipJobSpec::Ranges): joined into one file in
// each mode, or one file per segment. Read back independently of the engine:
// every frame's drawn number, the copy's copied frames byte for byte against a
// plain decode of the source and its re-encoded ones by PSNR, the sound's
// clicks against the picture at each join (ffmpeg's command line decodes it,
// edit lists applied), and the sound's smoothness across re-encoded joins.
#include "RenderTestUtil.h"

#include "media/ClipJob.h"
#include "media/RenderEngine.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using media::TFrameRange;
using rendertest::Range;

constexpr double kRate = 25;
constexpr int kClickEvery = 5;
constexpr int kSoundRate = 48000;

// The click train movie (H.264 with B-frames, AAC, a key frame every 25
// frames) and a tone movie with PCM sound, made once.
class SegmentsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new std::string(testmovie::MakeTempDir("fw_segments"));
        testmovie::TMovieSpec h;
        h.Container = "mp4";
        h.VideoCodec = "libx264";
        h.AudioCodec = "aac";
        h.Frames = 150;
        h.GopSize = 25;
        h.MaxBFrames = 2;
        h.SampleRate = kSoundRate;
        h.ClickEvery = kClickEvery;
        testmovie::MakeTestMovie(*Dir + "/clicks.mp4", h);
        testmovie::TMovieSpec t;
        t.Container = "avi";
        t.VideoCodec = "mjpeg";
        t.AudioCodec = "pcm_s16le";
        t.Frames = 100;
        testmovie::MakeTestMovie(*Dir + "/tone.avi", t);
    }
    static void TearDownTestSuite() {
        if (!::testing::Test::HasFailure()) fs::remove_all(*Dir);
        delete Dir;
    }
    static std::string* Dir;
};
std::string* SegmentsTest::Dir = nullptr;

media::TJobEnd RunJob(media::TClipJobSpec spec, std::vector<media::TJobPlan>* plans = nullptr) {
    std::mutex m;
    media::TJobEnd end;
    media::TJobEvents e;
    e.Plan = [&](const media::TJobPlan& p) {
        std::lock_guard l(m);
        if (plans) plans->push_back(p);
    };
    e.End = [&](const media::TJobEnd& x) {
        std::lock_guard l(m);
        end = x;
    };
    auto job = media::StartClipJob(std::move(spec), e);
    job->Wait();
    return end;
}

media::TClipJobSpec Spec(const std::string& src, const std::string& out, media::TOutputFormat format,
                         std::vector<TFrameRange> ranges) {
    media::TClipJobSpec s;
    s.Source = src;
    s.FirstFrame = ranges.front().First;
    s.EndFrame = ranges.front().End;
    s.FrameRate = kRate;
    s.Output.FileName = out;
    s.Output.Format = format;
    s.WithAudio = true;
    s.Ranges = std::move(ranges);
    return s;
}

std::vector<int> Expected(const std::vector<TFrameRange>& ranges) {
    std::vector<int> frames;
    for (const auto& r : ranges)
        for (int64_t f = r.First; f < r.End; ++f) frames.push_back(int(f));
    return frames;
}

// The file's sound mixed to mono at 48 kHz, as the command line plays it.
std::vector<float> Sound(const std::string& file, const std::string& dir) {
    const std::string raw = dir + "/sound.f32";
    if (rendertest::Run("ffmpeg -nostdin -v error -y -i '" + file + "' -map 0:a:0 -ac 1 -ar " +
                        std::to_string(kSoundRate) + " -f f32le '" + raw + "'") != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<float> s;
    float v;
    while (in.read(reinterpret_cast<char*>(&v), sizeof v)) s.push_back(v);
    return s;
}

// Where clicks start: samples above 0.3 after at least 20 ms below it.
std::vector<int64_t> Clicks(const std::vector<float>& s) {
    std::vector<int64_t> at;
    int64_t quiet = kSoundRate;
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::fabs(s[i]) > 0.3f) {
            if (quiet >= kSoundRate / 50) at.push_back(int64_t(i));
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return at;
}

// Pictures as RGB rows, by the test fixture's plain decode.
struct TPictures {
    std::vector<std::vector<uint8_t>> Rgb;
    int Width = 0, Height = 0;
};
TPictures Pictures(const std::string& file) {
    TPictures p;
    p.Rgb = testmovie::DecodeAllRgb(file, &p.Width, &p.Height);
    return p;
}
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return -1;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
    return sum == 0 ? 999 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

struct TJoinCase {
    const char* Name;
    media::TOutputFormat Format;
    std::vector<TFrameRange> Ranges;
};

class JoinedSegments : public SegmentsTest, public ::testing::WithParamInterface<TJoinCase> {};

// Every frame of each segment in order and nothing else; a copy's copied
// frames equal the source's exactly and its re-encoded ones closely; each
// click of the sound is where its frame is, across every join.
TEST_P(JoinedSegments, HoldEachSegmentsFramesAndTheSoundStaysWithThem) {
    const TJoinCase& c = GetParam();
    const std::string src = *Dir + "/clicks.mp4";
    const std::string out = *Dir + "/" + c.Name + ".mp4";
    std::vector<media::TJobPlan> plans;
    const media::TJobEnd end = RunJob(Spec(src, out, c.Format, c.Ranges), &plans);
    ASSERT_EQ(end.Outcome, media::TJobEnd::Done) << end.Error;
    const std::vector<int> expected = Expected(c.Ranges);
    EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, expected);

    if (c.Format == media::TOutputFormat::Copy) {
        ASSERT_EQ(plans.size(), 1u);
        ASSERT_TRUE(plans[0].CanCopy) << plans[0].Why;
        EXPECT_GT(plans[0].CopiedFrames, 0);
        EXPECT_EQ(plans[0].Frames, int64_t(expected.size()));
        const TPictures source = Pictures(src), clip = Pictures(out);
        ASSERT_EQ(clip.Rgb.size(), expected.size());
        size_t at = 0;
        for (const auto& r : c.Ranges) {
            const media::TCopyPlan plan = media::PlanCopy(src, r.First, r.End);
            ASSERT_TRUE(plan.CanCopy) << plan.Why;
            for (int64_t k = 0; k < r.End - r.First; ++k, ++at) {
                const auto& mine = clip.Rgb[at];
                const auto& theirs = source.Rgb[size_t(r.First + k)];
                if (k >= plan.HeadFrames && k < plan.HeadFrames + plan.CopiedFrames)
                    EXPECT_TRUE(mine == theirs) << "copied frame " << r.First + k << " differs";
                else
                    EXPECT_GE(Psnr(theirs, mine), 40.0) << "re-encoded frame " << r.First + k;
            }
        }
    }

    // Each click sits where its frame starts in the clip, within one audio
    // frame; and no click comes from elsewhere.
    const std::vector<int64_t> clicks = Clicks(Sound(out, *Dir));
    std::vector<double> wanted;
    int64_t outFrame = 0;
    for (const auto& r : c.Ranges) {
        for (int64_t f = r.First; f < r.End; ++f, ++outFrame)
            if (f % kClickEvery == 0) wanted.push_back(double(outFrame) / kRate);
    }
    ASSERT_EQ(clicks.size(), wanted.size()) << "clicks heard against clicks of the segments' frames";
    for (size_t i = 0; i < wanted.size(); ++i)
        EXPECT_NEAR(double(clicks[i]) / kSoundRate, wanted[i], 1024.0 / kSoundRate) << "click " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, JoinedSegments,
    ::testing::Values(
        // Off and on key frames (every 25th), two and three segments, overlapping.
        TJoinCase{"CopyTwo", media::TOutputFormat::Copy, {{10, 40}, {50, 80}}},
        TJoinCase{"CopyThreeOverlapping", media::TOutputFormat::Copy, {{25, 62}, {43, 71}, {97, 131}}},
        TJoinCase{"Mp4Two", media::TOutputFormat::Mp4, {{10, 40}, {50, 80}}},
        TJoinCase{"Mp4ThreeOverlapping", media::TOutputFormat::Mp4, {{25, 62}, {43, 71}, {97, 131}}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Re-encoded joins of a tone: the cross-fade leaves no step in the sound
// larger than the tone's own from one sample to the next; each segment's
// length of sound is there.
TEST_F(SegmentsTest, ReencodedJoinsOfAToneMakeNoClick) {
    const std::string src = *Dir + "/tone.avi", out = *Dir + "/tone-joined.avi";
    const std::vector<TFrameRange> ranges{{3, 21}, {40, 47}, {11, 30}};
    media::TClipJobSpec spec = Spec(src, out, media::TOutputFormat::Avi, ranges);
    const media::TJobEnd end = RunJob(spec);
    ASSERT_EQ(end.Outcome, media::TJobEnd::Done) << end.Error;
    EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, Expected(ranges));
    auto largestStep = [](const std::vector<float>& s, size_t from, size_t to) {
        double m = 0;
        for (size_t i = from + 1; i < std::min(to, s.size()); ++i) m = std::max(m, double(std::fabs(s[i] - s[i - 1])));
        return m;
    };
    const std::vector<float> source = Sound(src, *Dir);
    const std::vector<float> joined = Sound(out, *Dir);
    ASSERT_FALSE(source.empty());
    const double own = largestStep(source, 0, source.size());
    ASSERT_GT(own, 0.01);
    const size_t samples = size_t(std::llround(double(Expected(ranges).size()) / kRate * kSoundRate));
    EXPECT_NEAR(double(joined.size()), double(samples), 0.01 * kSoundRate);
    EXPECT_LE(largestStep(joined, 0, samples), own * 1.02 + 2.0 / 32768);
}

// One file per segment: named after the output with -01, -02; each holds its
// segment's frames.
TEST_F(SegmentsTest, SplitWritesOneFilePerSegment) {
    const std::string src = *Dir + "/clicks.mp4";
    const std::vector<TFrameRange> ranges{{10, 40}, {30, 55}, {100, 120}};
    for (const auto format : {media::TOutputFormat::Copy, media::TOutputFormat::Mp4}) {
        const std::string dir = *Dir + (format == media::TOutputFormat::Copy ? "/split-copy" : "/split-mp4");
        fs::create_directories(dir);
        media::TClipJobSpec spec = Spec(src, dir + "/clip.mp4", format, ranges);
        spec.Split = true;
        const media::TJobEnd end = RunJob(spec);
        ASSERT_EQ(end.Outcome, media::TJobEnd::Done) << end.Error;
        EXPECT_FALSE(fs::exists(dir + "/clip.mp4"));
        for (size_t i = 0; i < ranges.size(); ++i) {
            const std::string file = dir + "/clip-0" + std::to_string(i + 1) + ".mp4";
            ASSERT_TRUE(fs::exists(file)) << file;
            EXPECT_EQ(rendertest::DecodeFile(file).FrameNumbers, Range(int(ranges[i].First), int(ranges[i].End))) << file;
        }
    }
}

TEST(SplitFileName, NumbersBeforeTheExtension) {
    struct {
        const char* Output;
        size_t Index, Count;
        const char* Expected;
    } cases[] = {
        {"/tmp/clip.mp4", 0, 2, "/tmp/clip-01.mp4"},
        {"/tmp/clip.mp4", 11, 12, "/tmp/clip-12.mp4"},
        {"/tmp/clip.mp4", 4, 120, "/tmp/clip-005.mp4"},
        {"/tmp/a.b/clip", 1, 2, "/tmp/a.b/clip-02"},
        {"/tmp/.hidden", 0, 2, "/tmp/.hidden-01"},
        {"clip.tar.mp4", 0, 2, "clip.tar-01.mp4"},
    };
    for (const auto& c : cases) EXPECT_EQ(media::SplitFileName(c.Output, c.Index, c.Count), c.Expected) << c.Output;
}

// A segment that reaches past the movie's end, or holds no frame, is refused with a sentence; nothing is written.
TEST_F(SegmentsTest, BadSegmentsAreRefusedAndWriteNothing) {
    const std::string src = *Dir + "/clicks.mp4";
    for (const auto format : {media::TOutputFormat::Copy, media::TOutputFormat::Mp4}) {
        for (const std::vector<TFrameRange>& ranges :
             {std::vector<TFrameRange>{{10, 40}, {140, 170}}, std::vector<TFrameRange>{{10, 40}, {50, 50}}}) {
            const std::string out = *Dir + "/refused.mp4";
            const media::TJobEnd end = RunJob(Spec(src, out, format, ranges));
            EXPECT_EQ(end.Outcome, media::TJobEnd::Failed);
            EXPECT_NE(end.Error.find("Segment 2"), std::string::npos) << end.Error;
            EXPECT_FALSE(fs::exists(out));
        }
    }
}

// fwmedia render --range ... [--split]: joined and split files as the job
// makes them; segment files already there are refused (nobody to ask) and
// left as they were; bad ranges are usage errors.
TEST_F(SegmentsTest, FwmediaRendersRangesAndNeverReplacesSegmentFiles) {
    const std::string src = *Dir + "/clicks.mp4", bin = FWMEDIA_BIN;
    const std::string dir = *Dir + "/fwmedia";
    fs::create_directories(dir);
    std::string out;
    ASSERT_EQ(rendertest::Run(bin + " render '" + src + "' '" + dir + "/joined.mp4' --range 10:40 --range 30:35 --mp4 2>&1", &out), 0)
        << out;
    EXPECT_EQ(rendertest::DecodeFile(dir + "/joined.mp4").FrameNumbers, Expected({{10, 40}, {30, 35}}));

    ASSERT_EQ(rendertest::Run(bin + " render '" + src + "' '" + dir + "/part.mp4' --copy --range 10:40 --range 60:80 --split 2>&1", &out), 0)
        << out;
    EXPECT_EQ(rendertest::DecodeFile(dir + "/part-01.mp4").FrameNumbers, Range(10, 40));
    EXPECT_EQ(rendertest::DecodeFile(dir + "/part-02.mp4").FrameNumbers, Range(60, 80));
    EXPECT_NE(out.find("part-02.mp4"), std::string::npos) << out;

    // A second run would replace part-02: refused, nothing touched.
    fs::remove(dir + "/part-01.mp4");
    const auto before = fs::last_write_time(dir + "/part-02.mp4");
    EXPECT_EQ(rendertest::Run(bin + " render '" + src + "' '" + dir + "/part.mp4' --range 0:5 --range 5:9 --split 2>&1", &out), 1);
    EXPECT_NE(out.find("part-02.mp4 exists"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir + "/part-01.mp4"));
    EXPECT_EQ(fs::last_write_time(dir + "/part-02.mp4"), before);

    for (const char* bad : {"--range 5", "--range 9:5", "--range a:b", "--split", "--range 1:5 --range 7:"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(rendertest::Run(bin + " render '" + src + "' '" + dir + "/bad.mp4' " + bad + " --mp4 2>&1", &out), 2) << out;
        EXPECT_FALSE(fs::exists(dir + "/bad.mp4"));
    }
}

}  // namespace
