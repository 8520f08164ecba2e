// The job model: every piece of output work (a clip file in any format, a
// batch of images, a single snapshot) is a job. A job is started with what it
// reads (the source and a span of frames: the first frame and the end frame,
// exclusive, as on the track bar) and what it writes, runs on threads of its
// own at a lower priority than the caller's, and tells how it goes through
// events:
//
//   Plan      once, before anything is written: what the job will do
//   Progress  frames (or images) done of the total, with a smoothed time left
//   Picture   the source frame being written, for a preview that follows it
//   Notice    now and then, for jobs that write files one by one: the name of
//             the file being written, or a message that does not end the job
//   End       once, last: done, stopped (what was written is kept and usable),
//             or failed with a sentence for the user
//
// Events are called on the job's thread, one at a time and in order; a
// receiver with a window passes them on to its own thread (queued signals).
// Cancel returns at once; the job then finishes what it has written and ends
// with Stopped soon after. Destroying a job cancels it and waits for its end.
// No Qt type here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace media {

struct TJobProgress {
    int64_t Done = 0;         // frames (images) written
    int64_t Total = 0;        // of the job; lowered when the movie ends before the span does
    double SecondsLeft = -1;  // smoothed estimate; < 0 until one can be given
};

struct TJobEnd {
    enum TOutcome { Done, Stopped, Failed };
    TOutcome Outcome = Done;
    std::string Error;        // Failed: a sentence for the user
    // Stopped before its output was created: there is no file (or image) to show.
    bool NothingWritten = false;
    // Jobs that write files one by one (images): what came of their samples,
    // whatever the outcome.
    int64_t FilesWritten = 0;
    int64_t NoFrame = 0;      // samples skipped because no frame came from the movie
    std::string NoFrameWhy;   // why the first of them came to nothing
    int64_t NotReplaced = 0;  // samples skipped because an old entry of their name could not be replaced
};

struct TJobNotice {
    enum TKind { Writing, Message };
    TKind Kind = Message;
    std::string Text;         // Writing: the file's name (without folder); Message: a sentence for the user
};

// What a job will do, told before it writes. Fields a kind of job does not
// have stay at their defaults.
struct TJobPlan {
    int64_t Frames = 0;       // frames (images) to write
    // A same-as-source copy.
    bool Copy = false;
    bool CanCopy = false;     // false: the clip is re-encoded to MP4 instead, because of Why
    std::string Why;
    std::string FallbackColour;  // !CanCopy: what the MP4 made instead does to colours ("" when nothing)
    int64_t HeadFrames = 0, CopiedFrames = 0, TailFrames = 0;  // CanCopy: re-encoded, copied, re-encoded
    bool AudioCopied = false;
    std::string SampleEntryNote;  // CanCopy: the file's form is not the plain one ("" when it is)
};

struct TJobEvents {
    std::function<void(const TJobPlan&)> Plan;
    std::function<void(const TJobProgress&)> Progress;
    std::function<void(int64_t frame)> Picture;
    std::function<void(const TJobEnd&)> End;
    std::function<void(const TJobNotice&)> Notice;  // last: braced lists of the four above stay valid
};

// The time-left estimate: the rate over the whole run so far, eased towards
// the latest rate so a change of pace (the copied middle of a copy after its
// re-encoded head) shows without making the estimate jump.
class TTimeLeft {
public:
    // Seconds left after `done` of `total` at `elapsed` seconds from the start;
    // < 0 while nothing is done.
    double Update(int64_t done, int64_t total, double elapsed);

private:
    double FRate = 0;  // frames per second, eased
    int64_t FLastDone = 0;
    double FLastElapsed = 0;
};

class TJob {
public:
    virtual ~TJob();
    TJob(const TJob&) = delete;
    TJob& operator=(const TJob&) = delete;

    // Asks the job to stop; returns at once.
    void Cancel();
    bool Cancelled() const { return FCancel; }
    // Blocks until End has been delivered (command line tools and tests; a
    // window listens for End instead).
    void Wait();
    // Whether End has been delivered.
    bool Ended() const;

protected:
    explicit TJob(TJobEvents events);
    // Starts Body on the job's thread. Called once by the maker of the job,
    // after everything Body uses is in place.
    void Start();
    // The work. Returns how it ended; an exception ends it as Failed with its
    // text. Cancel() sets the flag Body watches (and calls OnCancel).
    virtual TJobEnd Body() = 0;
    // Called on the cancelling thread: wake what Body waits on.
    virtual void OnCancel() {}

    // Event helpers for Body.
    void Planned(const TJobPlan& plan);
    void Progressed(int64_t done, int64_t total);
    void Showing(int64_t frame);
    void Noticed(TJobNotice::TKind kind, const std::string& text);

    const std::atomic<bool>& CancelFlag() const { return FCancel; }

private:
    void Run();

    TJobEvents FEvents;
    std::atomic<bool> FCancel{false};
    mutable std::mutex FMutex;
    std::condition_variable FEnded;
    bool FEnd = false;
    std::chrono::steady_clock::time_point FStarted;
    TTimeLeft FTimeLeft;
    std::thread FThread;
};

// Lowers the calling thread's scheduling priority below the window's, so the
// window keeps its share of the processor while jobs and previews work.
// Threads the caller starts afterwards (encoders' own) inherit it.
void LowerThreadPriority();

}  // namespace media
