// fwmedia render and compressors, run as a user would run them: the checks of
// START, END and the compressor names, what a failed render leaves behind, and
// --copy with the options it refuses.
#include "RenderTestUtil.h"

#include "convert/RenderClip.h"
#include "media/RenderEngine.h"
#include "media/StagedFile.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;

struct TRun {
    int Exit = -1;
    std::string Out;  // stdout and stderr together
};

// `prefix` runs in the same shell first (e.g. a ulimit).
TRun RunFwMedia(const std::string& args, const std::string& prefix = "") {
    TRun r;
    r.Exit = rendertest::Run(prefix + "exec " + std::string(FWMEDIA_BIN) + " " + args + " 2>&1", &r.Out);
    return r;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

// Standard output and standard error apart.
struct TSplitRun {
    int Exit = -1;
    std::string Out, Err;
};
TSplitRun RunFwMediaSplit(const std::string& args, const std::string& errFile) {
    TSplitRun r;
    r.Exit = rendertest::Run("exec " + std::string(FWMEDIA_BIN) + " " + args + " 2>" + Q(errFile), &r.Out);
    std::ifstream in(errFile);
    r.Err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

// The lines of standard error that are our own: FFmpeg's log lines ("[libx264
// @ 0x...] ...") left out.
std::vector<std::string> OwnLines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("[", 0) != 0) lines.push_back(line);
    return lines;
}

class FwMediaRender : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw_fwrender_"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    // A 10-frame movie with sound.
    std::string Source(int frames = 10, int width = 160, int height = 120) {
        testmovie::TMovieSpec s;
        s.Container = "avi";
        s.VideoCodec = "mjpeg";
        s.AudioCodec = "pcm_s16le";
        s.Frames = frames;
        s.Width = width;
        s.Height = height;
        const std::string path = Dir + "/src.avi";
        testmovie::MakeTestMovie(path, s);
        return path;
    }
    std::string Dir;
};

// ------------------------------------------------------------- START and END

struct TBadRange {
    const char* Name;
    const char* StartEnd;
    const char* Says;
};

class BadFrameNumbers : public FwMediaRender, public ::testing::WithParamInterface<TBadRange> {};

TEST_P(BadFrameNumbers, AreRefusedWithAMessageAndNothingIsWritten) {
    const TBadRange& c = GetParam();
    const std::string src = Source(), out = Dir + "/out.wmv";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " " + c.StartEnd);
    EXPECT_EQ(r.Exit, 2) << r.Out;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadFrameNumbers,
    ::testing::Values(TBadRange{"NegativeStart", "-1 10", "START must not be negative"},
                      TBadRange{"NegativeEnd", "0 -10", "END must not be negative"},
                      TBadRange{"EndBeforeStart", "10 5", "END must be greater than START"},
                      TBadRange{"EndAtStart", "5 5", "END must be greater than START"},
                      TBadRange{"Word", "abc 10", "START must be a frame number"},
                      TBadRange{"Exponent", "0 1e3", "END must be a frame number"},
                      TBadRange{"Empty", "'' 10", "START must be a frame number"},
                      TBadRange{"EndJustPast31Bits", "0 2147483648", "END must be at most 2147483647"},
                      // Both wrap to small numbers in 32 bits: 0 and 4.
                      TBadRange{"BothPast32Bits", "4294967296 4294967300", "START must be at most 2147483647"},
                      TBadRange{"PastEven64Bits", "0 99999999999999999999", "END must be at most 2147483647"},
                      TBadRange{"SmallestLong", "-9223372036854775808 10", "START must not be negative"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The largest END is taken, and the clip ends with the movie.
TEST_F(FwMediaRender, LargestEndRendersToTheMoviesEnd) {
    const std::string src = Source(), out = Dir + "/out.avi";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 00 2147483647 --avi --video-compressor mjpeg",
                              "ulimit -f 40000; ");
    ASSERT_EQ(r.Exit, 0) << r.Out;
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("nb_read_frames"), "10");
}

// ------------------------------------------------------------- compressor names

struct TNames {
    const char* Name;
    const char* Args;
    const char* VideoCodec;
    const char* AudioCodec;
};

class CompressorNames : public FwMediaRender, public ::testing::WithParamInterface<TNames> {};

