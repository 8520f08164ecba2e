// The sound device: plays 16-bit interleaved PCM through SDL2, which speaks
// to the desktop's sound server (PulseAudio, or PipeWire's PulseAudio
// service). No Qt, no FFmpeg type here.
//
// The player writes PCM with the movie time of its first sample; the
// device's callback takes it from a bounded buffer, and the time of the
// sample being heard now (Clock) is the playback's master clock. What the
// device has not been given yet can be dropped at once (Clear: a seek, a
// pause).
//
// Thread use: one writer thread (Write, Space, Clear); Clock, volume and
// pause from any thread. The device's own thread only runs the callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace media {

class TSoundOut {
public:
    TSoundOut();
    ~TSoundOut();
    TSoundOut(const TSoundOut&) = delete;
    TSoundOut& operator=(const TSoundOut&) = delete;

    // Opens the default output device for `rate` Hz and `channels` channels
    // (1 or 2), paused. False, with Reason() saying why in one sentence, when
    // there is no sound device (no sound server, no driver).
    bool Open(int rate, int channels);
    bool IsOpen() const;
    // Waits until the device takes sound steadily (a fresh stream may wait
    // for the server a while); false when it did not within `timeout`.
    bool WaitRunning(std::chrono::milliseconds timeout);
    const std::string& Reason() const;
    int Rate() const;
    int Channels() const;

    // Copies up to `frames` frames (one sample per channel each); the first
    // is movie time `movieSeconds`. Returns how many were taken (fewer when
    // the buffer is full).
    std::size_t Write(const int16_t* pcm, std::size_t frames, double movieSeconds);
    // Frames the buffer can still take, and frames waiting in it.
    std::size_t Space() const;
    std::size_t Queued() const;
    // Drops everything not yet given to the device; the clock stops until
    // the next written sample is heard.
    void Clear();
    // Paused, the device plays silence and the clock stands still.
    void Pause(bool paused);

    // SDL keeps state of its own (its error text) for each thread that opened
    // a device, and frees it only when asked: a thread that opened one calls
    // this before it ends.
    static void ThreadEnds();

    // The movie time of the sound heard now: the device's read position less
    // its latency, carried on with the wall clock between two callbacks.
    // False until a written sample has reached the device since the last Clear.
    bool Clock(double* movieSeconds) const;
    // The movie time of the first sample not yet given to the device (where
    // sound that was paused goes on without a gap or a repeat). False when
    // nothing was given since the last Clear.
    bool HandedOver(double* movieSeconds) const;
    // The estimated time from the callback to the loudspeaker.
    std::chrono::microseconds Latency() const;

    void SetVolume(double volume);  // 0 .. 1
    void SetMuted(bool muted);

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

}  // namespace media
