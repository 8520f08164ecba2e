// The queue of clip jobs: jobs added from the window (or any caller) run one
// after another as clip jobs (media/ClipJob.h), each on its own thread, and
// report through queued signals, so the thread that owns the queue never
// waits on a job.
//
// A queued job is described as one entry of a queue file of fwmedia queue:
//   {"source": "in.mp4", "output": "out.mp4", "ranges": [[10, 40], [60, 95]],
//    "split": false, "options": ["--mp4", "--crf", "20"], "frame_rate": 25}
// ("start"/"end" in place of "ranges" for one span; "options" are fwmedia
// render's). The queue keeps its jobs, their order and their states in the
// settings hive as such a file (each entry with its "state" and "error"), so
// the stored queue is also a queue file fwmedia queue runs. A job that was
// running when the queue was last stored (the program ended during it) comes
// back as stopped; its partial output never lies under the final name (the
// clip job writes under a temporary name, media/StagedFile.h).
//
// Owner's thread only (the window's).
#pragma once

#include "convert/OutputSettings.h"
#include "convert/RenderClip.h"
#include "media/Job.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class THive;
class TJobSignals;

// The queue entry of a clip the window would make: the mode's choices from
// `settings` as fwmedia render options. `ranges` empty: the one span
// rangeStart .. rangeEnd - 1. width x height 0 x 0: the source's picture.
QJsonObject QueueEntry(const TOutputSettings& settings, TClipFormat format, const QString& source,
                       const QString& output, double frameRate, int32_t rangeStart, int32_t rangeEnd,
                       const std::vector<media::TFrameRange>& ranges, bool split, uint16_t width, uint16_t height,
                       uint16_t audioFormatIndex);

// The clip job of an entry, or a sentence saying what is wrong with the entry.
std::string ClipJobSpecOfEntry(const QJsonObject& entry, media::TClipJobSpec& spec);

struct TQueuedJob {
    enum TState { Waiting, Running, Done, Stopped, Failed };
    QJsonObject Entry;
    TState State = Waiting;
    QString Error;        // Failed: the sentence for the user
    int64_t Progress = 0; // Running: frames done of Total
    int64_t Total = 0;

    QString Source() const;
    QString Output() const;
};

// "waiting", "running", "done", "stopped", "failed" (as stored).
QString StateName(TQueuedJob::TState state);

class TJobQueue : public QObject {
    Q_OBJECT
public:
    // The queue kept in `hive` under key `rootKey` + "\Queue"; loads what is stored.
    TJobQueue(std::shared_ptr<THive> hive, QString rootKey, QObject* parent = nullptr);
    ~TJobQueue() override;  // a running job is stopped (its End is awaited) and stays "running" in the hive

    const std::vector<TQueuedJob>& Jobs() const { return FJobs; }
    // Whether the queue runs its jobs (between Start and the end of the last
    // waiting one, or a Stop).
    bool Running() const { return FRunning; }
    // The job running now, or -1.
    int Current() const { return FCurrent; }

    void Add(QJsonObject entry);
    // Neither removes nor moves the running job (false).
    bool Remove(int index);
    bool MoveUp(int index);
    bool MoveDown(int index);
    // Runs the waiting jobs in order; a stopped or failed job given as
    // `restart` waits again first. False when nothing is there to run.
    bool Start(int restart = -1);
    // Stops the running job (it ends "stopped") and the run; returns at once.
    void Stop();

signals:
    // The list changed (added, removed, moved, a state changed).
    void changed();
    // Job `index` progressed.
    void progressed(int index);
    // The run ended: no job waits any more, or it was stopped.
    void finished();

private:
    void Load();
    void Save();
    void Next();
    void JobEnded(const media::TJobEnd& end);

    std::shared_ptr<THive> FHive;  // kept open while the queue may still write
    QString FKey;
    std::vector<TQueuedJob> FJobs;
    bool FRunning = false;
    int FCurrent = -1;
    std::unique_ptr<TJobSignals> FSignals;  // outlives FJob
    std::unique_ptr<media::TJob> FJob;
};
