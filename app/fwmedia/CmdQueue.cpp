// fwmedia queue: runs the clip jobs of a queue file one after another, as
// fwmedia render runs each, and prints one line per job. A failed job does
// not stop the ones after it; the exit code is 1 when any failed.
//
// The file: {"jobs": [{"source": "in.mp4", "output": "out.mp4",
//                      "ranges": [[10, 40], [60, 95]],   (or "start": 10, "end": 40)
//                      "split": false,
//                      "options": ["--copy"]}, ...]}
// "options" are fwmedia render's (--mp4 --crf 20, --avi ..., --copy).
#include "app/fwmedia/Commands.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>

namespace {

// The render arguments of one entry, or "" and what is wrong with it.
std::string RenderArgs(const QJsonObject& job, TArgs& args) {
    const QString source = job.value(QStringLiteral("source")).toString();
    const QString output = job.value(QStringLiteral("output")).toString();
    if (source.isEmpty() || output.isEmpty()) return "it needs a \"source\" and an \"output\".";
    args = {source.toStdString(), output.toStdString()};
    const QJsonArray ranges = job.value(QStringLiteral("ranges")).toArray();
    if (!ranges.isEmpty()) {
        for (const QJsonValue& r : ranges) {
            const QJsonArray pair = r.toArray();
            if (pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble())
                return "each of its \"ranges\" is [A, B] (frames A to B - 1).";
            args.push_back("--range");
            args.push_back(std::to_string(pair[0].toInteger()) + ":" + std::to_string(pair[1].toInteger()));
        }
        if (job.value(QStringLiteral("split")).toBool()) args.push_back("--split");
    } else {
        if (!job.value(QStringLiteral("start")).isDouble() || !job.value(QStringLiteral("end")).isDouble())
            return "it needs \"ranges\", or \"start\" and \"end\".";
        args.push_back(std::to_string(job.value(QStringLiteral("start")).toInteger()));
        args.push_back(std::to_string(job.value(QStringLiteral("end")).toInteger()));
    }
    for (const QJsonValue& o : job.value(QStringLiteral("options")).toArray()) args.push_back(o.toString().toStdString());
    return "";
}

}  // namespace

int CmdQueue(const TArgs& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: fwmedia queue FILE.json\n");
        return 2;
    }
    QFile file(QString::fromStdString(args[0]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "The queue file %s can not be read.\n", args[0].c_str());
        return 1;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !doc.object().value(QStringLiteral("jobs")).isArray()) {
        std::fprintf(stderr, "The queue file %s is not a queue: %s\n", args[0].c_str(),
                     error.error != QJsonParseError::NoError ? error.errorString().toUtf8().constData()
                                                             : "it needs {\"jobs\": [...]}");
        return 2;
    }
    const QJsonArray jobs = doc.object().value(QStringLiteral("jobs")).toArray();
    int failed = 0;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        TArgs render;
        const std::string why = RenderArgs(jobs[i].toObject(), render);
        int rc = 2;
        if (why.empty()) {
            rc = CmdRender(render);
            std::fflush(stderr);
        }
        const std::string name = render.size() > 1 ? render[1] : std::string("?");
        if (rc == 0)
            std::printf("job %lld of %lld: done %s\n", static_cast<long long>(i + 1), static_cast<long long>(jobs.size()),
                        name.c_str());
        else
            std::printf("job %lld of %lld: failed %s: %s\n", static_cast<long long>(i + 1),
                        static_cast<long long>(jobs.size()), name.c_str(),
                        !why.empty() ? why.c_str() : "see the message above.");
        std::fflush(stdout);
        if (rc != 0) ++failed;
    }
    return failed ? 1 : 0;
}
