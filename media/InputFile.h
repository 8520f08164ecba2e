// Opening a movie for reading: shared by the detector and the renderer.
// Private to media/ (FFmpeg types).
#pragma once

#include "media/AvPtr.h"

#include <string>

namespace media {

struct TInputFile {
    AvFormatInputPtr Format;

    // Opens and probes the file (UTF-8 path). Throws MediaError with a
    // sentence fit for the user when it is not a readable movie.
    static TInputFile Open(const std::string& path);

    // The first real video stream (attached cover pictures do not count), or -1.
    int FirstVideoStream() const;
    // The first audio stream, or -1.
    int FirstAudioStream() const;

    // Seconds of the first frame or sample of the stream, counted in the
    // container's clock; subtracted so that the movie starts at 0.
    double StreamStartSeconds(int stream) const;
};

// A decoder for the stream, opened with FFmpeg's frame and slice threads
// (threadCount 0 lets the library pick one per core). Throws MediaError.
AvCodecContextPtr OpenDecoder(const AVStream* stream, int threadCount = 0);

}  // namespace media
