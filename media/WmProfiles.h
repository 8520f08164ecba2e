// Windows Media system profiles as this engine writes them: for each of the
// 27 profile identifiers, the streams of the ASF file (wmv2 video, wmav2 audio).
// The profile catalogue (convert/MyWMFBase.h) describes profiles from these
// same definitions, so what it shows is what the writer writes.
// No FFmpeg and no Qt type here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace media {

struct TWmVideoDef {
    bool Present = false;
    // 0 x 0: the output keeps the video group's frame size.
    int Width = 0;
    int Height = 0;
    // Frame rate as a fraction; 0/0 keeps the source's frame rate.
    int FrameRateNum = 0;
    int FrameRateDen = 0;
    // Constant bit rate in bits per second; for quality-based rows the
    // nominal rate shown to the user (the encoder then runs on Quality).
    int32_t BitRate = 0;
    // 0: constant bit rate; 2..31: fixed quantiser (lower is better).
    int Quality = 0;
    int BitCount = 24;  // bits per pixel of the picture the writer takes in
};

struct TWmAudioDef {
    bool Present = false;
    int SampleRate = 0;  // Hz
    int Channels = 0;
    int Bits = 16;
    int32_t BitRate = 0;  // bits per second of the coded stream
};

struct TWmProfileDef {
    std::string Guid;  // "{XXXXXXXX-...}" upper case, with braces
    TWmVideoDef Video;
    TWmAudioDef Audio;
};

// The 27 definitions in catalogue order.
const std::vector<TWmProfileDef>& WmProfileDefs();

// The definition for a profile identifier (compared without regard to case,
// braces optional); nullptr when none has it.
const TWmProfileDef* FindWmProfile(const std::string& guid);

// True when the linked FFmpeg has the wmv2 and wmav2 encoders and the asf muxer.
bool WMAvailable();

}  // namespace media
