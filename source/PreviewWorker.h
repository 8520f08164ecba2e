// The preview's decoder on a thread of its own, so that the window never
// waits for a picture. The window asks for the frame of a track bar position
// at a size; the latest request wins: a new one ends the work on the one
// before at the next packet. For each request the worker delivers
//  - at once, a stand-in when it has one: the same frame from its cache, or
//    the key frame a seek lands on while the exact frame is still decoding,
//    and now and then the frame a long forward decode has reached;
//  - then the exact frame of the position (exact = true), unless a newer
//    request came first.
// Nearby positions are reached by decoding forward, far ones by seeking.
//
// Results are handed to the deliver function on the worker's thread; the
// window passes them on to its own thread and drops those of old requests.
#pragma once

#include "media/MovieReader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class TPreviewWorker {
public:
    struct TResult {
        uint64_t Request = 0;      // the number Request() returned
        int Position = 0;
        bool Exact = false;        // the frame itself, not a stand-in
        media::TRgbPicture Picture;  // empty when the frame could not be decoded
        std::string Error;         // why, when Picture is empty
    };
    using TDeliver = std::function<void(TResult&&)>;

    explicit TPreviewWorker(TDeliver deliver);
    ~TPreviewWorker();  // ends the current work and joins the thread
    TPreviewWorker(const TPreviewWorker&) = delete;
    TPreviewWorker& operator=(const TPreviewWorker&) = delete;

    // The movie later requests read (UTF-8 path); opened on the worker's
    // thread. Ends the work on the movie before.
    void Open(const std::string& path);
    // Asks for frame `position` (by the frame clock's rule, as
    // TMovieReader::FrameAt) at width x height. Returns the request's number;
    // numbers only grow.
    uint64_t Request(int position, int width, int height);
    // Drops what is asked and pending (the movie is being closed or replaced).
    void Cancel();

    // The reader's counters after the last request served (tests, benchmarks).
    media::TMovieReader::TStats Stats() const;

private:
    struct TJob {
        uint64_t Id = 0;
        int Position = 0;
        int Width = 0, Height = 0;
    };
    void Run();
    void Serve(const TJob& job);
    const media::TRgbPicture* Cached(const TJob& job) const;
    void Remember(const TJob& job, const media::TRgbPicture& picture);
    void PublishStats();

    TDeliver FDeliver;
    media::TMovieReader FReader;  // used only on the worker's thread

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::optional<TJob> FPending;
    std::optional<std::string> FOpenPending;
    uint64_t FNextId = 0;
    bool FQuit = false;
    media::TMovieReader::TStats FStats;
    std::atomic<bool> FCancel{false};

    // Exact pictures delivered lately, newest first (worker's thread only).
    struct TCacheEntry {
        int Position = 0;
        media::TRgbPicture Picture;
    };
    std::list<TCacheEntry> FCache;

    std::thread FThread;  // last: starts when everything above exists
};
