// A real sound server for the playback tests: PulseAudio started by the test
// with a null sink of its own (in a temporary folder: its own socket, runtime
// and home folders), the process's PULSE_SERVER pointed at it, and a
// recording of the sink's monitor whose samples carry the steady clock's time
// they were heard at. Stopped (and the environment restored) when destroyed.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace playtest {

// The movie the playback tests play: every picture shows its frame number as
// twelve black or white bands in its lower half, and its upper half is white
// on every 30th frame (each whole second) and black otherwise; the sound
// clicks loudly at each whole second and softly every tenth of a second.
// variableRate: frames last 1, 1.5, 0.5, 1 ... periods in turn (the flash
// frames stay on whole seconds). Made with the ffmpeg command line.
struct TFlashMovie {
    int Width = 1920, Height = 1080;
    int Seconds = 6;
    bool VariableRate = false;
};
std::string MakeFlashMovie(const std::string& folder, const std::string& name, const TFlashMovie& spec);
// The frame number drawn into a picture (RGB rows), -1 when none; *flash: the upper half is white.
int ReadFlashFrame(const uint8_t* rgb, int width, int height, bool* flash);

class TSoundServer {
public:
    TSoundServer();
    ~TSoundServer();
    // Why the server could not be started ("" when it runs).
    const std::string& Problem() const { return FProblem; }

    // Records the null sink's monitor (mono, 48 kHz) until StopRecording.
    bool StartRecording();
    void StopRecording();
    static constexpr int kRate = 48000;
    // The recorded samples and the steady-clock time of sample 0.
    std::vector<int16_t> Samples() const;
    std::chrono::steady_clock::time_point SampleZero() const;

private:
    std::string FDir, FProblem, FOldServer;
    bool FHadServer = false;
    pid_t FServer = -1, FRecorder = -1;
    int FPipe = -1;
    std::thread FReader;
    mutable std::mutex FLock;
    std::vector<int16_t> FSamples;
    double FBestOffset = 1e300;  // min over reads of (arrival - samples so far / rate), seconds since FEpoch
    std::chrono::steady_clock::time_point FEpoch;
};

// Onsets in a recording: the first sample of each burst louder than
// `threshold` (0..1) at least `gap` seconds after the one before, as sample indexes.
std::vector<int64_t> Onsets(const std::vector<int16_t>& samples, double threshold, double gap);

}  // namespace playtest