TEST_P(CompressorNames, FriendlyOrEncoderNameInAnyCase) {
    const TNames& c = GetParam();
    std::string list;
    rendertest::Run(std::string(FWMEDIA_BIN) + " compressors", &list);
    if (std::string(c.Args).find("x264") != std::string::npos && list.find("(libx264)") == std::string::npos)
        GTEST_SKIP() << "libx264 not in this FFmpeg";
    const std::string src = Source(), out = Dir + "/out.avi";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10 --avi " + c.Args);
    ASSERT_EQ(r.Exit, 0) << r.Out;
    const auto streams = rendertest::Probe(out, false);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), c.VideoCodec);
    EXPECT_EQ(streams[1].at("codec_name"), c.AudioCodec);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompressorNames,
    ::testing::Values(TNames{"EncoderNames", "--video-compressor mjpeg --audio-compressor mp2", "mjpeg", "mp2"},
                      TNames{"EncoderNamesUpperCase", "--video-compressor MJPEG --audio-compressor PCM_S16LE", "mjpeg",
                             "pcm_s16le"},
                      TNames{"FriendlyNamesAnyCase", "--video-compressor 'motion JPEG' --audio-compressor 'mpeg layer-2'",
                             "mjpeg", "mp2"},
                      TNames{"X264ByEncoderName", "--video-compressor libx264 --audio-compressor 'ccitt u-law'", "h264",
                             "pcm_mulaw"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TUnknown {
    const char* Name;
    const char* Args;
    const char* Says;
    const char* Lists;  // one of the choices printed
};

class UnknownCompressor : public FwMediaRender, public ::testing::WithParamInterface<TUnknown> {};

TEST_P(UnknownCompressor, PrintsTheChoices) {
    const TUnknown& c = GetParam();
    const std::string src = Source(), out = Dir + "/out.avi";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10 --avi " + c.Args);
    EXPECT_EQ(r.Exit, 2) << r.Out;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find(c.Lists), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnknownCompressor,
    ::testing::Values(TUnknown{"Video", "--video-compressor nosuch", "There is no video compressor \"nosuch\"",
                               "  Motion JPEG (mjpeg)\n"},
                      // A video encoder's name is no audio compressor.
                      TUnknown{"VideoNameForAudio", "--audio-compressor mjpeg", "There is no audio compressor \"mjpeg\"",
                               "  MPEG Layer-2 (mp2)\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- failures

// The disk fills part-way (ulimit -f; dash counts 512-byte blocks): the
// program says so and takes away the file it had started.
TEST_F(FwMediaRender, FileSizeLimitPartWayFailsAndRemovesTheFile) {
    const std::string src = Source(50, 320, 240);
    for (const auto& [out, args, blocks] :
         {std::tuple{Dir + "/out.wmv", std::string(""), 48}, std::tuple{Dir + "/out.avi", std::string(" --avi"), 800}}) {
        const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 50 --width 320 --height 240" + args,
                                  "ulimit -f " + std::to_string(blocks) + "; ");
        EXPECT_EQ(r.Exit, 1) << r.Out;
        EXPECT_NE(r.Out.find("Fail to make clip " + out), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("File too large"), std::string::npos) << r.Out;
        EXPECT_FALSE(fs::exists(out)) << out;
    }
}

// A device given as the output name is written to, and never removed.
TEST_F(FwMediaRender, FullDeviceAsOutputStays) {
    const std::string src = Source();
    const std::string device = Dir + "/full";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "can not make a device here";
    for (const std::string args : {"", " --avi"}) {
        const TRun r = RunFwMedia("render " + Q(src) + " " + Q(device) + " 0 10" + args);
        EXPECT_EQ(r.Exit, 1) << r.Out;
        EXPECT_NE(r.Out.find("Fail to make clip"), std::string::npos) << r.Out;
        EXPECT_TRUE(fs::is_character_file(device)) << args;
    }
}

// A movie whose time base claims 4000 seconds a frame writes nothing (the
// reader's frame rate of 1/4000 makes the clip 11 hours long).
TEST_F(FwMediaRender, BrokenTimeBaseWritesNothing) {
    const std::string src = Source();
    ASSERT_TRUE(rendertest::PatchAfterTag(src, "strh", 0, 28, 100000, false));
    for (const std::string args : {"", " --avi"}) {
        const std::string out = Dir + "/out" + (args.empty() ? ".wmv" : ".avi");
        const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10" + args, "ulimit -f 40000; ");
        EXPECT_EQ(r.Exit, 1) << r.Out;
        EXPECT_FALSE(fs::exists(out)) << r.Out;
    }
}

// ------------------------------------------------------------- replacing a file

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<missing>");
}

// Names in a folder that have the shape of an unfinished clip's temporary file.
std::vector<std::string> Leftovers(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (media::IsLeftoverName(e.path().filename().string())) names.push_back(e.path().filename().string());
    return names;
}

// An old file under the output's name is untouched by a refused or failed
// render (a full disk part-way) in every mode, and replaced by a finished one.
TEST_F(FwMediaRender, ReplacedFileStaysUntilTheRenderIsWholeInEveryMode) {
    const std::string src = Source(50, 320, 240);
    const std::string old = "the user's old clip";
    for (const std::string mode : {"", " --avi", " --mp4", " --webm", " --copy"}) {
        SCOPED_TRACE(mode);
        const std::string out = Dir + "/prev.out";
        std::ofstream(out, std::ios::binary) << old;
        struct {
            const char* Why;
            std::string Range;
            std::string Prefix;
        } failures[] = {{"start past the end", " 5000 5010", ""}, {"disk full part-way", " 0 50", "ulimit -f 24; "}};
        for (const auto& f : failures) {
            const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + f.Range + mode, f.Prefix);
            EXPECT_EQ(r.Exit, 1) << f.Why << "\n" << r.Out;
            EXPECT_NE(r.Out.find("Fail to make clip " + out), std::string::npos) << r.Out;
            EXPECT_EQ(Bytes(out), old) << f.Why;
            EXPECT_TRUE(Leftovers(Dir).empty()) << f.Why;
        }
        const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 10 20" + mode);
        EXPECT_EQ(r.Exit, 0) << r.Out;
        EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, rendertest::Range(10, 20));
        EXPECT_TRUE(Leftovers(Dir).empty());
    }
}

// The source is never the output: not by its own name, a symbolic link, a
// hard link or another spelling of its path.
TEST_F(FwMediaRender, OutputThatIsTheSourceIsRefusedWhateverItsName) {
    const std::string src = Source();
    fs::create_symlink(src, Dir + "/link.avi");
    fs::create_hard_link(src, Dir + "/hard.avi");
    const std::string before = Bytes(src);
    for (const std::string out : {src, Dir + "/link.avi", Dir + "/hard.avi", Dir + "/./src.avi"}) {
        for (const std::string mode : {"", " --mp4", " --copy"}) {
            const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10" + mode);
            EXPECT_EQ(r.Exit, 1) << out << mode << "\n" << r.Out;
            EXPECT_NE(r.Out.find("is the movie being cut"), std::string::npos) << r.Out;
            EXPECT_EQ(Bytes(src), before) << out << mode;
        }
    }
}

// A render killed outright (SIGKILL, as at a power loss) leaves the old file
// under the output's name as it was; its temporary file is recognisable and
// the next render into the folder removes it.
TEST_F(FwMediaRender, KilledRenderLeavesTheOldFileAndItsLeftoverIsCleanedUp) {
    const std::string src = Source(250, 320, 240);
    const std::string out = Dir + "/clip.avi";
    std::ofstream(out, std::ios::binary) << "old";
    // Killed once its temporary file has some data in it.
    const std::string script = std::string(FWMEDIA_BIN) + " render " + Q(src) + " " + Q(out) +
                               " 0 250 --avi --video-compressor cinepak >/dev/null 2>&1 & pid=$!; for i in $(seq 600); do "
                               "[ -n \"$(find " + Q(Dir) + " -name '.clip.avi.fwpart-*' -size +8k)\" ] && break; "
                               "sleep 0.05; done; kill -9 $pid; wait $pid; exit 0";
    ASSERT_EQ(rendertest::Run(script), 0);
    EXPECT_EQ(Bytes(out), "old");
    ASSERT_EQ(Leftovers(Dir).size(), 1u);

    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(Dir + "/next.mp4") + " 0 5 --mp4");
    EXPECT_EQ(r.Exit, 0) << r.Out;
    EXPECT_TRUE(Leftovers(Dir).empty());
    EXPECT_EQ(Bytes(out), "old");
}

