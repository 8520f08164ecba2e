// Key frames of a video stream from its packets, without decoding anything.
// Private to media/ (FFmpeg types).
//
// Where the container's index lists every picture with its key flag (MP4,
// MOV), the index is used: it holds decode stamps, so the reader is moved to
// each key entry and that one packet read for its presentation stamp.
// Elsewhere (AVI, Matroska,
// whose cues list only some key frames, MPEG program and transport streams,
// WebM, ASF ...) every packet of the stream is read once, the other streams
// discarded by the demuxer. Stamps are followed for clock jumps by the frame
// clock's rule (TJumpFollower), so they come back as continuous ticks.
#pragma once

#include "media/FrameClock.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

struct TKeyStamps {
    std::vector<int64_t> Stamps;  // continuous ticks of the key pictures, ascending, no repeats
    uint64_t PacketsRead = 0;     // packets read from the file to find them
    bool Cancelled = false;
};

// The key pictures of stream `stream` of the file at `path` (opened afresh,
// so no reader's position moves), whose clock is `clock`. `cancel` is looked
// at every few hundred packets. Throws MediaError when the file can not be opened.
TKeyStamps ReadKeyStamps(const std::string& path, int stream, const TFrameClock& clock,
                         const std::atomic<bool>* cancel = nullptr);

}  // namespace media
