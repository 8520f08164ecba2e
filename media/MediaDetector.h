// The media detector: opens a movie, lists its streams and fetches single
// frames as packed bitmaps. A thin layer over the movie reader
// (media/MovieReader), which does the reading and decoding; code of our own
// takes pictures from the reader directly.
//
// Not thread-safe: one owner uses it from one thread at a time.
#pragma once

#include "media/MediaTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace media {

class TMovieReader;
struct TRgbPicture;

class TMediaDetector {
public:
    TMediaDetector();
    ~TMediaDetector();
    TMediaDetector(const TMediaDetector&) = delete;
    TMediaDetector& operator=(const TMediaDetector&) = delete;

    // Opens the file (UTF-8 path). Returns false when it cannot be read as a
    // movie; the detector then shows no streams. LastError() says why.
    bool put_Filename(const std::string& path);
    const std::string& Filename() const;

    // Number of streams of the open file (0 when none is open).
    int get_OutputStreams() const;
    // Selects the current stream; false for an index out of range.
    bool put_CurrentStream(int index);
    int get_CurrentStream() const;
    // The video stream to show: the first real video stream that has
    // pictures (a file may hold empty ones before it); -1 when there is none.
    int get_VideoStream() const;

    // Facts about the current stream. A cover picture attached to an audio
    // file is reported as TMajorType::Attachment, not Video.
    TMajorType get_StreamType() const;
    double get_StreamLength() const;   // seconds; 0 when unknown
    double get_FrameRate() const;      // frames per second; 0 when unusable
    TMediaTypeInfo get_StreamMediaType() const;
    // The video stream's frames (track bar positions) and the time of a
    // position, by the frame clock's rule (TMovieReader::Facts, TimeOfPosition).
    int64_t get_FrameCount() const;
    double get_PositionTime(double position) const;
    // Why the current stream's stated picture size can not be shown (a
    // sentence), or "" when it can: a size of 0 or beyond what the decoder
    // takes leaves the movie without usable video.
    std::string PictureSizeProblem() const;

    // The frame on screen at streamTime seconds (counted from the movie's first
    // frame), scaled to width x height, as a packed bitmap: a 40-byte
    // BITMAPINFOHEADER followed by bottom-up 24-bit BGR rows, each padded to a
    // multiple of 4 bytes.
    //  - buffer == nullptr: *bufferSize receives the byte size needed; no decoding.
    //  - otherwise *bufferSize is the buffer's size on entry; the bitmap is written.
    // Returns false (LastError() says why) when the size is not sane, the
    // buffer is too small, or no frame could be decoded.
    bool GetBitmapBits(double streamTime, std::size_t* bufferSize, uint8_t* buffer,
                       int width, int height);

    const std::string& LastError() const;

    // Counters for diagnosis and benchmarks.
    struct TStats {
        uint64_t Seeks = 0;          // seeks issued since the file was opened
        uint64_t FramesDecoded = 0;  // frames delivered by the decoder
    };
    TStats Stats() const;

    // The same frame as an RGB picture (media/MovieReader's TRgbPicture),
    // without the packed-bitmap round trip. False as GetBitmapBits.
    bool GetPicture(double streamTime, int width, int height, TRgbPicture& out);

    // The reader underneath.
    TMovieReader& Reader();

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

}  // namespace media
