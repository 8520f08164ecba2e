// What the parts of the copy (media/CopyCut.h) share besides the bitstream
// (media/CopyBitstream.h): the seeks the planning read makes and the copy
// repeats, and the re-encoder's codec. Private to media/CopyPlan.cpp and
// media/CopyWrite.cpp.
#pragma once

#include "media/AvPtr.h"
#include "media/InputFile.h"

#include <cstdint>

namespace media::copycut {

// How far libx264 and libx265 (both preset faster) move a picture in decode
// order: their B-frame pyramid's two places.
constexpr int kEncoderReorderDepth = 2;

// Puts the demuxer before `target` for reading `stream` the way SeekBefore
// did when it returned `target` (AV_NOPTS_VALUE: the start of the file).
void SeekAgain(TInputFile& in, int stream, int64_t target);

// Puts the demuxer before `ticks` for reading `stream`: on a key frame at or
// before it when a seek can, else at the start. Returns what to give
// SeekAgain to land at the same place (AV_NOPTS_VALUE: the start).
int64_t SeekBefore(TInputFile& in, int stream, int64_t ticks);

// The encoder of the frames around the cut (libx264, libx265); null when
// this installation lacks it.
const AVCodec* SameCodecEncoder(const AVCodecParameters* par);

}  // namespace media::copycut
