#include "media/MediaDetector.h"
#include "media/MovieReader.h"
#include "source/FrameBitmap.h"

bool GrabFrame(media::TMediaDetector& detector, TFrameBitmap& bitmap, uint16_t width, uint16_t height,
               double seconds) {
    media::TRgbPicture picture;
    if (!detector.GetPicture(seconds, width, height, picture) || picture.Empty()) return false;
    bitmap.Width = picture.Width;
    bitmap.Height = picture.Height;
    bitmap.Rgb = std::move(picture.Rgb);
    return true;
}
