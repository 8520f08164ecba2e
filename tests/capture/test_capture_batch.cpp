// The capture batch core (the capture job and its synchronous run) and the
// snapshot writer on movies whose frames draw their own numbers.
#include "capture/CaptureBatch.h"
#include "capture/Snapshot.h"
#include "media/CaptureJob.h"
#include "media/MovieReader.h"
#include "ImageReaders.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <thread>

namespace fs = std::filesystem;
using media::PictureExtension;
using media::ptBmp;
using media::ptGif;
using media::ptJpg;
using media::ptPng;

namespace {

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int FrameNumberOf(const std::string& path) {
    const TDecodedImage img = ReadPicture(path);
    if (!img.Error.empty()) return -2;
    return testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height);
}

// One movie for the whole suite: 101 frames of 160x120 at 25 fps.
class CaptureBatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        MovieDir = testmovie::MakeTempDir("fw-capture-movie");
        Movie = MovieDir + "/count.avi";
        testmovie::TMovieSpec spec;
        spec.Frames = 101;
        testmovie::MakeTestMovie(Movie, spec);
    }
    static void TearDownTestSuite() { fs::remove_all(MovieDir); }

    void SetUp() override {
        Dir = testmovie::MakeTempDir("fw-capture");
        media::TMovieReader reader;
        ASSERT_TRUE(reader.Open(Movie)) << reader.LastError();
        Info.Folder = QString::fromStdString(Dir) + "/batch/";
        Info.SourceFile = QString::fromStdString(Movie);
        Info.FrameWidth = 160;
        Info.FrameHeight = 120;
        Info.FrameRate = reader.Facts().FrameRate;
        Info.PictureType = ptBmp;
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Batch() const { return Info.Folder.toStdString(); }

    static std::string MovieDir, Movie;
    std::string Dir;
    TProgressInfo Info;
    QStringList Messages;
    TCaptureEvents Events{nullptr, nullptr, nullptr, [this](const QString& t) { Messages << t; }};
};
std::string CaptureBatch::MovieDir, CaptureBatch::Movie;

}  // namespace

TEST(CaptureNames, EightDigitsAtLeast) {
    struct { uint64_t n; const char* ext; const char* name; } cases[] = {
        {1, "jpg", "B00000001.jpg"},      {65535, "gif", "B00065535.gif"},
        {65536, "bmp", "B00065536.bmp"},  {12345678, "png", "B12345678.png"},
        {123456789, "jpg", "B123456789.jpg"},
    };
    for (const auto& c : cases) EXPECT_EQ(MakeFileName("B", c.n, c.ext), QString(c.name));
}

TEST(CaptureProposal, TableOfProposedCounts) {
    const int positions[] = {1, 2, 9, 50, 75, 76, 99, 100};
    struct { int64_t L; int64_t n[8]; } rows[] = {
        {10000, {3, 16, 70, 354, 462, 9298, 9999, 10000}},
        {1000, {3, 16, 70, 354, 462, 930, 1000, 1000}},
        {101, {3, 16, 70, 101, 101, 94, 101, 101}},
        {60, {3, 3, 8, 42, 55, 56, 60, 60}},
        {2, {3, 3, 3, 3, 3, 3, 3, 3}},
    };
    // The spin edit then holds the count within 3..999,999.
    for (const auto& r : rows)
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(std::clamp<int64_t>(ProposedSampleCount(positions[i], 100, r.L), 3, 999999), r.n[i])
                << "L=" << r.L << " p=" << positions[i];
    // Before the clamp the range caps the count.
    EXPECT_EQ(ProposedSampleCount(50, 100, 2), 1);
    EXPECT_EQ(ProposedSampleCount(100, 100, 2), 2);
}

