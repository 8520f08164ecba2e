#include "app/Main.h"
#include "ConvUiTestUtil.h"

#include "TestMovie.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace convui {

QString MakeMovie(const QString& folder, int frames, bool withAudio) {
    testmovie::TMovieSpec spec;
    spec.Container = "avi";
    spec.VideoCodec = "mjpeg";
    spec.AudioCodec = withAudio ? "pcm_s16le" : "";
    spec.Frames = frames;
    const QString path = QDir(folder).filePath(QStringLiteral("source %1.avi").arg(frames));
    testmovie::MakeTestMovie(QFile::encodeName(path).toStdString(), spec);
    return path;
}

QByteArray RunTool(const QString& program, const QStringList& args, int* exitCode) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    process.closeWriteChannel();
    QByteArray out;
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(1000);
        out += process.readAllStandardOutput();
    }
    out += process.readAllStandardOutput();
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return out;
}

std::vector<TProbedStream> ProbeStreams(const QString& file) {
    const QByteArray json = RunTool(QStringLiteral("ffprobe"),
                                    {"-v", "error", "-show_streams", "-of", "json", file});
    std::vector<TProbedStream> streams;
    for (const QJsonValue v : QJsonDocument::fromJson(json).object().value("streams").toArray()) {
        const QJsonObject o = v.toObject();
        TProbedStream s;
        s.CodecType = o.value("codec_type").toString();
        s.CodecName = o.value("codec_name").toString();
        s.Width = o.value("width").toInt();
        s.Height = o.value("height").toInt();
        s.SampleRate = o.value("sample_rate").toString().toInt();
        s.Channels = o.value("channels").toInt();
        streams.push_back(s);
    }
    return streams;
}

const TProbedStream* FindStream(const std::vector<TProbedStream>& streams, const QString& type) {
    for (const auto& s : streams) {
        if (s.CodecType == type)
            return &s;
    }
    return nullptr;
}

std::vector<int> FrameNumbers(const QString& file, int width, int height) {
    // Every coded frame as it is stored (no frame rate conversion).
    const QByteArray rgb = RunTool(QStringLiteral("ffmpeg"), {"-v", "error", "-i", file, "-map", "0:v:0", "-vsync",
                                                              "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    std::vector<int> numbers;
    const qsizetype frameBytes = static_cast<qsizetype>(width) * height * 3;
    if (frameBytes <= 0)
        return numbers;
    for (qsizetype at = 0; at + frameBytes <= rgb.size(); at += frameBytes)
        numbers.push_back(testmovie::ReadFrameNumber(reinterpret_cast<const uint8_t*>(rgb.constData() + at), width,
                                                     height));
    return numbers;
}

}  // namespace convui

bool convui::WaitForJobOver(TMainForm& form, int seconds) {
    QElapsedTimer clock;
    clock.start();
    while (form.JobState() != TJobState::Idle && clock.elapsed() < seconds * 1000LL)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // What the end queued (a close asked for meanwhile) runs too.
    QCoreApplication::processEvents();
    return form.JobState() == TJobState::Idle;
}
