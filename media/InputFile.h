// Opening a movie for reading: shared by the movie reader and the renderer.
// Private to media/ (FFmpeg types).
#pragma once

#include "media/AvPtr.h"

#include <string>

namespace media {

struct TInputFile {
    AvFormatInputPtr Format;

    // Opens and probes the file (UTF-8 path). Throws MediaError with a
    // sentence fit for the user when it is not a readable movie. The video
    // streams' rates are settled by the frame clock's rule
    // (SettleFrameRates in media/FrameClock.h) before anyone reads them.
    static TInputFile Open(const std::string& path);
    // The same with the rates as the file states them.
    static TInputFile OpenAsStated(const std::string& path);

    // The video stream the program shows and writes: the first real video
    // stream (attached cover pictures do not count) that has pictures. Where a
    // file has several, packets are read (from a fresh opening, up to a limit)
    // to find the first that has any; the first one when none shows any. -1
    // when the file has no video stream.
    int FirstVideoStream() const;
    // The first audio stream, or -1.
    int FirstAudioStream() const;

    // Seconds of the first frame or sample of the stream, counted in the
    // container's clock; subtracted so that the movie starts at 0.
    double StreamStartSeconds(int stream) const;

    // Puts the demuxer back at the start of the file for reading `stream`.
    // MPEG program and transport streams go back by bytes (a seek by time
    // may land a few pictures in); others by time. False when no way works.
    bool SeekToStart(int stream);

};

// The timestamp (stream ticks) of the stream's first picture as the decoder
// delivers it: the origin from which the movie's times count. It differs from
// the container's start time where the decoder's own timing is shifted
// (packed B-frames in AVI time every frame one tick late). Read from a fresh
// opening of the file, so no reader's position is disturbed; the stream's
// start time (or 0) when no picture can be decoded.
int64_t FirstFrameTicks(const std::string& path, int stream);

// Frame rates a real movie has: at least one picture a minute, at most 1000 a
// second. Anything else comes from a damaged or hostile header (an AVI scale
// of 100000, a first frame lasting days) and would turn a few frames into
// hours of output.
constexpr double kMinFrameRate = 1.0 / 60;
constexpr double kMaxFrameRate = 1000;
bool UsableFrameRate(AVRational rate);

// Picture sizes the program decodes and shows: each side from 1 to
// kMaxPictureSide pixels and at most kMaxPicturePixels in all (the decoders
// are opened with that limit). A stream stating another size (0, or a damaged
// 65535) has no usable video.
constexpr int kMaxPictureSide = 16384;
constexpr int64_t kMaxPicturePixels = int64_t(16384) * 16384 / 4;
bool UsablePictureSize(int width, int height);

// The stream's frame rate: its average rate, else its real base rate, when
// usable; 0/1 when neither is.
AVRational StreamFrameRate(const AVStream* stream);

// A decoder for the stream, opened with FFmpeg's frame and slice threads
// (threadCount 0 lets the library pick one per core). Throws MediaError.
AvCodecContextPtr OpenDecoder(const AVStream* stream, int threadCount = 0);

}  // namespace media
