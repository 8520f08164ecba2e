// The PCM formats of uncompressed AVI and WMV sound: the rows of the audio
// format list. No FFmpeg and no Qt type here.
#pragma once

#include <cstdint>

namespace media {

// A PCM audio format: samples per second, bits per sample, channels.
struct TPcmFormat {
    int32_t SampleRate = 44100;
    int16_t Bits = 16;
    int16_t Channels = 2;

    int32_t BlockAlign() const { return (Channels * Bits) >> 3; }
    int32_t AvgBytesPerSecond() const { return SampleRate * BlockAlign(); }
};

// The eight rows of the audio format list. Row `index`; an index outside
// 0..7 gives row 0.
constexpr int kPcmFormatCount = 8;
TPcmFormat PcmFormatByIndex(int index);

}  // namespace media
