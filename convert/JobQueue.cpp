#include "convert/JobQueue.h"

#include "common/JobSignals.h"
#include "media/Compressors.h"
#include "platform/Hive.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <utility>

namespace {

const QString kValue = QStringLiteral("Jobs");

QJsonArray Strings(const QStringList& list) {
    QJsonArray a;
    for (const QString& s : list) a.append(s);
    return a;
}

bool ToInt(const QString& text, int& value) {
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

}  // namespace

QJsonObject QueueEntry(const TOutputSettings& settings, TClipFormat format, const QString& source,
                       const QString& output, double frameRate, int32_t rangeStart, int32_t rangeEnd,
                       const std::vector<media::TFrameRange>& ranges, bool split, uint16_t width, uint16_t height,
                       uint16_t audioFormatIndex) {
    QJsonObject e;
    e[QStringLiteral("source")] = source;
    e[QStringLiteral("output")] = output;
    e[QStringLiteral("frame_rate")] = frameRate;
    if (ranges.empty()) {
        e[QStringLiteral("start")] = rangeStart;
        e[QStringLiteral("end")] = rangeEnd;
    } else {
        QJsonArray r;
        for (const media::TFrameRange& range : ranges)
            r.append(QJsonArray{static_cast<qint64>(range.First), static_cast<qint64>(range.End)});
        e[QStringLiteral("ranges")] = r;
        e[QStringLiteral("split")] = split;
    }
    QStringList o;
    const auto size = [&] {
        if (width != 0 || height != 0)
            o << QStringLiteral("--width") << QString::number(width) << QStringLiteral("--height")
              << QString::number(height);
    };
    switch (format) {
    case TClipFormat::Copy:
        o << QStringLiteral("--copy");
        break;
    case TClipFormat::Mp4:
    case TClipFormat::WebM: {
        const TWebSettings& w = format == TClipFormat::Mp4 ? settings.Mp4 : settings.WebM;
        o << (format == TClipFormat::Mp4 ? QStringLiteral("--mp4") : QStringLiteral("--webm"))
          << QStringLiteral("--crf") << QString::number(w.Crf) << QStringLiteral("--preset") << w.Preset
          << QStringLiteral("--audio-bitrate") << QString::number(w.AudioKbps);
        size();
        if (!w.WithAudio) o << QStringLiteral("--no-audio");
        break;
    }
    case TClipFormat::Avi:
        o << QStringLiteral("--avi");
        if (!settings.VideoCompressorName.isEmpty()) o << QStringLiteral("--video-compressor") << settings.VideoCompressorName;
        if (!settings.AudioCompressorName.isEmpty()) o << QStringLiteral("--audio-compressor") << settings.AudioCompressorName;
        [[fallthrough]];
    case TClipFormat::Wmv:
        if (format == TClipFormat::Wmv) o << QStringLiteral("--profile") << settings.WMVSelected;
        size();
        o << QStringLiteral("--audio-format") << QString::number(audioFormatIndex);
        if (!settings.WithAudio) o << QStringLiteral("--no-audio");
        break;
    }
    e[QStringLiteral("options")] = Strings(o);
    return e;
}

std::string ClipJobSpecOfEntry(const QJsonObject& entry, media::TClipJobSpec& spec) {
    const QString source = entry.value(QStringLiteral("source")).toString();
    const QString output = entry.value(QStringLiteral("output")).toString();
    if (source.isEmpty() || output.isEmpty()) return "The job needs a source and an output file.";
    std::vector<media::TFrameRange> ranges;
    int32_t start = 0, end = 0;
    const QJsonArray r = entry.value(QStringLiteral("ranges")).toArray();
    if (!r.isEmpty()) {
        for (const QJsonValue& v : r) {
            const QJsonArray pair = v.toArray();
            if (pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble() || pair[1].toInteger() <= pair[0].toInteger())
                return "Each segment of the job must hold at least one frame.";
            ranges.push_back({pair[0].toInteger(), pair[1].toInteger()});
        }
        start = static_cast<int32_t>(ranges.front().First);
        end = static_cast<int32_t>(ranges.front().End);
    } else {
        if (!entry.value(QStringLiteral("start")).isDouble() || !entry.value(QStringLiteral("end")).isDouble())
            return "The job has no range of frames.";
        start = entry.value(QStringLiteral("start")).toInt();
        end = entry.value(QStringLiteral("end")).toInt();
        if (end <= start) return "The job's range holds no frame.";
    }
    const double frameRate = entry.value(QStringLiteral("frame_rate")).toDouble();
    if (!(frameRate > 0)) return "The job does not state the movie's frame rate.";

    TOutputSettings settings;
    TClipFormat format = TClipFormat::Wmv;
    int width = 320, height = 240, audioFormat = 0;
    bool sizeGiven = false;
    const QJsonArray options = entry.value(QStringLiteral("options")).toArray();
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString a = options[i].toString();
        const auto next = [&](QString& out) {
            if (i + 1 >= options.size()) return false;
            out = options[++i].toString();
            return true;
        };
        QString v;
        const bool ok = [&] {
            if (a == QLatin1String("--copy")) format = TClipFormat::Copy;
            else if (a == QLatin1String("--mp4")) format = TClipFormat::Mp4;
            else if (a == QLatin1String("--webm")) format = TClipFormat::WebM;
            else if (a == QLatin1String("--avi")) format = TClipFormat::Avi;
            else if (a == QLatin1String("--no-audio")) settings.WithAudio = false;
            else if (a == QLatin1String("--profile")) return next(settings.WMVSelected);
            else if (a == QLatin1String("--width")) return sizeGiven = true, next(v) && ToInt(v, width);
            else if (a == QLatin1String("--height")) return sizeGiven = true, next(v) && ToInt(v, height);
            else if (a == QLatin1String("--audio-format")) return next(v) && ToInt(v, audioFormat);
            else if (a == QLatin1String("--crf")) return next(v) && ToInt(v, settings.Mp4.Crf) && ToInt(v, settings.WebM.Crf);
            else if (a == QLatin1String("--preset")) return next(v) && (settings.Mp4.Preset = settings.WebM.Preset = v, true);
            else if (a == QLatin1String("--audio-bitrate"))
                return next(v) && ToInt(v, settings.Mp4.AudioKbps) && ToInt(v, settings.WebM.AudioKbps);
            else if (a == QLatin1String("--video-compressor")) return next(settings.VideoCompressorName);
            else if (a == QLatin1String("--audio-compressor")) return next(settings.AudioCompressorName);
            else return false;
            return true;
        }();
        if (!ok) return "The job's option " + a.toStdString() + " is not understood.";
    }
    if (width < 0 || width > 0xFFFF || height < 0 || height > 0xFFFF || audioFormat < 0 || audioFormat > 0xFFFF)
        return "The job's frame size or audio format is out of range.";
    const bool web = format == TClipFormat::Mp4 || format == TClipFormat::WebM;
    if (format == TClipFormat::Copy || (web && !sizeGiven)) width = height = 0;
    if (!settings.WithAudio) settings.Mp4.WithAudio = settings.WebM.WithAudio = false;
    if (format == TClipFormat::Avi) {
        using media::TCompressorCategory;
        if (!settings.VideoCompressorName.isEmpty()) {
            settings.VideoCompressor =
                media::BindCompressorByNameOrEncoder(TCompressorCategory::Video, settings.VideoCompressorName.toStdString());
            if (!settings.VideoCompressor)
                return "The video compressor " + settings.VideoCompressorName.toStdString() + " is not available.";
        }
        if (!settings.AudioCompressorName.isEmpty()) {
            settings.AudioCompressor =
                media::BindCompressorByNameOrEncoder(TCompressorCategory::Audio, settings.AudioCompressorName.toStdString());
            if (!settings.AudioCompressor)
                return "The audio compressor " + settings.AudioCompressorName.toStdString() + " is not available.";
        }
    }
    spec = ClipJobSpec(settings, source, output, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                       static_cast<uint16_t>(audioFormat), start, end, format, frameRate);
    spec.Ranges = std::move(ranges);
    spec.Split = !spec.Ranges.empty() && entry.value(QStringLiteral("split")).toBool();
    return "";
}

