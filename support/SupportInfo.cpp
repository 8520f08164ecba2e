#include "support/SupportInfo.h"

#include "common/MyCommonParams.h"

#include <QFile>
#include <QUrl>
#include <cmath>

const char* const ProgramName = "Framewhisk";
const char* const ProgramVersion = "1.3";

const char* const SupportAddress = "support@quillmont.example";
const char* const ErrorReportAddress = "bugreport@quillmont.example";
const char* const WebsiteAddress = "http://www.quillmont.example/";

bool RunDiscardingSilentAbort(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const EAbortSilently&) {
        return false;
    }
}

QString ErrorReportMailto(const QString& message) {
    const QStringList report = {
        "Dear author,",
        "",
        "",
        "An error has been encountered with the message:" + message,
    };
    QString body = "&body=";
    for (const QString& line : report)
        body += line + "%0A";
    return QString("mailto:") + ErrorReportAddress + "?subject=" + "Error report" + body;
}

QString SupportMailto(const QString& mainCaption) {
    return QString("mailto:") + SupportAddress + "?subject=" + mainCaption;
}

QString WebsiteCaption() {
    return "Website: " + QUrl(QString::fromLatin1(WebsiteAddress)).host();
}

void EmailSupport(const QString& mainCaption) {
    ShellOpen(SupportMailto(mainCaption));
}

void OpenWebsite() {
    ShellOpen(QString::fromLatin1(WebsiteAddress));
}

QString CpuSpeedFromCpuInfo(const QByteArray& cpuinfo) {
    for (const QByteArray& line : cpuinfo.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != "cpu MHz")
            continue;
        bool ok = false;
        const double mhz = line.mid(colon + 1).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(mhz) || mhz <= 0 || mhz >= 1e9)
            return {};
        return QString::number(static_cast<qint64>(std::llround(mhz))) + " MHz";
    }
    return {};
}

QString CpuSpeedText() {
    QFile file("/proc/cpuinfo");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // /proc files report size 0; read until the end, bounded.
    return CpuSpeedFromCpuInfo(file.read(1024 * 1024));
}
