// The sound's waveform for the timeline: peak and RMS of the mixed channels
// over short buckets of time, from one decode of the first audio stream
// through the one decode path (media/FrameDecoder). No Qt; no FFmpeg types.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace media {

constexpr double kWaveBucketSeconds = 0.01;

// Bucket i covers [i, i + 1) * BucketSeconds from the movie's first picture
// (the video's time origin), so the waveform lines up with the frames.
struct TWaveform {
    double BucketSeconds = kWaveBucketSeconds;
    // 0..1 of full scale over every channel: the largest magnitude of any
    // channel, and the root mean square of all samples of all channels.
    std::vector<float> Peak, Rms;

    bool Empty() const { return Peak.empty(); }
};

// One column of a drawing: peak and RMS over a span of time.
struct TWaveColumn {
    float Peak = 0, Rms = 0;
};

// Columns of the waveform from `fromSeconds` to `toSeconds`, `columns` of
// them (the peak of the buckets each covers, the RMS of their RMS values).
std::vector<TWaveColumn> WaveColumns(const TWaveform& wave, double fromSeconds, double toSeconds, int columns);

struct TWaveformResult {
    bool HasSound = false;   // false: the file has no audio stream (no error)
    bool Cancelled = false;
    std::string Error;       // the file could not be read ("" otherwise)
    uint64_t PacketsRead = 0;
};

// Decodes the first audio stream of `path` into `wave` (cleared first).
// Time 0 is the video's start (the movie's time 0), or for a movie without
// video the sound's own start.
// `grown` (optional) is called every so often with the buckets known so far
// (the first `count` of wave's vectors are final then); the callee may copy
// them. cancel is looked at between packets.
TWaveformResult ReadWaveform(const std::string& path, TWaveform& wave,
                             const std::function<void(std::size_t count)>& grown = {},
                             const std::atomic<bool>* cancel = nullptr);

}  // namespace media
