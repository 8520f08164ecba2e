// The job queue: the queued-job entry made from the window's choices gives
// back the same clip job; three jobs with the middle one failing (its folder
// lies below a regular file) run in order, the others complete and the
// failure keeps its sentence; order, states and sentence survive a restart
// of the queue from the hive; a job running when the queue ended comes back
// stopped, with no broken file under its name, and runs again.
#include "convert/JobQueue.h"

#include "tests/fixtures/TestMovie.h"
#include "media/StagedFile.h"
#include "platform/Hive.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace testmovie;

const QString kRoot = QStringLiteral("Software\\Test\\Framewhisk");

// Each mode's choices survive the entry: the clip job made from it is the
// one made from the choices directly.
TEST(QueueEntry, GivesTheClipJobOfTheChoices) {
    TOutputSettings s;
    s.Mp4.Crf = 19;
    s.Mp4.Preset = QStringLiteral("fast");
    s.WebM.AudioKbps = 80;
    s.WebM.WithAudio = false;
    s.VideoCompressorName.clear();
    s.WithAudio = false;
    s.WMVSelected = QStringLiteral("{00000000-0000-0000-0000-000000000001}");
    struct TCase {
        TClipFormat Format;
        uint16_t Width, Height;
        std::vector<media::TFrameRange> Ranges;
        bool Split;
    };
    const std::vector<TCase> cases = {
        {TClipFormat::Mp4, 0, 0, {}, false},
        {TClipFormat::Mp4, 320, 180, {{3, 9}, {20, 30}}, true},
        {TClipFormat::WebM, 0, 0, {{3, 9}, {5, 12}}, false},
        {TClipFormat::Copy, 0, 0, {}, false},
        {TClipFormat::Avi, 160, 120, {}, false},
        {TClipFormat::Wmv, 320, 240, {}, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Format));
        const media::TClipJobSpec want = [&] {
            auto spec = ClipJobSpec(s, QStringLiteral("/m/in.avi"), QStringLiteral("/m/out"), c.Width, c.Height, 2, 4, 40,
                                    c.Format, 25);
            spec.Ranges = c.Ranges;
            spec.Split = c.Split;
            return spec;
        }();
        const QJsonObject entry = QueueEntry(s, c.Format, QStringLiteral("/m/in.avi"), QStringLiteral("/m/out"), 25, 4, 40,
                                             c.Ranges, c.Split, c.Width, c.Height, 2);
        media::TClipJobSpec got;
        ASSERT_EQ(ClipJobSpecOfEntry(entry, got), "");
        EXPECT_EQ(got.Source, want.Source);
        EXPECT_EQ(got.Output.FileName, want.Output.FileName);
        EXPECT_EQ(got.Output.Format, want.Output.Format);
        if (c.Format == TClipFormat::Wmv) {
            EXPECT_EQ(got.Output.ProfileGuid, want.Output.ProfileGuid);
        }
        EXPECT_EQ(got.Output.Web.Crf, want.Output.Web.Crf);
        EXPECT_EQ(got.Output.Web.Preset, want.Output.Web.Preset);
        EXPECT_EQ(got.Output.Web.AudioKbps, want.Output.Web.AudioKbps);
        EXPECT_EQ(got.Width, want.Width);
        EXPECT_EQ(got.Height, want.Height);
        EXPECT_EQ(got.WithAudio, want.WithAudio);
        if (c.Format == TClipFormat::Wmv || c.Format == TClipFormat::Avi) {
            EXPECT_EQ(got.AudioFormatIndex, want.AudioFormatIndex);
        }
        EXPECT_EQ(got.FrameRate, want.FrameRate);
        EXPECT_EQ(got.Ranges, want.Ranges);
        EXPECT_EQ(got.Split, want.Split);
        if (c.Ranges.empty()) {
            EXPECT_EQ(got.FirstFrame, want.FirstFrame);
            EXPECT_EQ(got.EndFrame, want.EndFrame);
        }
    }
}

TEST(QueueEntry, RefusesBrokenEntriesWithASentence) {
    const QJsonObject good = QueueEntry(TOutputSettings{}, TClipFormat::Copy, QStringLiteral("a.mp4"),
                                        QStringLiteral("b.mp4"), 25, 0, 10, {}, false, 0, 0, 0);
    const auto with = [&](const char* key, QJsonValue value) {
        QJsonObject e = good;
        e[QLatin1String(key)] = value;
        return e;
    };
    for (const QJsonObject& bad : {with("source", QString()), with("end", 0), with("frame_rate", 0),
                                   with("ranges", QJsonArray{QJsonArray{5, 5}}),
                                   with("options", QJsonArray{QStringLiteral("--bogus")})}) {
        media::TClipJobSpec spec;
        EXPECT_FALSE(ClipJobSpecOfEntry(bad, spec).empty()) << QJsonDocument(bad).toJson().constData();
    }
}

