// The timeline's pieces: key-frame thumbnails show their frame, the closest
// zoom shows every frame exactly, the waveform puts the sound where it is,
// the cache gives everything back without reading the movie and is never
// trusted when damaged or stale, and fwmedia writes the strip and waveform.
#include "tests/fixtures/TestMovie.h"

#include "media/FileIdentity.h"
#include "media/MovieReader.h"
#include "media/Timeline.h"
#include "media/TimelineJob.h"
#include "media/Waveform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using media::TMovieReader;
using testmovie::TMovieSpec;

std::string Shell(const std::string& command, int* exitCode = nullptr) {
    std::string out;
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    const double mse = sum / double(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TMovieSpec Movie(const char* container, const char* video, const char* audio, int frames, int gop, int bframes) {
    TMovieSpec s;
    s.Container = container;
    s.VideoCodec = video;
    s.AudioCodec = audio;
    s.Frames = frames;
    s.GopSize = gop;
    s.MaxBFrames = bframes;
    s.Width = 192;
    s.Height = 108;
    return s;
}

class Timeline : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw_timeline_"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Dir;
};

// A thumbnail of a key frame is that frame: against ffmpeg's own decode of
// it scaled to the same size, and by the number it draws; and it costs one
// decoded picture.
TEST_F(Timeline, KeyFrameThumbnailsShowTheirFrame) {
    struct TCase {
        const char* File;
        TMovieSpec Spec;
        bool Indexed;  // a seek lands on the key frame; else key pictures are read on from an earlier one
    } cases[] = {
        {"h.mp4", Movie("mp4", "libx264", "", 60, 12, 3), true},
        {"m.ts", Movie("mpegts", "mpeg2video", "", 60, 15, 2), false},
        {"v.webm", Movie("webm", "libvpx-vp9", "", 40, 20, 0), true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string path = Dir + "/" + c.File;
        testmovie::MakeTestMovie(path, c.Spec);
        TMovieReader reader;
        ASSERT_TRUE(reader.Open(path)) << reader.LastError();
        const auto keys = reader.KeyFrames().Frames;
        ASSERT_GE(keys.size(), 2u);
        const int w = media::ThumbWidth(192, 108), h = media::kThumbHeight;
        media::TRgbPicture first;
        ASSERT_TRUE(reader.KeyPictureAt(0, w, h, first));  // opens the decoder (which decodes the first picture)
        EXPECT_EQ(testmovie::ReadFrameNumber(first.Rgb.data(), w, h), 0);
        for (const int64_t key : {keys[1], keys.back()}) {
            const uint64_t before = reader.Stats().FramesDecoded;
            media::TRgbPicture thumb;
            int64_t shown = -1;
            ASSERT_TRUE(reader.KeyPictureAt(key + 1, w, h, thumb, &shown)) << reader.LastError();
            EXPECT_EQ(shown, key) << "a frame after a key frame shows that key frame";
            EXPECT_LE(reader.Stats().FramesDecoded - before, c.Indexed ? 1u : keys.size())
                << "only key frames are decoded";
            EXPECT_EQ(testmovie::ReadFrameNumber(thumb.Rgb.data(), w, h), key);
            const std::string plain =
                Shell("ffmpeg -v error -i '" + path + "' -vf 'select=eq(n\\," + std::to_string(key) + "),scale=" +
                    std::to_string(w) + ":" + std::to_string(h) +
                    ":flags=bicubic' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
            EXPECT_GE(Psnr(thumb.Rgb, std::vector<uint8_t>(plain.begin(), plain.end())), 30.0) << "key " << key;
        }
        // The reader decodes exact frames as before after thumbnails.
        media::TRgbPicture exact;
        ASSERT_TRUE(reader.FrameAt(keys[1] + 2, 96, 54, exact));
        EXPECT_EQ(testmovie::ReadFrameNumber(exact.Rgb.data(), 96, 54), keys[1] + 2);
    }
}

// Waits for the job's events: Picture frames seen, and completion.
struct TListener {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::set<int64_t> Pictures;
    std::vector<std::string> Order;  // event kinds in order
    bool Planned = false, Ended = false;

    media::TJobEvents Events() {
        media::TJobEvents e;
        e.Plan = [this](const media::TJobPlan&) { Note("plan", [&] { Planned = true; }); };
        e.Picture = [this](int64_t f) { Note("picture", [&] { Pictures.insert(f); }); };
        e.Progress = [this](const media::TJobProgress&) { Note("progress", [] {}); };
        e.End = [this](const media::TJobEnd&) { Note("end", [&] { Ended = true; }); };
        return e;
    }
    template <class F>
    void Note(const char* kind, F f) {
        std::lock_guard lock(Mutex);
        Order.push_back(kind);
        f();
        Changed.notify_all();
    }
    template <class P>
    bool WaitFor(P done) {
        std::unique_lock lock(Mutex);
        return Changed.wait_for(lock, std::chrono::seconds(60), done);
    }
};

// At the closest zoom every frame in view gets its own thumbnail, decoded exactly.
TEST_F(Timeline, ClosestZoomShowsEveryFrameExactly) {
    const std::string path = Dir + "/e.mp4";
    testmovie::MakeTestMovie(path, Movie("mp4", "libx264", "", 60, 24, 3));
    TListener listener;
    auto job = media::TTimelineJob::Start({path, "", 0, true, false}, listener.Events());
    job->Focus(30, 41, true);
    ASSERT_TRUE(listener.WaitFor([&] {
        for (int64_t f = 30; f <= 41; ++f)
            if (!listener.Pictures.count(f)) return false;
        return true;
    }));
    for (int64_t f = 30; f <= 41; ++f) {
        media::TRgbPicture t;
        ASSERT_TRUE(job->ExactThumb(f, t)) << f;
        ASSERT_FALSE(t.Empty());
        EXPECT_EQ(testmovie::ReadFrameNumber(t.Rgb.data(), t.Width, t.Height), f);
    }
    ASSERT_TRUE(job->WaitComplete(std::chrono::seconds(60)));
    // After completion the job still answers a new view.
    job->Focus(50, 55, true);
    ASSERT_TRUE(listener.WaitFor([&] { return listener.Pictures.count(55) > 0; }));
    media::TRgbPicture t;
    ASSERT_TRUE(job->ExactThumb(52, t));
    EXPECT_EQ(testmovie::ReadFrameNumber(t.Rgb.data(), t.Width, t.Height), 52);
    job->Cancel();
    ASSERT_TRUE(listener.WaitFor([&] { return listener.Ended; }));
    EXPECT_EQ(listener.Order.front(), "plan");
    EXPECT_EQ(listener.Order.back(), "end");
}

// The thumbnails in view come first.
TEST_F(Timeline, ThumbnailsInViewComeFirst) {
    const std::string path = Dir + "/v.mkv";
    testmovie::MakeTestMovie(path, Movie("matroska", "libx264", "", 200, 10, 0));
    TListener listener;
    std::vector<int64_t> order;
    media::TJobEvents events = listener.Events();
    events.Picture = [&](int64_t f) {
        std::lock_guard lock(listener.Mutex);
        order.push_back(f);
    };
    auto job = media::TTimelineJob::Start({path, "", 0, true, false}, events);
    job->Focus(150, 170, false);  // told before the key frames are known, as the window does
    ASSERT_TRUE(job->WaitComplete(std::chrono::seconds(60)));
    ASSERT_EQ(order.size(), job->Info().ThumbFrames.size());
    ASSERT_GE(order.size(), 20u);
    const std::vector<int64_t> keys = job->Info().ThumbFrames;
    std::set<int64_t> inView, beside;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] >= 150 && keys[i] <= 170) inView.insert(keys[i]);
        else if (i + 1 < keys.size() && keys[i] < 150 && keys[i + 1] >= 150) beside.insert(keys[i]);
        else if (i > 0 && keys[i] > 170 && keys[i - 1] <= 170) beside.insert(keys[i]);
    }
    ASSERT_GE(inView.size(), 2u);
    ASSERT_EQ(beside.size(), 2u);
    const auto n = std::ptrdiff_t(inView.size());
    EXPECT_EQ(std::set<int64_t>(order.begin(), order.begin() + n), inView) << "the view's key frames first";
    EXPECT_EQ(std::set<int64_t>(order.begin() + n, order.begin() + n + 2), beside) << "then outwards";
}

