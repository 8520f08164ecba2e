// The capture job: samples a span of a movie's frames into numbered image
// files in a folder (the capture batch), or writes one frame under a given
// name (the snapshot). A job of the job model (media/Job.h): it reads the
// movie through a reader of its own on the job's thread; one writer thread of
// the job encodes and writes the previous picture while the next is decoded.
//
// Events, in order: Plan (the number of samples); then per sample Notice
// Writing (the file's name) or Notice Message ("Can not delete file ..."),
// Picture (the frame being written) and Progress (samples done of all);
// End last, with the counts of TJobEnd filled in.
#pragma once

#include "media/ImageFiles.h"
#include "media/Job.h"
#include "media/MovieReader.h"
#include "media/RenderEngine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

struct TCaptureSpec {
    std::string Source;        // the movie (UTF-8 path)
    int64_t First = 0;         // the span of frames sampled: First up to End, exclusive
    int64_t End = 0;           // (End < First samples backwards from First)
    int64_t Samples = 0;       // images to take
    int Width = 0, Height = 0; // of every picture, pixels
    std::string Folder;        // ends with '/'
    std::string Prefix = "B";  // numbered names: Prefix + number (at least 8 digits) + "." + extension
    // "": numbered names, the folder is made (with its parents) when missing.
    // Otherwise the name of the one picture (Samples 1), in a folder that must exist.
    std::string FileName;
    uint16_t PictureType = ptJpg;
    int JpegQuality = 40;      // the JPEG encoder's quality, 1..100
    int PngStep = 9;           // the PNG quality step, 0..9
    // Segments (each First .. End - 1) in place of First .. End: the samples
    // spread over their frames as if they were one span joined in this
    // order, so every segment is sampled in proportion to its length.
    std::vector<TFrameRange> Ranges;
};

// Segments: the frame at position `joined` of the segments joined in order
// (clamped to the last segment's last frame).
int64_t JoinedFrame(const std::vector<TFrameRange>& ranges, int64_t joined);

// The frame of sample position x (x = First + i * (End - First) / Samples, by
// repeated addition): the frame on screen at time x / rate, which the frame
// clock shows from a quarter frame before its own time on.
int64_t SampleFrame(double x);

// prefix + number (decimal, at least 8 digits) + "." + extension: B00000001.jpg.
std::string NumberedFileName(const std::string& prefix, uint64_t number, const std::string& extension);

// For a batch that ran to its end without a single picture: the message that
// says why; "" otherwise.
std::string NothingTakenMessage(const TJobEnd& end);

class TCaptureJob : public TJob {
public:
    // Starts the job. Sample i (from 0) is frame SampleFrame(x), written as
    // file number i + 1 (or under FileName). A sample whose frame does not come
    // is skipped, its number used up (End.NoFrame). An old entry of a
    // sample's name that may not be replaced (a folder, the movie itself)
    // gives the message "Can not delete file " + path and the sample is
    // skipped (End.NotReplaced). An old file is replaced only once its new
    // picture is written whole. A write error (full disk, unwritable folder)
    // ends the job Failed before another file is started; files written stay.
    // Cancel: the job stops before the next frame is fetched and ends Stopped
    // once the file in writing is complete.
    static std::unique_ptr<TCaptureJob> Start(TCaptureSpec spec, TJobEvents events);
    ~TCaptureJob() override;

    // The reader's counters; valid once End has come.
    TMovieReader::TStats ReaderStats() const { return FStats; }

private:
    TCaptureJob(TCaptureSpec spec, TJobEvents events);
    TJobEnd Body() override;

    const TCaptureSpec FSpec;
    TMovieReader::TStats FStats;
    bool FStarted = false;  // Start() got the job's thread going
};

// The snapshot: frame `frame` of `source` at width x height as a baseline
// JFIF JPEG of quality 90, written as `folder` + `fileName` (the folder is
// not made). End: Done with FilesWritten 1 (saved) or NoFrame 1 (no frame
// came: nothing written), or Failed with the write error.
TCaptureSpec SnapshotSpec(const std::string& source, int64_t frame, int width, int height,
                          const std::string& folder, const std::string& fileName);

}  // namespace media
