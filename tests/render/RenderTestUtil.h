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
    int AudioRate = 0;               // samples per second of the last audio frame
    double AudioPeak = 0;            // largest absolute sample, 0..1
    std::vector<double> AudioTenthPeaks;  // the largest absolute sample of each tenth of a second
    std::string Error;               // "" when the file decoded
};

// The frame numbers from .. to - 1.
std::vector<int> Range(int from, int to);

// Decodes the whole file with libavcodec (independent of the engine's writer).
TDecoded DecodeFile(const std::string& path);

// ffprobe -show_streams as one map per stream (key=value), in stream order.
std::vector<std::map<std::string, std::string>> Probe(const std::string& path, bool countFrames = true);

// A value of a Probe map: as a number (-1e9 when missing or N/A), as text ("" when missing).
double Num(const std::map<std::string, std::string>& stream, const char* key);
std::string Str(const std::map<std::string, std::string>& stream, const char* key);

// The file's top-level boxes (MP4 atoms) in order; whether "moov" (the index) comes before "mdat".
std::vector<std::string> TopLevelAtoms(const std::string& path);
bool MoovBeforeMdat(const std::string& path);

// Runs a shell command, returns its exit code; output goes to *out when given.
int Run(const std::string& command, std::string* out = nullptr);

// Where a tone first sounds in a file: seconds from the file's first decoded
// sound (as the command line gives it: edit list and codec delay applied,
// mixed to mono at 48 kHz) to the first sample above an eighth of full scale,
// plus that first sound's own time. -1 when nothing sounds that loud.
double ToneOnsetSeconds(const std::string& file);

// GStreamer (gst-launch-1.0 playbin) plays every stream of the file to its
// end without an error or a warning (a stream without a decoder is only warned
// about): "" when it does, "skip" when GStreamer is not installed, else what it said.
std::string GstPlayProblem(const std::string& path);

// Overwrites 4 bytes of a file at `offset` bytes after the `nth` (0-based)
// occurrence of the 4-character tag, little- or big-endian. Returns false when
// the tag is not there.
bool PatchAfterTag(const std::string& path, const char* tag, int nth, int offset, uint32_t value, bool bigEndian);

// The bytes of `a` followed by those of `b`, written to `out` (movies joined with cat).
void JoinFiles(const std::string& a, const std::string& b, const std::string& out);

// While it lives, this process may write no file beyond `bytes` (the soft
// RLIMIT_FSIZE; SIGXFSZ ignored so writes fail with EFBIG instead). Keeps a
// failing render from filling the disk and makes "disk full" part-way.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(uint64_t bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    uint64_t FOldSoft = 0;
    void (*FOldHandler)(int) = nullptr;
};

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
