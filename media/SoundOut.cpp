#include "media/SoundOut.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace media {

namespace {
// One callback's worth: about 85 ms at 48 kHz. Shorter ones leave gaps in
// the sound on a busy machine (the device's thread comes too late).
constexpr int kDeviceFrames = 4096;
// From the earliest callback to the loudspeaker, as a share of one callback's
// worth: SDL asks PulseAudio for a stream of one callback's length, of which
// the server keeps this much queued (measured on PulseAudio 16 against the
// recording of a null sink, tests/playback). SDL2 does not tell the
// stream's latency itself.
constexpr double kLatencyShare = 0.72;
constexpr double kBufferSeconds = 0.5;       // what the writer may run ahead of the device
constexpr std::size_t kMaxChunks = 256;      // time marks kept for the clock
using TClockType = std::chrono::steady_clock;
}  // namespace

struct TSoundOut::TImpl {
    SDL_AudioDeviceID Device = 0;
    bool SubsystemUp = false;
    std::string Reason;
    int Rate = 0, Channels = 0;
    std::chrono::microseconds Latency{0};

    mutable std::mutex Lock;
    std::vector<int16_t> Ring;     // Capacity frames
    std::size_t Capacity = 0;
    uint64_t ReadIndex = 0, WriteIndex = 0;  // frames ever taken / written since Clear
    struct TMark {
        uint64_t Index = 0;
        double Seconds = 0;
    };
    std::deque<TMark> Marks;       // movie time of the first frame of each written piece
    bool ClockValid = false;
    double Base = 0;               // wall seconds at which index 0 was taken by the device
    bool Starved = false;          // the last callback ran out of sound
    bool Paused = true;
    double FrozenSeconds = 0;      // the clock when paused
    bool Frozen = false;

    std::atomic<uint64_t> Callbacks{0};
    std::atomic<float> Volume{1.0f};
    std::atomic<bool> Muted{false};

    static void Callback(void* user, Uint8* stream, int len) { static_cast<TImpl*>(user)->Fill(stream, len); }

    void Fill(Uint8* stream, int len) {
        int16_t* out = reinterpret_cast<int16_t*>(stream);
        ++Callbacks;
        const std::size_t frames = std::size_t(len) / (sizeof(int16_t) * std::size_t(Channels));
        std::size_t copied = 0;
        {
            std::lock_guard<std::mutex> g(Lock);
            const std::size_t avail = Paused ? 0 : std::size_t(WriteIndex - ReadIndex);
            copied = std::min(frames, avail);
            for (std::size_t i = 0; i < copied; ++i) {
                const std::size_t at = std::size_t((ReadIndex + i) % Capacity) * std::size_t(Channels);
                std::memcpy(out + i * std::size_t(Channels), Ring.data() + at, sizeof(int16_t) * std::size_t(Channels));
            }
            if (copied > 0) {
                // The device's clock runs with the wall's; a callback that
                // came late tells a later time for its sound than it has, so
                // the earliest relation of sound to wall is kept (until the
                // device runs out of sound, which moves it).
                const double base = std::chrono::duration<double>(TClockType::now().time_since_epoch()).count() -
                                    double(ReadIndex) / Rate;
                if (!ClockValid || base < Base || Starved) Base = base;
                Starved = copied < frames;
                ClockValid = true;
            }
            ReadIndex += copied;
        }
        std::memset(out + copied * std::size_t(Channels), 0, (frames - copied) * sizeof(int16_t) * std::size_t(Channels));
        const float gain = Muted.load() ? 0.0f : Volume.load();
        if (gain < 0.999f)
            for (std::size_t i = 0; i < copied * std::size_t(Channels); ++i)
                out[i] = int16_t(std::lrint(float(out[i]) * gain));
    }

    double SecondsOfIndex(double index) const {
        // The last mark at or before the index (the first one for earlier indexes).
        const TMark* m = &Marks.front();
        for (const TMark& k : Marks) {
            if (double(k.Index) > index) break;
            m = &k;
        }
        return m->Seconds + (index - double(m->Index)) / Rate;
    }

    void Close() {
        if (Device) SDL_CloseAudioDevice(Device);
        Device = 0;
        if (SubsystemUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        SubsystemUp = false;
    }
};

TSoundOut::TSoundOut() : Impl(std::make_unique<TImpl>()) {}

void TSoundOut::ThreadEnds() { SDL_TLSCleanup(); }
TSoundOut::~TSoundOut() { Impl->Close(); }

bool TSoundOut::Open(int rate, int channels) {
    TImpl& d = *Impl;
    d.Close();
    d.Reason.clear();
    if (rate <= 0 || channels < 1 || channels > 2) {
        d.Reason = "The movie's sound can not be played (" + std::to_string(channels) + " channels at " +
                   std::to_string(rate) + " Hz).";
        return false;
    }
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The device's thread gets real-time scheduling where the system allows
    // it: on a busy machine a late callback is a gap in the sound.
    SDL_SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Framewhisk");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Movie sound");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        d.Reason = std::string("No sound device: ") + SDL_GetError();
        return false;
    }
    d.SubsystemUp = true;
    SDL_AudioSpec want{}, got{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(channels);
    want.samples = kDeviceFrames;
    want.callback = &TImpl::Callback;
    want.userdata = &d;
    d.Rate = rate;
    d.Channels = channels;
    d.Device = SDL_OpenAudioDevice(nullptr, 0, &want, &got, 0);
    if (d.Device == 0) {
        d.Reason = std::string("No sound device: ") + SDL_GetError();
        d.Close();
        return false;
    }
    d.Capacity = std::size_t(rate * kBufferSeconds);
    d.Ring.assign(d.Capacity * std::size_t(channels), 0);
    // The sound server holds about one callback's worth besides the one being filled.
    d.Latency = std::chrono::microseconds(int64_t(kLatencyShare * 1e6 * got.samples / rate));
    Clear();
    // The device runs from here on, playing silence while nothing is written
    // or paused: a sound server takes a moment to start a stream, which would
    // otherwise delay every start of play.
    SDL_PauseAudioDevice(d.Device, 0);
    return true;
}

