#include "media/MediaDetector.h"
#include "media/MovieReader.h"
#include "source/FrameBitmap.h"

bool GrabFrame(media::TMediaDetector& detector, TFrameBitmap& bitmap, uint16_t width, uint16_t height,
               double seconds) {
    media::TMovieReader::TPictureRequest request;
    request.Stream = detector.get_CurrentStream();
    request.Seconds = seconds;
    request.Width = width;
    request.Height = height;
    media::TRgbPicture picture;
    if (!detector.Reader().PictureAt(request, picture) || picture.Empty()) return false;
    bitmap.Width = picture.Width;
    bitmap.Height = picture.Height;
    bitmap.Rgb = std::move(picture.Rgb);
    return true;
}
