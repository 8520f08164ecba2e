// A job's events as queued signals: a listener on the window's thread gets
// every event there, in order, with its contents, while the job runs on its
// own thread.
#include "common/JobSignals.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <thread>

namespace {

// A job that tells each kind of event once and ends with counts.
class TScriptedJob : public media::TJob {
public:
    explicit TScriptedJob(media::TJobEvents events) : TJob(std::move(events)) { Start(); }
    ~TScriptedJob() override { Wait(); }
    std::thread::id BodyThread;

private:
    media::TJobEnd Body() override {
        BodyThread = std::this_thread::get_id();
        media::TJobPlan plan;
        plan.Frames = 2;
        Planned(plan);
        Noticed(media::TJobNotice::Writing, "B00000001.jpg");
        Showing(7);
        Progressed(1, 2);
        Noticed(media::TJobNotice::Message, "Can not delete file x");
        Progressed(2, 2);
        media::TJobEnd end;
        end.Outcome = media::TJobEnd::Stopped;
        end.FilesWritten = 1;
        end.NotReplaced = 1;
        return end;
    }
};

}  // namespace

TEST(JobSignals, EventsArriveQueuedOnTheListenersThreadInOrder) {
    TJobSignals relay;
    QStringList seen;
    bool allOnWindowThread = true;
    const auto note = [&](const QString& what) {
        seen << what;
        allOnWindowThread = allOnWindowThread && QThread::currentThread() == qApp->thread();
    };
    media::TJobEnd end;
    QObject::connect(&relay, &TJobSignals::plan, &relay,
                     [&](const media::TJobPlan& p) { note(QStringLiteral("plan %1").arg(p.Frames)); },
                     Qt::QueuedConnection);
    QObject::connect(&relay, &TJobSignals::progress, &relay,
                     [&](const media::TJobProgress& p) { note(QStringLiteral("progress %1/%2").arg(p.Done).arg(p.Total)); },
                     Qt::QueuedConnection);
    QObject::connect(&relay, &TJobSignals::picture, &relay,
                     [&](qint64 frame) { note(QStringLiteral("picture %1").arg(frame)); }, Qt::QueuedConnection);
    QObject::connect(&relay, &TJobSignals::notice, &relay,
                     [&](const media::TJobNotice& n) {
                         note(QStringLiteral("%1 %2")
                                  .arg(n.Kind == media::TJobNotice::Writing ? "writing" : "message")
                                  .arg(QString::fromStdString(n.Text)));
                     },
                     Qt::QueuedConnection);
    QObject::connect(&relay, &TJobSignals::ended, &relay,
                     [&](const media::TJobEnd& e) {
                         end = e;
                         note(QStringLiteral("end"));
                     },
                     Qt::QueuedConnection);

    TScriptedJob job(relay.Events());
    job.Wait();
    // Nothing reached the listener while the window's thread was not running its events.
    EXPECT_TRUE(seen.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.contains(QStringLiteral("end")); }, 30000));
    EXPECT_NE(job.BodyThread, std::this_thread::get_id());
    EXPECT_TRUE(allOnWindowThread);
    EXPECT_EQ(seen, (QStringList{"plan 2", "writing B00000001.jpg", "picture 7", "progress 1/2",
                                 "message Can not delete file x", "progress 2/2", "end"}));
    EXPECT_EQ(end.Outcome, media::TJobEnd::Stopped);
    EXPECT_EQ(end.FilesWritten, 1);
    EXPECT_EQ(end.NotReplaced, 1);
}