// Tone bursts at known times have their peaks in the right columns, within one.
TEST_F(Timeline, WaveformPeaksWhereTheToneIs) {
    struct TCase {
        const char* File;
        const char* Container;
        const char* Video;
        const char* Audio;
    } cases[] = {
        {"p.avi", "avi", "mjpeg", "pcm_s16le"},
        {"a.mp4", "mp4", "libx264", "aac"},
        {"o.mkv", "matroska", "mpeg4", "libopus"},
    };
    const int columns = 100;  // 40 ms each over the 4 s movie
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TMovieSpec spec = Movie(c.Container, c.Video, c.Audio, 100, 25, 0);
        spec.SampleRate = std::string(c.Audio) == "libopus" ? 48000 : 44100;
        spec.ToneBursts = {{1.0, 1.2}, {2.6, 3.0}};
        const std::string path = Dir + "/" + c.File;
        testmovie::MakeTestMovie(path, spec);
        media::TWaveform wave;
        const media::TWaveformResult r = media::ReadWaveform(path, wave);
        ASSERT_TRUE(r.HasSound);
        ASSERT_EQ(r.Error, "");
        const auto cols = media::WaveColumns(wave, 0, 4.0, columns);
        for (int i = 0; i < columns; ++i) {
            const bool tone = (i >= 25 && i < 30) || (i >= 65 && i < 75);
            const bool edge = i == 24 || i == 30 || i == 64 || i == 75;  // the column either side
            if (tone) EXPECT_GT(cols[size_t(i)].Peak, 0.2f) << "column " << i;
            else if (!edge) EXPECT_LT(cols[size_t(i)].Peak, 0.05f) << "column " << i;
            if (tone) EXPECT_NEAR(cols[size_t(i)].Rms, 0.3 / std::sqrt(2.0), 0.06) << "column " << i;
        }
    }
}

