// The clip job: writes frames FirstFrame .. EndFrame - 1 of a movie (its
// sound alongside) into a new file in any of the engine's formats, on the
// job model of media/Job.h.
//
// A same-as-source copy plans the cut once, tells the plan, and when the
// source can not be copied re-encodes the clip to MP4 instead with the
// fallback's options, keeping the source's colour description where it can
// (TWebOptions::KeepSourceColour) and always with its sound.
//
// Progress counts written frames of the clip; the total is lowered when the
// movie ends before the span does. Picture events give the source frame of
// the last written one. The file is written under a temporary name and
// replaces an old file of the output's name only when it is done or stopped;
// a failure leaves the old file as it was (media/StagedFile.h).
#pragma once

#include "media/Job.h"
#include "media/RenderEngine.h"

namespace media {

struct TClipJobSpec {
    std::string Source;          // UTF-8 path of the movie
    int64_t FirstFrame = 0;
    int64_t EndFrame = 0;        // exclusive
    // The movie's frame rate as its reader states it: the clip's length in
    // seconds is its frames at this rate where the movie's pictures are on one
    // grid; a movie off one grid takes its pictures' own times.
    double FrameRate = 0;
    // The file, its format and the format's choices (profile, compressors,
    // MP4/WebM options).
    TOutputSpec Output;
    // The output frame size; 0 x 0: the source's picture as it is shown.
    int Width = 0, Height = 0;
    // Sound: a copy always has the source's. Uncompressed AVI and WMV sound
    // is PCM in row AudioFormatIndex of the audio format list; the encoders
    // of the other formats pick the source's rate and channels as far as
    // they take them.
    bool WithAudio = false;
    int AudioFormatIndex = 0;
    // A copy that can not keep the source's pictures: the MP4 encoder's choices.
    TWebOptions Fallback;
    // Which of the source's audio tracks is the sound (from 0); -1: the first.
    int AudioTrack = -1;
    // Several spans of the movie (they may overlap), in this order, in place
    // of FirstFrame .. EndFrame: joined into the one output file, or with
    // Split one file per span named by SplitFileName (each written as a clip
    // of its own; the caller makes sure no file it must not replace has one
    // of these names). Empty: the one span FirstFrame .. EndFrame.
    std::vector<TFrameRange> Ranges;
    bool Split = false;
};

// The file of span `index` (from 0) of `count` split spans: "clip.mp4" gives
// "clip-01.mp4", "clip-02.mp4" ... (three digits from 100 spans on).
std::string SplitFileName(const std::string& output, size_t index, size_t count);

// Starts the job. Checks of the spans and every failure to build or write
// come as a Failed end, never as an exception.
std::unique_ptr<TJob> StartClipJob(TClipJobSpec spec, TJobEvents events);

}  // namespace media