// Range 0..100 at 25 fps, 3 samples: frames 0, 33 and 66, files 1 to 3.
TEST_F(CaptureBatch, ThreeSamplesOfAHundredFrames) {
    Info.RangeStart = 0;
    Info.RangeEnd = 100;
    Info.SampleCount = 3;
    std::vector<uint32_t> done;
    QStringList names;
    Events.SampleDone = [&](uint32_t i) { done.push_back(i); };
    Events.FileNameChosen = [&](const QString& n) { names << n; };
    const TCaptureResult r = CaptureFrames(Info, Events);
    EXPECT_EQ(r.End, TCaptureResult::Completed);
    EXPECT_EQ(r.FilesWritten, 3u);
    EXPECT_EQ(Listing(Batch()), (std::vector<std::string>{"B00000001.bmp", "B00000002.bmp", "B00000003.bmp"}));
    EXPECT_EQ(names, (QStringList{"B00000001.bmp", "B00000002.bmp", "B00000003.bmp"}));
    EXPECT_EQ(done, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000001.bmp"), 0);
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000002.bmp"), 33);
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000003.bmp"), 66);
    EXPECT_TRUE(Messages.isEmpty());
}

// Every picture type: frame numbers read back through the independent readers.
TEST_F(CaptureBatch, EveryPictureTypeFromARangeInTheMiddle) {
    Info.RangeStart = 40;
    Info.RangeEnd = 60;
    Info.SampleCount = 4;
    Info.JpegQuality = 96;
    for (uint16_t type : {ptGif, ptJpg, ptBmp, ptPng}) {
        SCOPED_TRACE(PictureExtension(type));
        Info.PictureType = type;
        Info.Folder = QString::fromStdString(Dir) + "/" + PictureExtension(type) + "/";
        ASSERT_EQ(CaptureFrames(Info, Events).FilesWritten, 4u);
        for (int i = 0; i < 4; ++i) {
            const std::string path = Batch() + MakeFileName("B", i + 1, PictureExtension(type)).toStdString();
            const TDecodedImage img = ReadPicture(path);
            ASSERT_EQ(img.Error, "") << path;
            EXPECT_EQ(img.Width, 160);
            EXPECT_EQ(img.Height, 120);
            EXPECT_EQ(testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height), 40 + 5 * i) << path;
        }
    }
}

// More samples than frames: neighbours repeat a frame; three steps of a
// third, added up, land on the next frame.
TEST_F(CaptureBatch, MoreSamplesThanFrames) {
    Info.RangeStart = 10;
    Info.RangeEnd = 12;
    Info.SampleCount = 6;
    const TCaptureResult r = CaptureFrames(Info, Events);
    ASSERT_EQ(r.FilesWritten, 6u);
    const int expected[6] = {10, 10, 10, 11, 11, 11};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(FrameNumberOf(Batch() + MakeFileName("B", i + 1, "bmp").toStdString()), expected[i]) << i;
}

TEST_F(CaptureBatch, StopBeforeTheNextFetch) {
    Info.RangeEnd = 100;
    Info.SampleCount = 10;
    int calls = 0;
    Events.PumpAndCheckStop = [&] { return ++calls == 3; };
    const TCaptureResult r = CaptureFrames(Info, Events);
    EXPECT_EQ(r.End, TCaptureResult::Stopped);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(Listing(Batch()), (std::vector<std::string>{"B00000001.bmp", "B00000002.bmp"}));
}

// An old entry that cannot be deleted (a folder in the way): message, the
// number is used up, the batch goes on.
TEST_F(CaptureBatch, FileThatCannotBeDeletedIsSkipped) {
    Info.RangeEnd = 100;
    Info.SampleCount = 3;
    fs::create_directories(Batch() + "B00000002.bmp/inside");
    std::ofstream(Batch() + "B00000003.bmp") << "an old file, replaced";
    const TCaptureResult r = CaptureFrames(Info, Events);
    EXPECT_EQ(r.End, TCaptureResult::Completed);
    EXPECT_EQ(r.FilesWritten, 2u);
    EXPECT_EQ(r.NotReplaced, 1u);
    EXPECT_EQ(Messages, QStringList{"Can not delete file " + Info.Folder + "B00000002.bmp"});
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000001.bmp"), 0);
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000003.bmp"), 66);
    EXPECT_TRUE(fs::is_directory(Batch() + "B00000002.bmp"));
}