TEST_F(Timeline, NoSoundNoWaveformNoError) {
    const std::string path = Dir + "/silent.mp4";
    testmovie::MakeTestMovie(path, Movie("mp4", "libx264", "", 30, 10, 0));
    media::TWaveform wave;
    const media::TWaveformResult r = media::ReadWaveform(path, wave);
    EXPECT_FALSE(r.HasSound);
    EXPECT_EQ(r.Error, "");
    EXPECT_TRUE(wave.Empty());
    TListener listener;
    auto job = media::TTimelineJob::Start({path, "", 0, true, true}, listener.Events());
    ASSERT_TRUE(job->WaitComplete(std::chrono::seconds(60)));
    EXPECT_FALSE(job->Info().HasSound);
    EXPECT_EQ(job->Info().ThumbFrames, (std::vector<int64_t>{0, 10, 20}));
    job.reset();
    EXPECT_EQ(listener.Order.back(), "end");
}

class TimelineCache : public Timeline {
protected:
    void SetUp() override {
        Timeline::SetUp();
        Movie = Dir + "/c.mkv";
        Cache = Dir + "/cache";
        TMovieSpec spec = ::Movie("matroska", "libx264", "aac", 75, 25, 2);
        spec.ToneBursts = {{1.0, 2.0}};
        testmovie::MakeTestMovie(Movie, spec);
    }
    media::TTimelineJob::TInfo Build(media::TTimelineData* data = nullptr) {
        auto job = media::TTimelineJob::Start({Movie, Cache, 64 << 20, true, true}, {});
        EXPECT_TRUE(job->WaitComplete(std::chrono::seconds(60)));
        const auto info = job->Info();
        if (data) {
            for (const int64_t f : info.ThumbFrames) job->Thumb(f, data->Thumbs[f]);
            job->WaveSince(0, data->Wave);
        }
        return info;
    }
    std::string CacheFile() const {
        for (const auto& e : fs::directory_iterator(Cache)) return e.path().string();
        return {};
    }
    std::string Movie, Cache;
};

TEST_F(TimelineCache, SecondOpenReadsNoPackets) {
    media::TTimelineData first, second;
    const auto built = Build(&first);
    EXPECT_FALSE(built.FromCache);
    EXPECT_GT(built.PacketsRead, 0u);
    EXPECT_EQ(built.KeyFrames, (std::vector<int64_t>{0, 25, 50}));
    EXPECT_TRUE(built.HasSound);
    const auto kept = Build(&second);
    EXPECT_TRUE(kept.FromCache);
    EXPECT_EQ(kept.PacketsRead, 0u);
    EXPECT_EQ(kept.FramesDecoded, 0u);
    EXPECT_EQ(kept.KeyFrames, built.KeyFrames);
    EXPECT_EQ(kept.FrameCount, built.FrameCount);
    EXPECT_TRUE(kept.HasSound);
    ASSERT_EQ(second.Thumbs.size(), 3u);
    for (const auto& [f, t] : second.Thumbs) EXPECT_EQ(t.Rgb, first.Thumbs[f].Rgb) << f;
    EXPECT_EQ(second.Wave.Peak, first.Wave.Peak);
}