// Stopped with Ctrl+C part-way, in every mode: the old file is replaced by the
// stopped clip's playable part, and nothing is left under a temporary name.
TEST_F(FwMediaRender, StoppedRenderReplacesTheOldFileWithItsPlayablePartInEveryMode) {
    const std::string src = Source(250, 320, 240);
    for (const std::string mode : {"", " --avi --video-compressor cinepak", " --mp4", " --webm", " --copy"}) {
        SCOPED_TRACE(mode);
        const std::string out = Dir + "/stopped.out";
        std::ofstream(out, std::ios::binary) << "old";
        const std::string script = "exec 3>&1; " + std::string(FWMEDIA_BIN) + " render " + Q(src) + " " + Q(out) +
                                   " 0 250" + mode + " >" + Q(Dir + "/said.txt") +
                                   " 2>/dev/null & pid=$!; for i in $(seq 400); do "
                                   "[ -n \"$(find " + Q(Dir) + " -name '.stopped.out.fwpart-*')\" ] && break; "
                                   "sleep 0.02; done; sleep 0.3; kill -INT $pid; wait $pid";
        EXPECT_EQ(rendertest::Run(script), 0);
        std::ifstream said(Dir + "/said.txt");
        const std::string text((std::istreambuf_iterator<char>(said)), {});
        EXPECT_TRUE(text.find("Stopped; written " + out) != std::string::npos ||
                    text.find("Written " + out) != std::string::npos)
            << text;
        const auto decoded = rendertest::DecodeFile(out);
        EXPECT_EQ(decoded.Error, "");
        ASSERT_FALSE(decoded.FrameNumbers.empty());
        EXPECT_EQ(decoded.FrameNumbers, rendertest::Range(0, static_cast<int>(decoded.FrameNumbers.size())));
        EXPECT_TRUE(Leftovers(Dir).empty());
    }
}