// No frame from the movie: nothing is written from an unfilled buffer. A
// movie cut right after its first picture began opens but gives no picture.
TEST_F(CaptureBatch, FailedFetchesSkipTheirSamples) {
    testmovie::TMovieSpec spec;
    spec.Container = "avi";
    spec.VideoCodec = "mjpeg";
    spec.Frames = 20;
    const std::string whole = Dir + "/whole.avi", cut = Dir + "/cut.avi";
    testmovie::MakeTestMovie(whole, spec);
    std::ifstream in(whole, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::size_t movi = bytes.find("movi");
    ASSERT_NE(movi, std::string::npos);
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, movi + 4 + 8 + 200);
    media::TMovieReader empty;  // what a fetch from the cut movie says
    ASSERT_TRUE(empty.Open(cut, false)) << empty.LastError();
    media::TRgbPicture none;
    ASSERT_FALSE(empty.FrameAt(0, 160, 120, none));
    Info.SourceFile = QString::fromStdString(cut);
    Info.RangeEnd = 100;
    Info.SampleCount = 4;
    std::vector<uint32_t> done;
    Events.SampleDone = [&](uint32_t i) { done.push_back(i); };
    const TCaptureResult r = CaptureFrames(Info, Events);
    EXPECT_EQ(r.End, TCaptureResult::Completed);
    EXPECT_EQ(r.FetchFailures, 4u);
    EXPECT_EQ(r.FilesWritten, 0u);
    EXPECT_EQ(r.FetchError.toStdString(), empty.LastError());
    EXPECT_FALSE(r.FetchError.isEmpty());
    EXPECT_TRUE(r.NothingTakenMessage().endsWith(r.FetchError));
    EXPECT_EQ(done.size(), 4u);
    EXPECT_TRUE(Listing(Batch()).empty());
}

// A batch folder that cannot be made ends the batch with its message.
TEST_F(CaptureBatch, FolderBelowARegularFileFails) {
    std::ofstream(Dir + "/plain") << "x";
    Info.Folder = QString::fromStdString(Dir) + "/plain/batch/";
    Info.RangeEnd = 100;
    Info.SampleCount = 3;
    const TCaptureResult r = CaptureFrames(Info, Events);
    EXPECT_EQ(r.End, TCaptureResult::Failed);
    EXPECT_TRUE(r.Error.contains(Info.Folder)) << r.Error.toStdString();
    EXPECT_EQ(r.FilesWritten, 0u);
}