class JobQueueRun : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::path(MakeTempDir("jobqueue"));
        Movie = (Dir / "in.avi").string();
        TMovieSpec m;
        m.Frames = 40;
        MakeTestMovie(Movie, m);
        Hive = THive::Open(QString::fromStdString((Dir / "settings.db").string()));
    }
    void TearDown() override { fs::remove_all(Dir); }

    // An uncompressed AVI clip of frames first .. end - 1 (or of `ranges`, joined).
    QJsonObject Entry(const fs::path& output, int first, int end, std::vector<media::TFrameRange> ranges = {}) const {
        TOutputSettings s;
        s.VideoCompressorName.clear();
        return QueueEntry(s, TClipFormat::Avi, QString::fromStdString(Movie), QString::fromStdString(output.string()), 25,
                          first, end, ranges, false, 160, 120, 0);
    }
    static bool RunToEnd(TJobQueue& queue) {
        QSignalSpy finished(&queue, &TJobQueue::finished);
        if (!queue.Start()) return false;
        return finished.wait(60000);
    }
    static std::vector<QString> Outputs(const TJobQueue& queue) {
        std::vector<QString> out;
        for (const TQueuedJob& j : queue.Jobs()) out.push_back(j.Output());
        return out;
    }
    static size_t FramesOf(const fs::path& file) {
        int w = 0, h = 0;
        return DecodeAllRgb(file.string(), &w, &h).size();
    }

    fs::path Dir;
    std::string Movie;
    std::shared_ptr<THive> Hive;
};

TEST_F(JobQueueRun, MiddleFailureLeavesTheOthersDoneAndAllIsKeptAcrossARestart) {
    {
        std::ofstream(Dir / "plain-file") << "not a folder";
    }
    const fs::path first = Dir / "first.avi", broken = Dir / "plain-file" / "second.avi", third = Dir / "third.avi";
    std::vector<QString> order;
    {
        TJobQueue queue(Hive, kRoot);
        queue.Add(Entry(first, 5, 20));
        queue.Add(Entry(broken, 0, 10));
        queue.Add(Entry(third, 0, 0, {{2, 8}, {30, 36}}));
        order = Outputs(queue);
        ASSERT_TRUE(RunToEnd(queue));
        ASSERT_EQ(queue.Jobs().size(), 3u);
        EXPECT_EQ(queue.Jobs()[0].State, TQueuedJob::Done);
        EXPECT_EQ(queue.Jobs()[1].State, TQueuedJob::Failed);
        EXPECT_FALSE(queue.Jobs()[1].Error.isEmpty());
        EXPECT_EQ(queue.Jobs()[2].State, TQueuedJob::Done);
        EXPECT_FALSE(queue.Running());
    }
    EXPECT_EQ(FramesOf(first), 15u);
    EXPECT_EQ(FramesOf(third), 12u);
    EXPECT_FALSE(fs::exists(broken));

    // A new queue on the same hive: the same jobs, order, states and sentence.
    TJobQueue again(Hive, kRoot);
    EXPECT_EQ(Outputs(again), order);
    ASSERT_EQ(again.Jobs().size(), 3u);
    EXPECT_EQ(again.Jobs()[0].State, TQueuedJob::Done);
    EXPECT_EQ(again.Jobs()[1].State, TQueuedJob::Failed);
    EXPECT_FALSE(again.Jobs()[1].Error.isEmpty());
    EXPECT_EQ(again.Jobs()[2].State, TQueuedJob::Done);
    // Nothing waits: there is nothing to start. Moving and removing keep the hive in step.
    EXPECT_FALSE(again.Start());
    EXPECT_TRUE(again.MoveUp(2));
    EXPECT_TRUE(again.Remove(0));
    EXPECT_FALSE(again.MoveDown(1));
    TJobQueue third_(Hive, kRoot);
    EXPECT_EQ(Outputs(third_), (std::vector<QString>{order[2], order[1]}));
}

TEST_F(JobQueueRun, AJobRunningAtTheEndComesBackStoppedAndRunsAgain) {
    TMovieSpec m;
    m.Frames = 150;
    MakeTestMovie(Movie, m);
    const fs::path out = Dir / "long.avi";
    {
        TJobQueue queue(Hive, kRoot);
        queue.Add(Entry(out, 0, 150));
        QSignalSpy progressed(&queue, &TJobQueue::progressed);
        ASSERT_TRUE(queue.Start());
        EXPECT_EQ(queue.Jobs()[0].State, TQueuedJob::Running);
        ASSERT_TRUE(progressed.wait(30000));
        // The program ends here, in the middle of the job.
    }
    // No temporary file is left and nothing broken lies under the name: the
    // stopped clip is playable, or there is none.
    for (const auto& e : fs::directory_iterator(Dir)) EXPECT_FALSE(media::IsLeftoverName(e.path().filename().string()));
    if (fs::exists(out)) {
        EXPECT_GT(FramesOf(out), 0u);
    }

    TJobQueue queue(Hive, kRoot);
    ASSERT_EQ(queue.Jobs().size(), 1u);
    EXPECT_EQ(queue.Jobs()[0].State, TQueuedJob::Stopped);
    EXPECT_FALSE(queue.Start());  // nothing waits
    QSignalSpy finished(&queue, &TJobQueue::finished);
    ASSERT_TRUE(queue.Start(0));
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(queue.Jobs()[0].State, TQueuedJob::Done);
    EXPECT_EQ(FramesOf(out), 150u);
}

}  // namespace
