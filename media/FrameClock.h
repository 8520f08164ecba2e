// The frame clock of a video stream: which picture is on screen at a time.
// Built once per stream and shared by everything that turns times into
// frames (the preview, every output, the captures), so that frame n is the
// same picture wherever it is shown or written. Private to media/ (FFmpeg
// types).
//
// Times count from the stream's first picture (Origin). The frame on screen at
// time t is the last picture whose stamp is not after t + Tolerance: the
// tolerance absorbs the rounding of container clocks (milliseconds in ASF and
// Matroska) and of t = n / rate in floating point, so that time n / rate gives
// frame n.
#pragma once

#include "media/AvPtr.h"

namespace media {

struct TInputFile;

// The rate of a video stream is the one it states, unless the pictures' own
// times disagree with it: a container that states no average rate (ASF,
// some Matroska files) leaves FFmpeg to guess one from its clock's
// resolution (1000 fps for millisecond stamps), and writing a clip at that
// rate repeats each picture dozens of times. For such a stream the stamps of
// its first pictures (up to kRatePictures) are read from a fresh opening of
// the file; where the stated rate is more than kRateDisagreement times their
// mean rate or less than its inverse, their mean rate becomes the stream's
// average rate (AVStream::avg_frame_rate), which every clock, length and
// frame count then uses. Called by TInputFile::Open.
void SettleFrameRates(TInputFile& file);
constexpr int kRatePictures = 240;
constexpr double kRateDisagreement = 1.5;

struct TFrameClock {
    AVRational TimeBase{1, 1000};
    AVRational Rate{25, 1};   // frames per second; 25 when the stream states none
    bool RateKnown = false;   // the stream states a usable rate
    int64_t Origin = 0;       // ticks of the first picture
    int64_t FrameTicks = 1;   // one frame in ticks (at least 1)
    double Tolerance = 0;     // seconds (see above)

    // The clock of `stream` whose first picture is stamped `originTicks`.
    static TFrameClock For(const AVStream* stream, int64_t originTicks);

    double Fps() const { return av_q2d(Rate); }
    double Tick() const { return av_q2d(TimeBase); }

    // The last stamp (ticks) that is on screen at `seconds`.
    int64_t TicksAt(double seconds) const;
    // Seconds from the first picture of a stamp.
    double SecondsOf(int64_t ticks) const { return double(ticks - Origin) * Tick(); }
    // Whether a picture stamped `seconds` (from the first picture) is on screen at time t.
    bool OnScreenAt(double stampSeconds, double t) const { return stampSeconds <= t + Tolerance; }
    // The time of frame n.
    double TimeOfFrame(int64_t n) const { return double(n) / Fps(); }
};

}  // namespace media
