// The player: plays a movie's pictures and sound from any frame, forward at
// 1x, 2x and 4x and backward (video only), a range once or in a loop, and
// stops on the exact frame of the position. No Qt and no FFmpeg type here.
//
// Threads: a player thread decodes the pictures (the one decode path,
// media/FrameDecoder, on the movie's frame clock) and shows each at its own
// time; while playing forward at 1x a sound thread decodes the sound into the
// sound device (media/SoundOut), whose clock is the master. A picture that
// comes after the next one is due is dropped, never waited for; on a
// variable-rate movie each picture stays for its own duration. At 2x and 4x
// and backward the sound is muted and the wall clock is the master. Backward
// play decodes one group of pictures (from a key frame) at a time and shows
// it in reverse.
//
// Frame numbers cross this interface; the picture shown for frame n is the
// one the frame clock puts on screen at n (the scrub preview's and the
// output's rule). Paused, the position is the frame on screen at the clock's
// time, and that exact frame is shown (TPlayedFrame::Exact).
//
// Commands return at once and may come from any thread; the newest wins.
// Events are called on the player's thread, in order; a window passes them to
// its own thread. Destroying the player stops it and joins its threads.
#pragma once

#include "media/MovieReader.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace media {

struct TPlayedFrame {
    int64_t Frame = -1;        // by the frame clock's rule
    double Seconds = 0;        // the frame's time, from the first picture
    double Clock = 0;          // the master clock (movie seconds) when it was shown
    bool SoundClock = false;   // the master clock was the sound device's
    std::chrono::steady_clock::time_point ShownAt;
    bool Exact = false;        // paused: the exact frame of the position
    // The picture at the size asked for (SetPictureSize); null when none was asked for.
    std::shared_ptr<const TRgbPicture> Picture;
};

struct TPlayerState {
    bool Open = false;
    std::string Error;         // the movie could not be opened (a sentence)
    bool Playing = false;
    int Speed = 1;             // 1, 2, 4, or -1, -2, -4 backward
    int64_t Position = 0;      // the frame on screen
    int64_t FrameCount = 0;
    bool Sound = false;        // sound goes to a device
    std::string SoundNote;     // why the movie plays silently ("" when it has sound)
    uint64_t Shown = 0, Dropped = 0;  // pictures since the last Play
};

struct TPlayerEvents {
    std::function<void(const TPlayedFrame&)> Frame;
    std::function<void(const TPlayerState&)> State;
};

struct TPlayerOptions {
    bool Sound = true;         // false: never open a sound device
};

class TPlayer {
public:
    // Opens `path` on the player's thread; State tells when it is open (or why not).
    TPlayer(std::string path, TPlayerEvents events, TPlayerOptions options = {});
    ~TPlayer();
    TPlayer(const TPlayer&) = delete;
    TPlayer& operator=(const TPlayer&) = delete;

    // Pictures are delivered at this size (0 x 0: frame numbers only).
    void SetPictureSize(int width, int height);
    // Plays from the position at `speed` (1, 2, 4 forward; -1, -2, -4 backward).
    void Play(int speed = 1);
    void Pause();
    // Moves to frame `frame`; playing goes on from there, paused shows it exactly.
    void Seek(int64_t frame);
    // Plays frames first .. end - 1 from `first` and stops on end - 1, or
    // starts again at `first` when `loop` is set.
    void PlayRange(int64_t first, int64_t end, bool loop);
    void SetLoop(bool loop);
    void SetVolume(double volume);   // 0 .. 1
    void SetMuted(bool muted);

    TPlayerState State() const;
    // For the command line and tests: waits until the movie is open or failed.
    bool WaitOpen(std::chrono::milliseconds timeout);
    // For the command line and tests: waits until playing has stopped (range end, movie end, Pause).
    bool WaitStopped(std::chrono::milliseconds timeout);

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

}  // namespace media
