// The editing timeline: groups (one per output stream) with their
// uncompressed media type, tracks with priorities, and source clips that play
// a span of a file. Timeline times are seconds; a source's span is frames of
// its video stream by the frame clock's rule (media/FrameClock.h). No FFmpeg
// and no Qt type here.
#pragma once

#include "media/MediaTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace media {

// A PCM audio format: samples per second, bits per sample, channels.
struct TPcmFormat {
    int32_t SampleRate = 44100;
    int16_t Bits = 16;
    int16_t Channels = 2;

    int32_t BlockAlign() const { return (Channels * Bits) >> 3; }
    int32_t AvgBytesPerSecond() const { return SampleRate * BlockAlign(); }
};

// The eight rows of the audio format list. Row `index`; an index outside
// 0..7 gives row 0.
constexpr int kPcmFormatCount = 8;
TPcmFormat PcmFormatByIndex(int index);

// The media type a group produces.
//  - video: RGB555 (16 bits per pixel) at Width x Height; SampleSize = w*h*2.
//    0 x 0 stands for the source's picture size (SampleSize 0 until rendered).
//  - audio with a format: PCM in Pcm; SampleSize = average bytes per second.
//  - audio without a format (HasFormat false): the major type only, for a
//    group whose stream goes to an audio compressor that picks its own format.
struct TGroupMediaType {
    TMajorType MajorType = TMajorType::Unknown;
    bool HasFormat = false;
    int32_t Width = 0;
    int32_t Height = 0;
    int16_t BitCount = 0;
    TPcmFormat Pcm;

    int64_t SampleSize() const;

    static TGroupMediaType VideoRgb555(int32_t width, int32_t height);
    static TGroupMediaType AudioPcm(const TPcmFormat& pcm);
    static TGroupMediaType AudioMajorOnly();
};

struct TTimelineSource {
    double TimelineStart = 0;  // seconds on the timeline
    double TimelineStop = 0;
    int64_t FirstFrame = 0;    // the span's first frame of the source's video stream
    int64_t EndFrame = 0;      // one past its last frame
    std::string MediaName;     // UTF-8 path of the source file
};

struct TTimelineTrack {
    int Priority = 0;
    std::vector<TTimelineSource> Sources;
};

struct TTimelineGroup {
    TGroupMediaType MediaType;
    std::vector<TTimelineTrack> Tracks;  // in priority order, highest first
};

class TTimeline {
public:
    // Whether the engine can produce this type; `why` gets a sentence for the
    // user when it cannot (a frame size of 0, an unknown PCM format, ...).
    static bool CheckMediaType(const TGroupMediaType& type, std::string* why);

    // Adds a group of the type; throws MediaError when CheckMediaType refuses it.
    int AddGroup(const TGroupMediaType& type);
    // Inserts a track into the group's composition; returns its index.
    int InsertTrack(int group, int priority);
    // Adds a source clip to a track. Throws MediaError for times that make no
    // clip (stop not after start, end frame not after the first, a negative first frame).
    void AddSource(int group, int track, const TTimelineSource& source);

    int GetGroupCount() const { return static_cast<int>(FGroups.size()); }
    const TTimelineGroup& Group(int index) const;

    // True when every source names an existing regular file; otherwise the
    // first missing name goes to *missing.
    bool ValidateSourceNames(std::string* missing) const;

private:
    std::vector<TTimelineGroup> FGroups;
};

}  // namespace media