// The disk fills up from the third sample on (the second file may still be
// in writing then): the batch ends with the error of the file that failed,
// the files before it stay, no partial file remains, nothing comes after it.
TEST_F(CaptureBatch, DiskFullEndsTheBatchAndKeepsWrittenFiles) {
    Info.RangeEnd = 100;
    Info.SampleCount = 5;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    int calls = 0;
    Events.PumpAndCheckStop = [&] {
        if (++calls == 3) {
            rlimit small = old;
            small.rlim_cur = 1000;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        return false;
    };
    const TCaptureResult r = CaptureFrames(Info, Events);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(r.End, TCaptureResult::Failed);
    const auto files = Listing(Batch());
    ASSERT_TRUE(files.size() == 1 || files.size() == 2) << files.size();
    EXPECT_EQ(r.FilesWritten, files.size());
    const QString failed = MakeFileName("B", files.size() + 1, "bmp");
    EXPECT_TRUE(r.Error.startsWith("Can not write file " + Info.Folder + failed)) << r.Error.toStdString();
    EXPECT_LE(calls, 4);
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000001.bmp"), 0);
}

// An old image under a sample's name stays exactly as it was unless its new
// picture is written whole: a write that fails (the disk full from the start)
// and a stop before its sample leave every old file.
TEST_F(CaptureBatch, OldImagesStayUntilTheirNewPicturesAreWritten) {
    fs::create_directories(Batch());
    for (const char* name : {"B00000001.bmp", "B00000002.bmp", "B00000003.bmp"})
        std::ofstream(Batch() + name) << "old " << name;
    const auto oldOf = [](const std::string& name) { return "old " + name; };
    const auto bytes = [&](const std::string& name) {
        std::ifstream in(Batch() + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    Info.RangeEnd = 100;
    Info.SampleCount = 3;

    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    const TCaptureResult failed = CaptureFrames(Info, Events);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failed.End, TCaptureResult::Failed);
    for (const char* name : {"B00000001.bmp", "B00000002.bmp", "B00000003.bmp"}) EXPECT_EQ(bytes(name), oldOf(name));

    int calls = 0;
    Events.PumpAndCheckStop = [&] { return ++calls == 2; };
    const TCaptureResult stopped = CaptureFrames(Info, Events);
    EXPECT_EQ(stopped.End, TCaptureResult::Stopped);
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000001.bmp"), 0);
    EXPECT_EQ(bytes("B00000002.bmp"), oldOf("B00000002.bmp"));
    EXPECT_EQ(bytes("B00000003.bmp"), oldOf("B00000003.bmp"));
    EXPECT_EQ(Listing(Batch()).size(), 3u);  // no temporary file left
}

// The movie being sampled is never written over, whatever name it has in the
// batch folder: that sample is skipped with its message.
TEST_F(CaptureBatch, TheMovieItselfIsNeverReplaced) {
    fs::create_directories(Batch());
    fs::create_hard_link(Movie, Batch() + "B00000002.bmp");
    const auto size = fs::file_size(Movie);
    Info.RangeEnd = 100;
    Info.SampleCount = 3;
    const TCaptureResult r = CaptureFrames(Info, Events);
    EXPECT_EQ(r.FilesWritten, 2u);
    EXPECT_EQ(r.NotReplaced, 1u);
    EXPECT_EQ(Messages, QStringList{"Can not delete file " + Info.Folder + "B00000002.bmp"});
    EXPECT_EQ(fs::file_size(Movie), size);
    EXPECT_EQ(fs::hard_link_count(Movie), 2u);
    EXPECT_EQ(FrameNumberOf(Batch() + "B00000003.bmp"), 66);
}

TEST_F(CaptureBatch, SnapshotAtFullSize) {
    const QString folder = QString::fromStdString(Dir) + "/";
    const TSnapshotResult r = SaveSnapshot(Info.SourceFile, 160, 120, 12, folder);
    ASSERT_EQ(r.Outcome, TSnapshotResult::Saved) << r.Error.toStdString();
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(folder) + "\\d{11}\\.jpg$")
                    .match(r.Path).hasMatch()) << r.Path.toStdString();
    const TDecodedImage img = ReadJpeg(r.Path.toStdString());
    ASSERT_EQ(img.Error, "");
    EXPECT_TRUE(img.Baseline);
    EXPECT_TRUE(img.Jfif);
    EXPECT_EQ(img.Components, 3);
    EXPECT_EQ(img.Width, 160);
    EXPECT_EQ(img.Height, 120);
    EXPECT_EQ(testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height), 12);
}

TEST_F(CaptureBatch, SnapshotReplacesAFileOfTheSameName) {
    const QString path = QString::fromStdString(Dir) + "/same.jpg";
    ASSERT_EQ(SaveSnapshotAs(Info.SourceFile, 160, 120, 0, path).Outcome, TSnapshotResult::Saved);
    ASSERT_EQ(SaveSnapshotAs(Info.SourceFile, 160, 120, 50, path).Outcome, TSnapshotResult::Saved);
    EXPECT_EQ(FrameNumberOf(path.toStdString()), 50);
}

TEST_F(CaptureBatch, SnapshotIntoAMissingFolderFails) {
    const QString folder = QString::fromStdString(Dir) + "/missing/";
    const TSnapshotResult r = SaveSnapshot(Info.SourceFile, 160, 120, 0, folder);
    EXPECT_EQ(r.Outcome, TSnapshotResult::WriteFailed);
    EXPECT_TRUE(r.Error.startsWith("Can not write file " + folder)) << r.Error.toStdString();
    EXPECT_TRUE(r.Path.isEmpty());
    EXPECT_FALSE(fs::exists(Dir + "/missing"));
}

