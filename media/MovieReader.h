// The movie reader: opens a movie, tells its facts and gives the picture of
// any frame at any size as RGB. The window's probe of a movie, the preview,
// the snapshot, the capture batch and fwmedia read movies through it.
//
// The decoder stays open between requests, so that nearby frames are reached
// by decoding forward instead of seeking, and a request far from the last one
// seeks to a key frame and decodes forward from there. A request may show a
// stand-in picture (that key frame) while the exact one is still decoding,
// and may be cancelled from another thread.
//
// Not thread-safe: one owner uses it from one thread at a time (the preview
// worker has a reader of its own; so does every job).
#pragma once

#include "media/MediaTypes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace media {

// A picture as 24-bit RGB, top-down, rows tightly packed (Width * 3 bytes).
struct TRgbPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb;

    bool Empty() const { return Width <= 0 || Height <= 0 || Rgb.empty(); }
    const uint8_t* Row(int y) const { return Rgb.data() + static_cast<std::size_t>(y) * Width * 3; }
};

// What the program shows of a movie: its video stream.
struct TMovieFacts {
    int VideoStream = -1;       // -1: the file has no video stream to show
    double FrameRate = 0;       // frames per second; 0 when unusable
    double Length = 0;          // seconds; 0 when unknown
    // Frames (positions) by the frame clock's rule (media/FrameClock.h):
    // the times n / FrameRate before the movie's end, or the number of
    // pictures of a movie whose pictures are not on one grid.
    int64_t FrameCount = 0;
    // Where the pictures are not on one grid: the time of every frame
    // (seconds from the first, jumps removed), FrameCount of them; empty when
    // frame n is at n / FrameRate. Known without decoding.
    std::vector<double> FrameTimes;
    TMediaTypeInfo MediaType;   // the video stream's
};

class TMovieReader {
public:
    TMovieReader();
    ~TMovieReader();
    TMovieReader(const TMovieReader&) = delete;
    TMovieReader& operator=(const TMovieReader&) = delete;

    // Opens the file (UTF-8 path), closing the one open before. False when it
    // cannot be read as a movie; LastError() says why. measureLengths: where
    // the file does not state its lengths reliably, read it through to measure
    // them (a reader that only fetches pictures can do without).
    bool Open(const std::string& path, bool measureLengths = true);
    bool IsOpen() const;
    const std::string& FileName() const;
    TMovieFacts Facts() const;

    // Facts of every stream (0 streams when none is open).
    int StreamCount() const;
    TMajorType StreamType(int stream) const;        // a cover picture is an Attachment
    double StreamLength(int stream) const;          // seconds; 0 when unknown
    double StreamFrameRate(int stream) const;       // frames per second; 0 when unusable or not video
    TMediaTypeInfo StreamMediaType(int stream) const;
    // Why the video stream's stated picture size can not be decoded and shown
    // (a sentence), or "" when it can.
    std::string PictureSizeProblem(int stream) const;

    struct TPictureRequest {
        int Stream = -1;        // a video stream; -1: the movie's video stream
        double Seconds = 0;     // counted from the stream's first picture, clock jumps removed
        // When >= 0: the movie's frame `Frame` by the frame clock's rule
        // instead of the frame on screen at Seconds.
        int64_t Frame = -1;
        int Width = 0, Height = 0;
        // Called (on the caller's thread) with a nearby picture when the exact
        // one needs a seek and more decoding: the key frame decoding starts from.
        std::function<void(const TRgbPicture&)> StandIn;
        // When not 0, a long forward decode also shows the frame it has
        // reached through StandIn this often.
        std::chrono::milliseconds StandInEvery{0};
        // Raised from another thread: the request ends early, returning false
        // with Cancelled() true. The reader stays usable.
        const std::atomic<bool>* Cancel = nullptr;
    };
    // The frame on screen at the request's time, scaled to its size. False
    // (LastError() says why) when the size or time is not sane, the stream is
    // not video, or no picture could be decoded.
    bool PictureAt(const TPictureRequest& request, TRgbPicture& out);
    // The time (seconds from the first picture) of track bar position
    // `position` of the video stream by the frame clock's rule: position /
    // FrameRate, or the own time of the picture a position between frames
    // falls on where the pictures are not on one grid. Known without decoding.
    double TimeOfPosition(double position) const;
    // Frame `frame` of the movie's video stream by the frame clock's rule.
    bool FrameAt(int64_t frame, int width, int height, TRgbPicture& out);

    // The video stream's key frames (frames a decode can start from) by
    // frame number, ascending, from the packets alone: nothing is decoded
    // (media/PacketIndex.h says how each container is read). The file is read
    // from a fresh opening, so requests for pictures are not disturbed;
    // cancel (optional) is looked at every few hundred packets.
    struct TKeyFrames {
        std::vector<int64_t> Frames;
        uint64_t PacketsRead = 0;  // packets read to find them
        bool Cancelled = false;
        std::string Error;         // "" unless the file could not be read
    };
    TKeyFrames KeyFrames(const std::atomic<bool>* cancel = nullptr) const;

    bool Cancelled() const;
    const std::string& LastError() const;

    // Counters for diagnosis and benchmarks.
    struct TStats {
        uint64_t Seeks = 0;          // seeks issued since the file was opened
        uint64_t FramesDecoded = 0;  // frames delivered by the decoder
    };
    TStats Stats() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

}  // namespace media
