// A job's events as Qt signals. The job calls Events() on its own thread;
// the signals are emitted there and reach receivers that live on the window's
// thread queued, in the job's order. Owners keep this object alive for as
// long as the job runs: destroy the job (which waits for its end) first.
#pragma once

#include "media/Job.h"

#include <QMetaType>
#include <QObject>

Q_DECLARE_METATYPE(media::TJobPlan)
Q_DECLARE_METATYPE(media::TJobProgress)
Q_DECLARE_METATYPE(media::TJobEnd)

class TJobSignals : public QObject {
    Q_OBJECT
public:
    explicit TJobSignals(QObject* parent = nullptr);

    // The events to start a job with; each emits the signal of its name.
    media::TJobEvents Events();

signals:
    void planned(const media::TJobPlan& plan);
    void progressed(const media::TJobProgress& progress);
    void showing(qint64 frame);
    void ended(const media::TJobEnd& end);
};
