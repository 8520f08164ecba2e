#include "media/FrameClock.h"

#include "media/InputFile.h"

#include <algorithm>
#include <cmath>

namespace media {

TFrameClock TFrameClock::For(const AVStream* stream, int64_t originTicks) {
    TFrameClock c;
    c.TimeBase = stream->time_base.num > 0 && stream->time_base.den > 0 ? stream->time_base : AVRational{1, 1000};
    const AVRational rate = StreamFrameRate(stream);
    c.RateKnown = UsableFrameRate(rate);
    if (c.RateKnown) c.Rate = rate;
    c.Origin = originTicks;
    c.FrameTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(c.Rate), c.TimeBase));
    // A quarter frame: more than any container's rounding of a stamp at a
    // real frame rate, and far enough from the next frame.
    c.Tolerance = std::max(1e-6, 0.25 / c.Fps());
    return c;
}

int64_t TFrameClock::TicksAt(double seconds) const {
    const double ticks = std::floor((seconds + Tolerance) / Tick());
    const double lim = 4e18;
    return Origin + static_cast<int64_t>(std::clamp(ticks, -lim, lim));
}

}  // namespace media