QString TQueuedJob::Source() const { return Entry.value(QStringLiteral("source")).toString(); }
QString TQueuedJob::Output() const { return Entry.value(QStringLiteral("output")).toString(); }

QString StateName(TQueuedJob::TState state) {
    switch (state) {
    case TQueuedJob::Waiting: return QStringLiteral("waiting");
    case TQueuedJob::Running: return QStringLiteral("running");
    case TQueuedJob::Done: return QStringLiteral("done");
    case TQueuedJob::Stopped: return QStringLiteral("stopped");
    case TQueuedJob::Failed: return QStringLiteral("failed");
    }
    return {};
}

TJobQueue::TJobQueue(std::shared_ptr<THive> hive, QString rootKey, QObject* parent)
    : QObject(parent), FHive(std::move(hive)), FKey(std::move(rootKey) + QStringLiteral("\\Queue")) {
    Load();
}

TJobQueue::~TJobQueue() {
    // The job is cancelled and its end awaited; the hive keeps it "running",
    // which the next start shows as stopped.
    FJob.reset();
    FSignals.reset();
}

void TJobQueue::Load() {
    const auto text = FHive->ReadText(FKey, kValue);
    if (!text) return;
    const QJsonArray jobs = QJsonDocument::fromJson(text->toUtf8()).object().value(QStringLiteral("jobs")).toArray();
    for (const QJsonValue& v : jobs) {
        QJsonObject entry = v.toObject();
        if (entry.isEmpty()) continue;
        TQueuedJob job;
        const QString state = entry.take(QStringLiteral("state")).toString();
        job.Error = entry.take(QStringLiteral("error")).toString();
        job.State = state == QLatin1String("done")                                           ? TQueuedJob::Done
                    : state == QLatin1String("failed")                                       ? TQueuedJob::Failed
                    : state == QLatin1String("stopped") || state == QLatin1String("running") ? TQueuedJob::Stopped
                                                                                             : TQueuedJob::Waiting;
        job.Entry = std::move(entry);
        FJobs.push_back(std::move(job));
    }
}

