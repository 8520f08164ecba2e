#include "common/JobSignals.h"

TJobSignals::TJobSignals(QObject* parent) : QObject(parent) {
    qRegisterMetaType<media::TJobPlan>();
    qRegisterMetaType<media::TJobProgress>();
    qRegisterMetaType<media::TJobNotice>();
    qRegisterMetaType<media::TJobEnd>();
}

media::TJobEvents TJobSignals::Events() {
    media::TJobEvents events;
    events.Plan = [this](const media::TJobPlan& p) { emit plan(p); };
    events.Progress = [this](const media::TJobProgress& p) { emit progress(p); };
    events.Picture = [this](int64_t frame) { emit picture(static_cast<qint64>(frame)); };
    events.Notice = [this](const media::TJobNotice& n) { emit notice(n); };
    events.End = [this](const media::TJobEnd& e) { emit ended(e); };
    return events;
}