// Two renders to the same name at once: each writes its own temporary file,
// both finish whole, and the file is the one that finished last.
TEST_F(FwMediaRender, TwoRendersToOneNameBothFinishWhole) {
    const std::string src = Source(100, 320, 240);
    const std::string out = Dir + "/o.mp4";
    const std::string one = std::string(FWMEDIA_BIN) + " render " + Q(src) + " " + Q(out);
    std::string printed;
    ASSERT_EQ(rendertest::Run("(" + one + " 0 100 --mp4 2>/dev/null & " + one +
                                  " 20 40 --mp4 2>/dev/null & wait %1 && wait %2)",
                              &printed),
              0);
    size_t written = 0;
    for (size_t at = printed.find("Written " + out); at != std::string::npos; at = printed.find("Written " + out, at + 1))
        ++written;
    EXPECT_EQ(written, 2u) << printed;
    const auto decoded = rendertest::DecodeFile(out);
    EXPECT_EQ(decoded.Error, "");
    EXPECT_TRUE(decoded.FrameNumbers == rendertest::Range(0, 100) || decoded.FrameNumbers == rendertest::Range(20, 40));
    EXPECT_TRUE(Leftovers(Dir).empty());
}

// ------------------------------------------------------------- damaged and changing sources

// Frames and length (seconds) of the video of a written file, by ffprobe.
struct TWritten {
    int Frames = -1;
    double Seconds = -1;
};
TWritten WrittenVideo(const std::string& path) {
    std::string out;
    rendertest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                    "-show_entries format=duration -of default=nw=1 " + Q(path) + " 2>/dev/null",
                    &out);
    TWritten w;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("nb_read_frames=", 0) == 0) w.Frames = std::atoi(line.c_str() + 15);
        if (line.rfind("duration=", 0) == 0) w.Seconds = std::atof(line.c_str() + 9);
    }
    return w;
}

