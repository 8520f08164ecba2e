// The job that builds a movie's timeline (media/Timeline.h) off the window's
// thread: key frames from the packets, a thumbnail of every key frame (up to
// kMaxKeyThumbs), the waveform, and, while the view is at its closest zoom,
// the exact thumbnail of every frame in view.
//
// Progressive: thumbnails are made for the frames in view first, then
// outwards from there (Focus tells what is in view; it may change at any
// time). The waveform is decoded at the same time on a second thread.
// A movie whose timeline is in the cache (keyed by its file identity) reads
// nothing from the movie: everything is there at once.
//
// Events (media/Job.h), on the job's thread, in order:
//   Plan      once the key frames are known (Frames: thumbnails to make)
//   Picture   a thumbnail is ready for that frame (a key frame's, or an exact one)
//   Progress  thumbnails done of all; also when the waveform has grown
//   End       only when cancelled (Stopped) or failed: once complete (Complete())
//             the job stays to make exact thumbnails on request until cancelled.
// The window copies what it shows with the getters below (any thread).
#pragma once

#include "media/Job.h"
#include "media/Timeline.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace media {

struct TTimelineSpec {
    std::string Path;
    std::string CacheFolder;               // "" keeps nothing
    uint64_t CacheLimit = 512ull << 20;    // bytes of the cache folder
    bool Thumbs = true;                    // false: no thumbnails (the filmstrip is off)
    bool Wave = true;                      // false: no waveform
};

class TTimelineJob : public TJob {
public:
    static std::unique_ptr<TTimelineJob> Start(TTimelineSpec spec, TJobEvents events);
    ~TTimelineJob() override;

    // The frames in view [from, to]; exact: at the closest zoom, where every
    // frame gets its own thumbnail. Any thread; returns at once.
    void Focus(int64_t from, int64_t to, bool exact);

    struct TInfo {
        bool Known = false;          // the movie was read (or came from the cache)
        int64_t FrameCount = 0;
        int ThumbWidth = 0, ThumbHeight = 0;
        std::vector<int64_t> KeyFrames;
        std::vector<int64_t> ThumbFrames;  // the key frames that get thumbnails
        bool HasSound = false;
        std::size_t WaveBuckets = 0;       // known so far
        double WaveBucketSeconds = kWaveBucketSeconds;
        bool FromCache = false;
        bool Complete = false;             // all key thumbnails and the whole waveform are there
        uint64_t PacketsRead = 0;          // from the movie, by this job
        uint64_t FramesDecoded = 0;
        std::string Problem;               // why nothing could be read ("" otherwise)
    };
    TInfo Info() const;
    // A copy of the thumbnail of key frame `frame` (false when not made yet).
    bool Thumb(int64_t frame, TRgbPicture& out) const;
    // A copy of the exact thumbnail of frame `frame`.
    bool ExactThumb(int64_t frame, TRgbPicture& out) const;
    // Appends the waveform's buckets from `from` on to `into`.
    void WaveSince(std::size_t from, TWaveform& into) const;
    // For tools and tests: blocks until Complete() or the job ends, at most `limit`.
    bool WaitComplete(std::chrono::milliseconds limit) const;

private:
    explicit TTimelineJob(TTimelineSpec spec, TJobEvents events);
    TJobEnd Body() override;
    void OnCancel() override;

    bool LoadFromCache(const TFileIdentity& id);
    void KeepExact(int64_t frame, TRgbPicture picture);
    bool NextKeyThumb(const std::vector<int64_t>& todo, int64_t* frame);
    bool NextExact(int64_t* frame);
    TJobEnd Stopped() const;

    const TTimelineSpec FSpec;
    TMovieReader FReader;              // the job's thread only
    bool FReaderOpen = false;

    mutable std::mutex FMutex;
    mutable std::condition_variable FWake;
    TInfo FInfo;
    std::map<int64_t, TRgbPicture> FThumbs;
    std::map<int64_t, TRgbPicture> FExact;
    TWaveform FWave;
    bool FWaveDone = false, FWaveGrew = false;
    uint64_t FWavePackets = 0;
    int64_t FFocusFrom = 0, FFocusTo = 0;
    bool FExactFocus = false;
    bool FFocusChanged = false;
    std::thread FWaveThread;
};

}  // namespace media