// Sample x takes the frame on screen at time x / rate, as the movie's frame
// clock says: from a quarter frame before a frame's own time on, that frame.
// Steps of 1.8 frames: 0, 1.8, 3.6, 5.4, 7.2.
TEST_F(CaptureBatch, SamplesBetweenFramesTakeTheFrameOnScreenAtTheirTime) {
    Info.RangeStart = 0;
    Info.RangeEnd = 9;
    Info.SampleCount = 5;
    ASSERT_EQ(CaptureFrames(Info, Events).FilesWritten, 5u);
    const int expected[5] = {0, 2, 3, 5, 7};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(FrameNumberOf(Batch() + MakeFileName("B", i + 1, "bmp").toStdString()), expected[i]) << i;
    const struct { double X; int64_t Frame; } edges[] = {{10.74, 10}, {10.75, 11}, {33.8, 34}, {66.0, 66}};
    for (const auto& e : edges) EXPECT_EQ(media::SampleFrame(e.X), e.Frame) << e.X;
}

// Cancel returns at once, even while the job is held inside one of its own
// events (a Cancel that waited for the job would never return there); the
// job then ends Stopped before the next frame, and the files it wrote stay
// whole.
TEST_F(CaptureBatch, CancelReturnsAtOnceAndKeepsWhatWasWritten) {
    Info.RangeEnd = 100;
    Info.SampleCount = 400;
    media::TCaptureSpec spec;
    QString error;
    ASSERT_TRUE(CaptureSpecOf(Info, spec, error));
    std::mutex m;
    std::condition_variable changed;
    bool atFifth = false, cancelled = false, heldTooLong = false;
    std::vector<std::string> names;
    media::TJobEnd end;
    media::TJobEvents events;
    events.Notice = [&](const media::TJobNotice& n) {
        names.push_back(n.Text);
        if (names.size() != 5) return;
        std::unique_lock lock(m);
        atFifth = true;
        changed.notify_all();
        heldTooLong = !changed.wait_for(lock, std::chrono::seconds(60), [&] { return cancelled; });
    };
    events.End = [&](const media::TJobEnd& e) { end = e; };
    const auto job = media::TCaptureJob::Start(spec, events);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return atFifth; }));
    }
    job->Cancel();
    {
        std::lock_guard lock(m);
        cancelled = true;
    }
    changed.notify_all();
    job->Wait();
    EXPECT_FALSE(heldTooLong);
    EXPECT_EQ(end.Outcome, media::TJobEnd::Stopped);
    EXPECT_EQ(end.FilesWritten, 5);
    EXPECT_EQ(names.size(), 5u);
    ASSERT_EQ(Listing(Batch()), (std::vector<std::string>{"B00000001.bmp", "B00000002.bmp", "B00000003.bmp",
                                                          "B00000004.bmp", "B00000005.bmp"}));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(FrameNumberOf(Batch() + MakeFileName("B", i + 1, "bmp").toStdString()),
                  media::SampleFrame(i * 0.25)) << i;
}

// One reader on the job's thread and one writer thread: the threads that
// come and go while a batch runs do not grow with the number of images.
TEST_F(CaptureBatch, ABatchStartsNoThreadPerImage) {
    const auto threads = [] {
        std::set<std::string> ids;
        for (const auto& e : fs::directory_iterator("/proc/self/task")) ids.insert(e.path().filename().string());
        return ids;
    };
    const std::set<std::string> before = threads();
    Info.RangeEnd = 100;
    Info.SampleCount = 100;
    media::TCaptureSpec spec;
    QString error;
    ASSERT_TRUE(CaptureSpecOf(Info, spec, error));
    media::TJobEnd end;
    media::TJobEvents events;
    events.End = [&](const media::TJobEnd& e) { end = e; };
    std::set<std::string> started;
    const auto job = media::TCaptureJob::Start(spec, events);
    while (!job->Ended()) {
        for (const std::string& id : threads())
            if (!before.count(id)) started.insert(id);
        std::this_thread::yield();
    }
    job->Wait();
    EXPECT_EQ(end.FilesWritten, 100);
    // The job's thread, its writer and the decoder's own threads.
    EXPECT_LE(started.size(), 8u);
    EXPECT_GE(started.size(), 2u);
}