TEST_F(TimelineCache, ChangedFileIsBuiltAgain) {
    Build();
    // Same size and content at the start and end, another modification time.
    const auto t = fs::last_write_time(Movie);
    fs::last_write_time(Movie, t + std::chrono::seconds(5));
    EXPECT_FALSE(Build().FromCache);
    EXPECT_TRUE(Build().FromCache);
}

TEST_F(TimelineCache, DamagedEntryIsRebuiltNeverTrusted) {
    Build();
    const std::string file = CacheFile();
    ASSERT_FALSE(file.empty());
    const auto size = fs::file_size(file);
    for (const char* damage : {"truncated", "garbled", "empty"}) {
        SCOPED_TRACE(damage);
        if (std::string(damage) == "truncated") {
            fs::resize_file(file, size / 2);
        } else if (std::string(damage) == "garbled") {
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(std::streamoff(size / 3));
            f.put('\x5a').put('\xa5');
        } else {
            fs::resize_file(file, 0);
        }
        const auto info = Build();
        EXPECT_FALSE(info.FromCache);
        EXPECT_EQ(info.KeyFrames, (std::vector<int64_t>{0, 25, 50}));
        EXPECT_EQ(fs::file_size(file), size) << "rebuilt whole";
        EXPECT_TRUE(Build().FromCache);
    }
}

TEST_F(TimelineCache, LimitRemovesTheLeastRecentlyUsed) {
    media::TTimelineData data;
    data.FrameCount = 10;
    data.Wave.Peak.assign(25000, 0.5f);  // about 200 kB a file
    data.Wave.Rms = data.Wave.Peak;
    const media::TTimelineCache cache(Cache, 500000);
    std::vector<media::TFileIdentity> ids;
    for (int i = 0; i < 4; ++i) {
        media::TFileIdentity id;
        id.Size = uint64_t(i + 1);
        id.ModifiedNs = 1;
        id.ContentHash = "abc";
        ids.push_back(id);
        cache.Store(id, data);
        // Distinct times; the first is used again before the last is written.
        fs::last_write_time(cache.PathFor(id), fs::file_time_type::clock::now() - std::chrono::minutes(10 - i));
        if (i == 1) EXPECT_TRUE(cache.Load(ids[0]).has_value());
    }
    EXPECT_TRUE(fs::exists(cache.PathFor(ids[0]))) << "used lately";
    EXPECT_FALSE(fs::exists(cache.PathFor(ids[1]))) << "the oldest goes";
    EXPECT_FALSE(fs::exists(cache.PathFor(ids[2])));
    EXPECT_TRUE(fs::exists(cache.PathFor(ids[3])));
    uint64_t total = 0;
    for (const auto& e : fs::directory_iterator(Cache)) total += e.file_size();
    EXPECT_LE(total, 500000u);
}

TEST_F(TimelineCache, UnwritableCacheKeepsTheTimeline) {
    // A cache folder below a regular file can not be made.
    std::ofstream(Dir + "/file") << "x";
    auto job = media::TTimelineJob::Start({Movie, Dir + "/file/cache", 64 << 20, true, true}, {});
    ASSERT_TRUE(job->WaitComplete(std::chrono::seconds(60)));
    EXPECT_EQ(job->Info().KeyFrames, (std::vector<int64_t>{0, 25, 50}));
}

// fwmedia strip and waveform write pictures of the asked width; bad input says so.
TEST_F(Timeline, FwMediaStripAndWaveform) {
    const std::string path = Dir + "/f.mp4";
    TMovieSpec spec = Movie("mp4", "libx264", "aac", 50, 10, 0);
    spec.ToneBursts = {{0.5, 1.0}};
    testmovie::MakeTestMovie(path, spec);
    const std::string bin = FWMEDIA_BIN;
    int rc = -1;
    Shell(bin + " strip '" + path + "' '" + Dir + "/s.png' --width 500", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + Dir + "/s.png'"),
              "500," + std::to_string(media::kThumbHeight) + "\n");
    Shell(bin + " waveform '" + path + "' '" + Dir + "/w.png'", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(fs::exists(Dir + "/w.png"));
    EXPECT_EQ(Shell(bin + " keyframes '" + path + "'", &rc), "0\n10\n20\n30\n40\n");
    Shell(bin + " strip '" + Dir + "/missing.mp4' '" + Dir + "/x.png' 2>/dev/null", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_FALSE(fs::exists(Dir + "/x.png"));
    Shell(bin + " strip '" + path + "' 2>/dev/null", &rc);
    EXPECT_EQ(rc, 2);
}

}  // namespace
