#include "common/JobSignals.h"

TJobSignals::TJobSignals(QObject* parent) : QObject(parent) {
    qRegisterMetaType<media::TJobPlan>();
    qRegisterMetaType<media::TJobProgress>();
    qRegisterMetaType<media::TJobEnd>();
}

media::TJobEvents TJobSignals::Events() {
    media::TJobEvents e;
    e.Plan = [this](const media::TJobPlan& plan) { emit planned(plan); };
    e.Progress = [this](const media::TJobProgress& progress) { emit progressed(progress); };
    e.Picture = [this](int64_t frame) { emit showing(static_cast<qint64>(frame)); };
    e.End = [this](const media::TJobEnd& end) { emit ended(end); };
    return e;
}