// Moves the presentation (and decoding) time of the nth video PES packet of
// an MPEG transport stream `seconds` later: one extreme time stamp.
bool ShiftPesTime(const std::string& path, int nth, double seconds) {
    std::string b;
    {
        std::ifstream in(path, std::ios::binary);
        b.assign(std::istreambuf_iterator<char>(in), {});
    }
    size_t at = std::string::npos;
    for (int i = 0, from = 0; i <= nth; ++i, from = int(at) + 4) {
        at = b.find(std::string("\x00\x00\x01\xE0", 4), size_t(from));
        if (at == std::string::npos || at + 19 > b.size()) return false;
    }
    const int flags = static_cast<uint8_t>(b[at + 7]);
    auto patch = [&](size_t p) {
        auto u = [&](size_t k) { return uint64_t(static_cast<uint8_t>(b[p + k])); };
        uint64_t t = ((u(0) >> 1) & 7) << 30 | u(1) << 22 | (u(2) >> 1) << 15 | u(3) << 7 | u(4) >> 1;
        t = (t + uint64_t(seconds * 90000)) & ((uint64_t(1) << 33) - 1);
        b[p] = char((u(0) & 0xF0) | ((t >> 29) & 0x0E) | 1);
        b[p + 1] = char(t >> 22);
        b[p + 2] = char(((t >> 14) & 0xFE) | 1);
        b[p + 3] = char(t >> 7);
        b[p + 4] = char(((t << 1) & 0xFE) | 1);
    };
    if (!(flags & 0x80)) return false;
    patch(at + 9);
    if (flags & 0x40) patch(at + 14);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << b;
    return true;
}

// A damaged clock never stretches a clip: a render either succeeds with at
// most the source's frames, lasting no longer than its frame count at the
// output rate plus one frame, or fails with a sentence and leaves nothing.
// One extreme time stamp is closed up; pictures that end long before the
// length the file states (a file cut short) are named and refused.
struct TDamaged {
    const char* Name;
    const char* Args;
    const char* Ext;
    bool Truncated;  // a Matroska file cut short; else a transport stream with one extreme stamp
    bool Refused;
};
void PrintTo(const TDamaged& c, std::ostream* os) { *os << c.Name; }
class DamagedClock : public FwMediaRender, public ::testing::WithParamInterface<TDamaged> {};

