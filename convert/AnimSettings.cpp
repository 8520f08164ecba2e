#include "convert/AnimSettings.h"

#include <QString>
#include <algorithm>
#include <cmath>

int64_t EstimatedAnimBytes(bool gif, const TAnimSettings& s, double seconds, int sourceWidth, int sourceHeight) {
    if (!(seconds > 0) || sourceWidth <= 0 || sourceHeight <= 0) return 0;
    const double width = s.Width > 0 ? s.Width : sourceWidth;
    const double height = width * sourceHeight / sourceWidth;
    const double pixels = width * height * std::clamp(s.Fps, 5, 30) * seconds;
    double perPixel = 0;
    if (gif) {
        perPixel = s.Dither == 0 ? 0.2 : s.Dither == 1 ? 0.3 : 0.4;
    } else {
        const int q = std::clamp(s.Quality, 0, 100);
        perPixel = 0.04 * std::pow(2.0, (q - 75) / 12.5);
    }
    return static_cast<int64_t>(std::llround(pixels * perPixel)) + 1000;
}

QString AnimSizeText(int64_t bytes) {
    if (bytes >= 1000000) return QStringLiteral("about %1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
    return QStringLiteral("about %1 kB").arg(std::max<int64_t>(1, bytes / 1000));
}
