// Types that cross the engine's boundary. No FFmpeg and no Qt type appears here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace media {

// Error raised by the engine; what() is a sentence fit to show to the user.
class MediaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Major type of a stream, as the movie reader reports it.
enum class TMajorType { Unknown, Video, Audio, Subtitle, Data, Attachment };

// The media type of a stream, as the movie reader reports it.
struct TMediaTypeInfo {
    TMajorType MajorType = TMajorType::Unknown;
    std::string CodecName;      // FFmpeg's short codec name, "" when unknown
    // Video only: the picture as it is shown, in pixels: turned by the
    // stream's display rotation and at its display aspect ratio.
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t StoredWidth = 0;    // video only: the pictures as the stream stores them
    int32_t StoredHeight = 0;
    int32_t Rotation = 0;       // video only: clockwise degrees the pictures are turned by to show them
    double FrameRate = 0;       // frames per second, video only; 0 when unknown
    int32_t SampleRate = 0;     // Hz, audio only
    int32_t Channels = 0;       // audio only
};

}  // namespace media