void TJobQueue::Save() {
    QJsonArray jobs;
    for (const TQueuedJob& job : FJobs) {
        QJsonObject entry = job.Entry;
        entry[QStringLiteral("state")] = StateName(job.State);
        if (!job.Error.isEmpty()) entry[QStringLiteral("error")] = job.Error;
        jobs.append(entry);
    }
    FHive->WriteText(FKey, kValue,
                    QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("jobs"), jobs}}).toJson(QJsonDocument::Compact)));
}

void TJobQueue::Add(QJsonObject entry) {
    TQueuedJob job;
    job.Entry = std::move(entry);
    FJobs.push_back(std::move(job));
    Save();
    emit changed();
}

bool TJobQueue::Remove(int index) {
    if (index < 0 || index >= static_cast<int>(FJobs.size()) || index == FCurrent) return false;
    FJobs.erase(FJobs.begin() + index);
    if (FCurrent > index) --FCurrent;
    Save();
    emit changed();
    return true;
}

bool TJobQueue::MoveUp(int index) {
    if (index <= 0 || index >= static_cast<int>(FJobs.size())) return false;
    std::swap(FJobs[index - 1], FJobs[index]);
    if (FCurrent == index) --FCurrent;
    else if (FCurrent == index - 1) ++FCurrent;
    Save();
    emit changed();
    return true;
}

bool TJobQueue::MoveDown(int index) { return MoveUp(index + 1); }

bool TJobQueue::Start(int restart) {
    if (restart >= 0 && restart < static_cast<int>(FJobs.size()) && restart != FCurrent &&
        FJobs[restart].State != TQueuedJob::Waiting) {
        FJobs[restart].State = TQueuedJob::Waiting;
        FJobs[restart].Error.clear();
        Save();
        emit changed();
    }
    bool any = false;
    for (const TQueuedJob& job : FJobs) any = any || job.State == TQueuedJob::Waiting;
    if (!any && FCurrent < 0) return false;
    FRunning = true;
    if (FCurrent < 0) Next();
    return true;
}

void TJobQueue::Stop() {
    FRunning = false;
    if (FJob) FJob->Cancel();  // its end comes as an event
}

void TJobQueue::Next() {
    while (FRunning) {
        int index = -1;
        for (size_t i = 0; i < FJobs.size() && index < 0; ++i)
            if (FJobs[i].State == TQueuedJob::Waiting) index = static_cast<int>(i);
        if (index < 0) break;
        TQueuedJob& job = FJobs[index];
        media::TClipJobSpec spec;
        const std::string why = ClipJobSpecOfEntry(job.Entry, spec);
        if (!why.empty()) {
            job.State = TQueuedJob::Failed;
            job.Error = QString::fromStdString(why);
            Save();
            emit changed();
            continue;
        }
        job.State = TQueuedJob::Running;
        job.Progress = job.Total = 0;
        FCurrent = index;
        Save();
        emit changed();
        FSignals = std::make_unique<TJobSignals>();
        connect(FSignals.get(), &TJobSignals::progress, this, [this](const media::TJobProgress& p) {
            if (FCurrent < 0) return;
            FJobs[FCurrent].Progress = p.Done;
            FJobs[FCurrent].Total = p.Total;
            emit progressed(FCurrent);
        }, Qt::QueuedConnection);
        connect(FSignals.get(), &TJobSignals::ended, this, &TJobQueue::JobEnded, Qt::QueuedConnection);
        FJob = media::StartClipJob(std::move(spec), FSignals->Events());
        return;
    }
    const bool wasRunning = FRunning;
    FRunning = false;
    if (wasRunning || FCurrent < 0) emit finished();
}

void TJobQueue::JobEnded(const media::TJobEnd& end) {
    FJob.reset();  // its thread has delivered its last event
    FSignals.reset();
    if (FCurrent >= 0) {
        TQueuedJob& job = FJobs[FCurrent];
        job.State = end.Outcome == media::TJobEnd::Done      ? TQueuedJob::Done
                    : end.Outcome == media::TJobEnd::Stopped ? TQueuedJob::Stopped
                                                             : TQueuedJob::Failed;
        job.Error = end.Outcome == media::TJobEnd::Failed ? QString::fromStdString(end.Error) : QString();
        FCurrent = -1;
        Save();
        emit changed();
    }
    if (FRunning) Next();
    else emit finished();
}
