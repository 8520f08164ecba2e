// The GIF and WebP animations' choices without a window: the file size to
// expect, shown on their settings page. Qt Core at most.
#pragma once

#include "convert/OutputSettings.h"

#include <cstdint>

// About how many bytes an animation of `seconds` takes at the settings' rate
// and width, for a source picture of sourceWidth x sourceHeight (the height
// follows its shape). A guess from the pixels written: GIF frames cost about
// 0.2 (no dithering) to 0.4 bytes a pixel (error diffusion: its noise
// compresses worst), lossy WebP about a tenth of that at quality 75, more
// with quality. Real footage differs by a factor of two either way.
int64_t EstimatedAnimBytes(bool gif, const TAnimSettings& settings, double seconds, int sourceWidth, int sourceHeight);

// "about 2.3 MB" (1 MB = 1,000,000 bytes), "about 850 kB".
QString AnimSizeText(int64_t bytes);