TEST_P(DamagedClock, IsClosedUpOrRefusedNeverStretched) {
    const TDamaged& c = GetParam();
    testmovie::TMovieSpec s;
    s.Frames = 100;
    s.GopSize = 10;
    std::string src;
    if (c.Truncated) {
        s.Container = "matroska";
        s.VideoCodec = "libx264";
        s.TruncateFraction = 0.3;
        src = Dir + "/cut.mkv";
    } else {
        s.Container = "mpegts";
        s.VideoCodec = "mpeg2video";
        src = Dir + "/jump.ts";
    }
    testmovie::MakeTestMovie(src, s);
    if (!c.Truncated) ASSERT_TRUE(ShiftPesTime(src, 60, 40));
    const std::string out = Dir + "/out." + c.Ext;
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 2147483647 " + c.Args);
    if (c.Refused) {
        EXPECT_EQ(r.Exit, 1) << r.Out;
        EXPECT_NE(r.Out.find("could not be read"), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("choose a range that ends by frame"), std::string::npos) << r.Out;
        EXPECT_FALSE(fs::exists(out));
        return;
    }
    ASSERT_EQ(r.Exit, 0) << r.Out;
    const TWritten w = WrittenVideo(out);
    EXPECT_GE(w.Frames, 90) << r.Out;
    EXPECT_LE(w.Frames, 100) << r.Out;
    EXPECT_LE(w.Seconds, (w.Frames + 1) / 25.0 + 1e-3) << r.Out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedClock,
    ::testing::Values(TDamaged{"ExtremeStampToWmv", "--no-audio", "wmv", false, false},
                      TDamaged{"ExtremeStampToMp4", "--mp4", "mp4", false, false},
                      TDamaged{"CutShortToWmv", "--no-audio", "wmv", true, true},
                      TDamaged{"CutShortToMp4", "--mp4", "mp4", true, true},
                      TDamaged{"CutShortCopy", "--copy", "mp4", true, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// An audio-only profile on a movie without sound would write nothing but
// silence: it is refused with a sentence, and nothing is written.
TEST_F(FwMediaRender, SoundOnlyProfileOnASilentMovieIsRefused) {
    testmovie::TMovieSpec s;
    s.Container = "avi";
    s.VideoCodec = "mjpeg";
    s.Frames = 10;
    const std::string src = Dir + "/silent.avi", out = Dir + "/out.wmv";
    testmovie::MakeTestMovie(src, s);
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10 --profile {407B9450-8BDC-4EE5-88B8-6F527BD941F2}");
    EXPECT_EQ(r.Exit, 1) << r.Out;
    EXPECT_NE(r.Out.find("has no sound, and the chosen profile writes only sound"), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(out));
}

// ------------------------------------------------------------- --copy

class FwMediaCopy : public FwMediaRender {
protected:
    // H.264 with AAC in MP4, a key frame every 10 frames.
    std::string H264Source(int frames = 50) {
        testmovie::TMovieSpec s;
        s.Container = "mp4";
        s.VideoCodec = "libx264";
        s.AudioCodec = "aac";
        s.Frames = frames;
        s.GopSize = 10;
        const std::string path = Dir + "/src.mp4";
        testmovie::MakeTestMovie(path, s);
        return path;
    }
};

// An H.264 source between its key frames: the exact frames, as H.264 in MP4
// with the sound; a copy prints its plan, a re-encoded clip says why on one
// line of standard error instead.
TEST_F(FwMediaCopy, WritesTheExactFramesAndSaysWhatItDid) {
    const std::string src = H264Source(), out = Dir + "/cut.mp4";
    const media::TCopyPlan plan = media::PlanCopy(src, 13, 37);
    const TSplitRun r = RunFwMediaSplit("render " + Q(src) + " " + Q(out) + " 13 37 --copy", Dir + "/err.txt");
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("Written " + out + "\n"), std::string::npos) << r.Out;
    if (plan.CanCopy) {
        // Needs the copying engine.
        const std::string line = "copy: head " + std::to_string(plan.HeadFrames) + ", copied " +
                                 std::to_string(plan.CopiedFrames) + ", tail " + std::to_string(plan.TailFrames) +
                                 " frames; audio " + (plan.AudioCopied ? "copied" : "re-encoded") + "\n";
        EXPECT_NE(r.Out.find(line), std::string::npos) << r.Out;
        EXPECT_EQ(plan.HeadFrames + plan.CopiedFrames + plan.TailFrames, 24);
        EXPECT_EQ(OwnLines(r.Err), std::vector<std::string>{}) << r.Err;
    } else {
        EXPECT_EQ(r.Out.find("copy:"), std::string::npos) << r.Out;
        EXPECT_EQ(OwnLines(r.Err), std::vector<std::string>{CopyFallbackNotice(plan.Why).toStdString()}) << r.Err;
    }
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "160");
    EXPECT_EQ(streams[0].at("nb_read_frames"), "24");
    EXPECT_EQ(streams[1].at("codec_type"), "audio");
    EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, rendertest::Range(13, 37));
}

// Motion JPEG is never copied: re-encoded as --mp4 writes it (the source's
// size, AAC sound), with the reason as the only line on standard error.
TEST_F(FwMediaCopy, SourceItCanNotCopyIsReencodedWithOneLineSayingWhy) {
    const std::string src = Source(10), out = Dir + "/out.mp4";
    const media::TCopyPlan plan = media::PlanCopy(src, 2, 8);
    ASSERT_FALSE(plan.CanCopy);
    ASSERT_FALSE(plan.Why.empty());
    const TSplitRun r = RunFwMediaSplit("render " + Q(src) + " " + Q(out) + " 2 8 --copy", Dir + "/err.txt");
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_EQ(OwnLines(r.Err), std::vector<std::string>{CopyFallbackNotice(plan.Why).toStdString()}) << r.Err;
    EXPECT_EQ(r.Out.find("copy:"), std::string::npos) << r.Out;
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "h264");
    EXPECT_EQ(streams[0].at("width"), "160");
    EXPECT_EQ(streams[0].at("height"), "120");
    EXPECT_EQ(streams[1].at("codec_name"), "aac");
    EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, rendertest::Range(2, 8));
}

struct TCopyWith {
    const char* Name;
    const char* Args;  // with --copy
    const char* Says;
};

class CopyWithOtherOptions : public FwMediaRender, public ::testing::WithParamInterface<TCopyWith> {};

