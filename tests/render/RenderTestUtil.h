// Reading rendered files back in the render tests: every video frame's drawn
// number, the audio's samples, and ffprobe's view of the streams.
#pragma once

#include "convert/RenderClip.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rendertest {

struct TDecoded {
    std::vector<int> FrameNumbers;   // ReadFrameNumber of each decoded video frame, in order
    int Width = 0, Height = 0;
    int64_t AudioSamples = 0;        // per channel
    double AudioPeak = 0;            // largest absolute sample, 0..1
    std::string Error;               // "" when the file decoded
};

// Decodes the whole file with libavcodec (independent of the engine's writer).
TDecoded DecodeFile(const std::string& path);

// ffprobe -show_streams as one map per stream (key=value), in stream order.
std::vector<std::map<std::string, std::string>> Probe(const std::string& path, bool countFrames = true);

// Runs a shell command, returns its exit code; output goes to *out when given.
int Run(const std::string& command, std::string* out = nullptr);

// A host that records what the renderer shows and can ask for a stop.
class TTestHost : public TRenderClipHost {
public:
    TOutputSettings Settings;
    int StopAfterPolls = -1;        // >= 0: StopRequested turns true after that many polls
    bool ShowPreview = false;
    int Polls = 0;
    QStringList BusyCaptions, TimeLeftCaptions;
    std::vector<int32_t> TrackBarPositions;
    QString FailureMessage, FailureReason;
    int Failures = 0, Pauses = 0;
    bool BusyVisible = false, TimeLeftVisible = false, Hourglass = false;

    const TOutputSettings& OutputSettings() override { return Settings; }
    bool StopRequested() override { return StopAfterPolls >= 0 && Polls >= StopAfterPolls; }
    void ProcessMessages() override { ++Polls; }
    void SetBusyCaption(const QString& c) override { BusyCaptions << c; }
    void SetBusyVisible(bool v) override { BusyVisible = v; }
    void SetTimeLeftCaption(const QString& c) override { TimeLeftCaptions << c; }
    void SetTimeLeftVisible(bool v) override { TimeLeftVisible = v; }
    bool ShowPreviewWhenClipping() override { return ShowPreview; }
    void SetTrackBarPosition(int32_t f) override { TrackBarPositions.push_back(f); }
    void SetHourglass(bool on) override { Hourglass = on; }
    void ShowFailure(const QString& m, const QString& r) override {
        ++Failures;
        FailureMessage = m;
        FailureReason = r;
    }
    void Pause(int) override { ++Pauses; }
};

}  // namespace rendertest
