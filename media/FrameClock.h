// The frame clock of a video stream: which picture is on screen at a time.
// Built once per stream and shared by everything that turns times into
// frames (the preview, every output, the captures), so that frame n is the
// same picture wherever it is shown or written. Private to media/ (FFmpeg
// types).
//
// Times count from the stream's first picture (Origin). The frame on screen at
// time t is the last picture whose stamp is not after t + Tolerance: the
// tolerance absorbs the rounding of container clocks (milliseconds in ASF and
// Matroska) and of t = n / rate in floating point, so that time n / rate gives
// frame n.
//
// The one rule for "the frame at position p" and "the frame on screen at
// time t", for the preview, every output, the copy planner and the captures:
//  - Clock jumps (a transport stream whose stamps restart or leap, wrapped
//    stamps, recordings joined end to end) are removed: the pictures after a
//    jump follow on from the picture before it, one frame (FrameTicks) after
//    it. A jump is a step back by more than half a second in formats whose
//    clock may jump (AVFMT_TS_DISCONT; recordings joined end to end restart
//    their clock there) and two seconds in others (more than pictures are
//    ever reordered), or forward by more than ten seconds in the former and
//    a minute in the latter. Pictures are followed in the order they come,
//    so a piece whose stamps repeat an earlier one's is told apart. Times with the
//    jumps removed are "continuous ticks"; where there is no jump they are
//    the stamps themselves.
//  - A stream whose pictures lie on the grid of its rate (within container
//    rounding) is constant-rate: position p is the picture on screen at
//    p / rate, and the frame count is the number of such times before the
//    movie's end (a quarter frame of tolerance, as the outputs count).
//  - Where the pictures are not on one grid (phones record that way, and
//    rates change part-way), position p is the stream's p-th picture in
//    presentation order, its time is that picture's own time, and the frame
//    count is the number of pictures.
// The frames' times come from the container's index where it has one (MP4,
// MOV), else from one read through the packets (no decoding); AVI states one
// rate for every frame and is never read through; a stream with packets
// that carry no time of their own, and an interlaced one (a packet may be a
// field), keep the rule of their rate.
#pragma once

#include "media/AvPtr.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

struct TInputFile;

// The rate of a video stream is the one it states, unless the pictures' own
// times disagree with it: a container that states no average rate (ASF,
// some Matroska files) leaves FFmpeg to guess one from its clock's
// resolution (1000 fps for millisecond stamps), and writing a clip at that
// rate repeats each picture dozens of times. For such a stream the stamps of
// its first pictures (up to kRatePictures) are read from a fresh opening of
// the file; where the stated rate is more than kRateDisagreement times their
// mean rate or less than its inverse, their mean rate becomes the stream's
// average rate (AVStream::avg_frame_rate), which every clock, length and
// frame count then uses. Called by TInputFile::Open.
void SettleFrameRates(TInputFile& file);
constexpr int kRatePictures = 240;
constexpr double kRateDisagreement = 1.5;

struct TFrameClock {
    AVRational TimeBase{1, 1000};
    AVRational Rate{25, 1};   // frames per second; 25 when the stream states none
    bool RateKnown = false;   // the stream states a usable rate
    int64_t Origin = 0;       // ticks of the first picture
    int64_t FrameTicks = 1;   // one frame in ticks (at least 1)
    double Tolerance = 0;     // seconds (see above)

    // The clock of `stream` whose first picture is stamped `originTicks`.
    static TFrameClock For(const AVStream* stream, int64_t originTicks);

    double Fps() const { return av_q2d(Rate); }
    double Tick() const { return av_q2d(TimeBase); }

    // The last stamp (ticks) that is on screen at `seconds`.
    int64_t TicksAt(double seconds) const;
    // Seconds from the first picture of a stamp.
    double SecondsOf(int64_t ticks) const { return double(ticks - Origin) * Tick(); }
    // Whether a picture stamped `seconds` (from the first picture) is on screen at time t.
    bool OnScreenAt(double stampSeconds, double t) const { return stampSeconds <= t + Tolerance; }
    // The time of frame n (seconds from the first picture, jumps removed).
    double TimeOfFrame(int64_t n) const;

    // The stream's pictures, where they were listed (see the rule above).
    struct TList {
        std::vector<int64_t> Times;  // continuous ticks of every picture, presentation order
        struct TPiece {
            int64_t Shift = 0;       // continuous = stamp + Shift
            int64_t RawLow = 0, RawHigh = 0;  // the piece's lowest and highest stamps
            int64_t ContLow = 0;     // its lowest continuous tick
        };
        std::vector<TPiece> Pieces;  // runs of the clock between jumps, in file order
        bool Variable = false;       // the pictures are not on the grid of the rate
        int64_t EndTicks = 0;        // continuous end of the last picture
    };
    std::shared_ptr<const TList> List;  // null: not listed (constant rate, no jump known)

    bool Variable() const { return List && List->Variable; }
    // Takes the list of the stream's pictures. Where they are off one grid
    // their times are known exactly, and the tolerance shrinks to the
    // rounding of a time in seconds (half a tick): a picture's own time shows
    // that picture however close the next one follows.
    void Adopt(std::shared_ptr<const TList> list);
    bool Jumps() const { return List && List->Pieces.size() > 1; }
    // The continuous tick at which frame n is shown: the stamp a request for
    // it looks for.
    int64_t TicksOfFrame(int64_t n) const;
    // Frames of a movie whose pictures end `lengthSeconds` after the first
    // one (the list's end when listed).
    int64_t FrameCount(double lengthSeconds) const;
    // The index of the piece (between jumps) a stamp belongs to, given the one
    // the stamp before it belonged to (-1: none known). 0 when not listed.
    int PieceOf(int64_t stamp, int previous) const;
    // How many pieces hold the stamp (more than one where a piece repeats an earlier one's stamps).
    int PiecesHolding(int64_t stamp) const;
    int64_t Continuous(int64_t stamp, int piece) const;
    int64_t StampOf(int64_t continuous) const;  // the stamp of a continuous tick
    // The first frame that shows the picture at continuous tick `continuous`
    // (played pictures are numbered by it).
    int64_t FrameOfTicks(int64_t continuous) const;
};

// Follows a stream's stamps in the order they come (packets in file order,
// or pictures as decoded) and removes the clock's jumps by the rule above.
class TJumpFollower {
public:
    TJumpFollower(const TFrameClock& clock, bool clockMayJump);
    // The continuous tick of the next stamp.
    int64_t Follow(int64_t stamp);
    // Carries on from a stamp known to lie in piece `shift` (after a seek).
    void Resume(int64_t stamp, int64_t shift);
    int64_t Shift() const { return FShift; }
    bool Jumped() const { return FJumped; }

private:
    int64_t FFrameTicks, FBack, FForward;
    int64_t FShift = 0;
    int64_t FHighest = INT64_MIN;       // highest stamp of the current piece
    int64_t FHighestCont = INT64_MIN;   // highest continuous tick so far
    bool FJumped = false;
};

// The clock of a video stream (TFrameClock::For) with its pictures listed
// where the rule needs them; the file (`path`) is opened afresh, so the
// caller's reading is not disturbed. Without a list when it can not be read.
// The listing reads every packet of the file; `cancel` (optional) is looked
// at every few hundred of them, and once it is raised the clock comes back
// without a list: the caller, who raised it, tells that by its own flag.
TFrameClock ListedClock(const AVStream* stream, const std::string& path, int64_t originTicks,
                        const std::atomic<bool>* cancel = nullptr);

}  // namespace media