bool TSoundOut::WaitRunning(std::chrono::milliseconds timeout) {
    // The device counts as running once callbacks come one after another:
    // a fresh stream may wait for the server for a second before the first.
    const auto until = TClockType::now() + timeout;
    uint64_t seen = Impl->Callbacks;
    int steady = 0;
    while (TClockType::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        const uint64_t now = Impl->Callbacks;
        steady = now > seen ? steady + 1 : 0;
        seen = now;
        if (steady >= 4) return true;
    }
    return false;
}

bool TSoundOut::IsOpen() const { return Impl->Device != 0; }
const std::string& TSoundOut::Reason() const { return Impl->Reason; }
int TSoundOut::Rate() const { return Impl->Rate; }
int TSoundOut::Channels() const { return Impl->Channels; }
std::chrono::microseconds TSoundOut::Latency() const { return Impl->Latency; }

std::size_t TSoundOut::Write(const int16_t* pcm, std::size_t frames, double movieSeconds) {
    TImpl& d = *Impl;
    if (!d.Device) return 0;
    std::lock_guard<std::mutex> g(d.Lock);
    const std::size_t space = d.Capacity - std::size_t(d.WriteIndex - d.ReadIndex);
    const std::size_t n = std::min(space, frames);
    if (n == 0) return 0;
    const double expected = d.Marks.empty() ? -1e300 : d.SecondsOfIndex(double(d.WriteIndex));
    if (d.Marks.empty() || std::abs(expected - movieSeconds) > 0.5 / d.Rate) {
        d.Marks.push_back({d.WriteIndex, movieSeconds});
        while (d.Marks.size() > kMaxChunks) d.Marks.pop_front();
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = std::size_t((d.WriteIndex + i) % d.Capacity) * std::size_t(d.Channels);
        std::memcpy(d.Ring.data() + at, pcm + i * std::size_t(d.Channels), sizeof(int16_t) * std::size_t(d.Channels));
    }
    d.WriteIndex += n;
    return n;
}

std::size_t TSoundOut::Space() const {
    std::lock_guard<std::mutex> g(Impl->Lock);
    return Impl->Capacity - std::size_t(Impl->WriteIndex - Impl->ReadIndex);
}

std::size_t TSoundOut::Queued() const {
    std::lock_guard<std::mutex> g(Impl->Lock);
    return std::size_t(Impl->WriteIndex - Impl->ReadIndex);
}

void TSoundOut::Clear() {
    TImpl& d = *Impl;
    std::lock_guard<std::mutex> g(d.Lock);
    d.ReadIndex = d.WriteIndex = 0;
    d.Marks.clear();
    d.ClockValid = false;
    d.Frozen = false;
}

void TSoundOut::Pause(bool paused) {
    TImpl& d = *Impl;
    if (!d.Device) return;
    if (paused) {
        double now = 0;
        const bool valid = Clock(&now);
        std::lock_guard<std::mutex> g(d.Lock);
        d.Frozen = valid;
        d.FrozenSeconds = now;
    }
    std::lock_guard<std::mutex> g(d.Lock);
    d.Paused = paused;
    if (!paused) {
        d.Frozen = false;
        d.ClockValid = false;  // runs again from the next callback
    }
}

bool TSoundOut::Clock(double* movieSeconds) const {
    const TImpl& d = *Impl;
    std::lock_guard<std::mutex> g(d.Lock);
    if (d.Frozen) {
        *movieSeconds = d.FrozenSeconds;
        return true;
    }
    if (!d.ClockValid || d.Marks.empty()) return false;
    const double now = std::chrono::duration<double>(TClockType::now().time_since_epoch()).count();
    const double latency = std::chrono::duration<double>(d.Latency).count();
    const double heard = (now - d.Base - latency) * d.Rate;
    *movieSeconds = d.SecondsOfIndex(heard);
    return true;
}

bool TSoundOut::HandedOver(double* movieSeconds) const {
    const TImpl& d = *Impl;
    std::lock_guard<std::mutex> g(d.Lock);
    if (d.Marks.empty() || d.ReadIndex == 0) return false;
    *movieSeconds = d.SecondsOfIndex(double(d.ReadIndex));
    return true;
}

void TSoundOut::SetVolume(double volume) { Impl->Volume = float(std::clamp(volume, 0.0, 1.0)); }
void TSoundOut::SetMuted(bool muted) { Impl->Muted = muted; }

}  // namespace media
