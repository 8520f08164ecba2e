// Helpers of the conversion window tests: a headless application, the main
// window with a test movie open, and readers of the written files that do not
// use our engine (the ffprobe and ffmpeg command lines).
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

class TMainForm;

namespace convui {

// A test movie in `folder`: frames draw their own numbers, 25 frames per
// second, 160 x 120, MJPEG with PCM stereo audio in AVI.
QString MakeMovie(const QString& folder, int frames, bool withAudio = true);

// Lets the window's events run until its job is over (its state back to Idle),
// at most `seconds`; false when it is still busy then.
bool WaitForJobOver(TMainForm& form, int seconds = 600);

// Facts ffprobe reports about a file's streams.
struct TProbedStream {
    QString CodecType;  // "video" / "audio"
    QString CodecName;
    int Width = 0, Height = 0;
    int SampleRate = 0, Channels = 0;
};
std::vector<TProbedStream> ProbeStreams(const QString& file);
const TProbedStream* FindStream(const std::vector<TProbedStream>& streams, const QString& type);

// The numbers drawn into every video frame of the file, decoded by the
// ffmpeg command line at the file's own frame size (-1 for an unreadable one).
std::vector<int> FrameNumbers(const QString& file, int width, int height);

// Runs a process; its standard output, or an empty array when it failed.
QByteArray RunTool(const QString& program, const QStringList& args, int* exitCode = nullptr);

}  // namespace convui
