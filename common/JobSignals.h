// A job's events (media/Job.h) as Qt signals, for a window that follows a
// job: Events() gives the callbacks to start the job with; each emits the
// matching signal on the job's thread. A receiver on the window's thread
// connects with Qt::QueuedConnection (what AutoConnection also picks for an
// emission from another thread) and so gets the events on its own thread, in
// order, without waiting on the job. The media structs are registered as
// meta types for that.
//
// The object must outlive the job whose callbacks it made: destroy the job
// (which waits for its end) first.
#pragma once

#include "media/Job.h"

#include <QMetaType>
#include <QObject>

Q_DECLARE_METATYPE(media::TJobPlan)
Q_DECLARE_METATYPE(media::TJobProgress)
Q_DECLARE_METATYPE(media::TJobNotice)
Q_DECLARE_METATYPE(media::TJobEnd)

class TJobSignals : public QObject {
    Q_OBJECT
public:
    explicit TJobSignals(QObject* parent = nullptr);

    // The callbacks to start a job with.
    media::TJobEvents Events();

signals:
    void plan(const media::TJobPlan& plan);
    void progress(const media::TJobProgress& progress);
    void picture(qint64 frame);
    void notice(const media::TJobNotice& notice);
    void ended(const media::TJobEnd& end);
};