TEST_P(CopyWithOtherOptions, AreAUsageErrorAndNothingIsWritten) {
    const TCopyWith& c = GetParam();
    const std::string src = Source(), out = Dir + "/out.mp4";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10 " + c.Args);
    EXPECT_EQ(r.Exit, 2) << r.Out;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("--copy"), std::string::npos) << "the usage shows --copy: " << r.Out;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyWithOtherOptions,
    ::testing::Values(TCopyWith{"Mp4", "--copy --mp4", "--copy takes no other option (--mp4)"},
                      TCopyWith{"WebMFirst", "--webm --copy", "--copy takes no other option (--webm)"},
                      TCopyWith{"Avi", "--copy --avi", "--copy takes no other option (--avi)"},
                      TCopyWith{"Crf", "--copy --crf 20", "--copy takes no other option (--crf)"},
                      TCopyWith{"Preset", "--copy --preset fast", "--copy takes no other option (--preset)"},
                      TCopyWith{"AudioBitRate", "--copy --audio-bitrate 64", "(--audio-bitrate)"},
                      TCopyWith{"Size", "--copy --width 320 --height 240", "--copy takes no other option (--width)"},
                      TCopyWith{"HeightOnly", "--copy --height 240", "--copy takes no other option (--height)"},
                      TCopyWith{"NoAudio", "--copy --no-audio", "--copy takes no other option (--no-audio)"},
                      TCopyWith{"Profile", "--copy --profile {0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}", "(--profile)"},
                      TCopyWith{"AudioFormat", "--copy --audio-format 2", "(--audio-format)"},
                      TCopyWith{"VideoCompressor", "--copy --video-compressor mjpeg", "(--video-compressor)"},
                      TCopyWith{"AudioCompressor", "--copy --audio-compressor mp2", "(--audio-compressor)"},
                      // There is no --wmv (WMV is what no kind gives): an unknown option.
                      TCopyWith{"Wmv", "--copy --wmv", "usage: fwmedia render"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- animations and the sound track

struct TShareUsage {
    const char* Name;
    const char* Args;
    const char* Says;
};
void PrintTo(const TShareUsage& c, std::ostream* os) { *os << c.Name; }

class ShareUsage : public FwMediaRender, public ::testing::WithParamInterface<TShareUsage> {};

TEST_P(ShareUsage, IsAUsageErrorAndNothingIsWritten) {
    const TShareUsage& c = GetParam();
    const std::string src = Source(), out = Dir + "/out.gif";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10 " + c.Args);
    EXPECT_EQ(r.Exit, 2) << r.Out;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShareUsage,
    ::testing::Values(TShareUsage{"RateTooLow", "--gif --fps 4", "--fps takes a whole number of frames per second from 5 to 30"},
                      TShareUsage{"RateWithoutAnimation", "--fps 10", "go with --gif or --webp"},
                      TShareUsage{"DitherOnWebP", "--webp --dither bayer", "--dither and --palette go with --gif"},
                      TShareUsage{"UnknownDither", "--gif --dither noise", "--dither takes none, bayer or diffusion"},
                      TShareUsage{"GifAndWebP", "--gif --webp", "Choose one of --gif and --webp."},
                      TShareUsage{"GifAndMp4", "--gif --mp4", "Choose one of --avi, --mp4, --webm, --gif and --webp."},
                      TShareUsage{"CopyAndGif", "--copy --gif", "--copy takes no other option"},
                      TShareUsage{"TrackNotANumber", "--mp4 --audio-track first", "--audio-track takes the number"}),
    [](const auto& info) { return std::string(info.param.Name); });

// 10 frames at 25 fps as a GIF at 10 fps, 80 wide, played once.
TEST_F(FwMediaRender, GifTakesItsRateWidthAndLoop) {
    const std::string src = Source(), out = Dir + "/out.gif";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 0 10 --gif --fps 10 --width 80 --no-loop");
    ASSERT_EQ(r.Exit, 0) << r.Out;
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(rendertest::Str(streams[0], "codec_name"), "gif");
    EXPECT_EQ(rendertest::Num(streams[0], "width"), 80);
    EXPECT_EQ(rendertest::Num(streams[0], "height"), 60);
    EXPECT_EQ(rendertest::Num(streams[0], "nb_read_frames"), 4);
    const auto decoded = rendertest::DecodeFile(out);
    EXPECT_EQ(decoded.FrameNumbers, (std::vector<int>{0, 2, 5, 7}));
}

}  // namespace
