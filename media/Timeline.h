// What the timeline shows of a movie, apart from the window: key frames,
// thumbnails of key frames, the sound's waveform; which thumbnail a place on
// the strip shows; the strip as one picture; and the cache that keeps all of
// it per movie file. No Qt.
#pragma once

#include "media/FileIdentity.h"
#include "media/MovieReader.h"
#include "media/Waveform.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace media {

// Thumbnails are this many pixels high, as wide as the movie's shape asks.
constexpr int kThumbHeight = 54;
// At most this many key frames get a thumbnail (spread evenly over the
// movie); more would not fit side by side on any screen at the widest view.
constexpr int kMaxKeyThumbs = 1200;

// The thumbnail width for a movie shown at width x height (at least 8).
int ThumbWidth(int shownWidth, int shownHeight, int thumbHeight = kThumbHeight);

// The key frames that get thumbnails: all of them, or kMaxKeyThumbs spread
// evenly (the first and the last kept).
std::vector<int64_t> ThumbFrames(const std::vector<int64_t>& keyFrames);

// The frame of the thumbnail shown for frame `frame`: the nearest at or
// before it among `frames` (ascending), else the first; -1 when empty.
int64_t ThumbFor(const std::vector<int64_t>& frames, int64_t frame);

// Everything kept of a movie.
struct TTimelineData {
    int64_t FrameCount = 0;
    std::vector<int64_t> KeyFrames;
    int ThumbWidth = 0, ThumbHeight = 0;
    std::map<int64_t, TRgbPicture> Thumbs;  // by key frame
    bool HasSound = false;
    TWaveform Wave;
};

// The strip as one picture `width` pixels wide: slots of the thumbnail width
// side by side, slot i showing the thumbnail for the frame at its left edge
// (ThumbFor); black where none is known.
TRgbPicture ComposeStrip(const TTimelineData& data, int width);

// The waveform as a picture: a column per pixel, the peak drawn lighter and
// the RMS darker, mirrored about the middle.
TRgbPicture DrawWaveform(const TWaveform& wave, double lengthSeconds, int width, int height);

// The cache of timelines: one file per movie in `folder`, named by the
// movie file's identity, written whole (media/StagedFile) or not at all.
// A file that does not read back exactly (truncated, garbled, another
// version) is removed and counts as absent.
class TTimelineCache {
public:
    // The cache folder of the user: $XDG_CACHE_HOME/framewhisk/timeline, else ~/.cache/framewhisk/timeline.
    static std::string DefaultFolder();

    // limitBytes: the folder's files together stay within it; the least
    // recently used ones go first.
    explicit TTimelineCache(std::string folder, uint64_t limitBytes = 512ull << 20);

    std::string PathFor(const TFileIdentity& id) const;
    // The kept timeline of the file, when one is there and whole; its use is
    // recorded (the file's time), so that it is removed last.
    std::optional<TTimelineData> Load(const TFileIdentity& id) const;
    // Keeps the timeline, then trims the folder to the limit. Throws
    // TStagedFileError when it can not be written.
    void Store(const TFileIdentity& id, const TTimelineData& data) const;
    // Removes the least recently used files until the rest fit the limit
    // (`keep` is never removed). Returns how many went.
    int Trim(const std::string& keep = {}) const;

private:
    std::string FFolder;
    uint64_t FLimit;
};

}  // namespace media
