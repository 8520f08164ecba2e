// fwmedia play: plays frames START .. END - 1 to the sound server, headless,
// and prints each shown frame's time against the master clock (the sound
// device's when the movie has sound and a device is there), so that the
// sync can be measured without a window.
#include "app/fwmedia/Commands.h"
#include "media/Player.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

int CmdPlay(const TArgs& args) {
    // play FILE START END [--speed N] [--no-sound] [--size W H] [--pause-after MS]
    if (args.size() < 3) return 2;
    char* endp = nullptr;
    const long long start = std::strtoll(args[1].c_str(), &endp, 10);
    if (*endp || start < 0) return 2;
    const long long end = std::strtoll(args[2].c_str(), &endp, 10);
    if (*endp || end <= start) return 2;
    int speed = 1;
    bool sound = true;
    int width = 0, height = 0;
    long pauseAfterMs = -1;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--speed" && i + 1 < args.size()) {
            speed = std::atoi(args[++i].c_str());
            if (speed != 1 && speed != 2 && speed != 4 && speed != -1 && speed != -2 && speed != -4) return 2;
        } else if (args[i] == "--no-sound") {
            sound = false;
        } else if (args[i] == "--size" && i + 2 < args.size()) {
            width = std::atoi(args[i + 1].c_str());
            height = std::atoi(args[i + 2].c_str());
            i += 2;
            if (width <= 0 || height <= 0) return 2;
        } else if (args[i] == "--pause-after" && i + 1 < args.size()) {
            pauseAfterMs = std::atol(args[++i].c_str());
            if (pauseAfterMs < 0) return 2;
        } else {
            return 2;
        }
    }
    media::TPlayerEvents events;
    const auto t0 = std::chrono::steady_clock::now();
    // For the benchmark: when the first sound was heard after the play
    // command, and how long a pause took to show the exact frame.
    std::mutex lock;
    std::chrono::steady_clock::time_point playAt{}, pausedAt{};
    double playStartSeconds = 0;
    bool soundHeard = false, pauseMeasured = false, startKnown = false;
    events.Frame = [&](const media::TPlayedFrame& f) {
        const double wall = std::chrono::duration<double>(f.ShownAt - t0).count();
        {
            std::lock_guard<std::mutex> g(lock);
            if (!f.Exact && !startKnown && playAt != std::chrono::steady_clock::time_point{}) {
                startKnown = true;
                playStartSeconds = f.Seconds;
            }
            if (f.SoundClock && !soundHeard && playAt != std::chrono::steady_clock::time_point{}) {
                soundHeard = true;
                // The sound of the start was heard (f.Clock - start) before this frame was shown.
                const double ms = 1000 * (std::chrono::duration<double>(f.ShownAt - playAt).count() -
                                          (f.Clock - playStartSeconds));
                std::printf("first sound %.1f ms after play\n", ms);
            }
            if (f.Exact && pausedAt != std::chrono::steady_clock::time_point{} && !pauseMeasured) {
                pauseMeasured = true;
                std::printf("pause to exact frame %.1f ms\n",
                            1000 * std::chrono::duration<double>(f.ShownAt - pausedAt).count());
            }
        }
        std::printf("frame %lld time %.6f clock %.6f %s wall %.6f%s\n", static_cast<long long>(f.Frame), f.Seconds,
                    f.Clock, f.SoundClock ? "sound" : "wall", wall, f.Exact ? " exact" : "");
    };
    media::TPlayerOptions options;
    options.Sound = sound;
    media::TPlayer player(args[0], events, options);
    player.SetPictureSize(width, height);
    if (!player.WaitOpen(std::chrono::minutes(10))) {
        std::fprintf(stderr, "%s\n", player.State().Error.c_str());
        return 1;
    }
    const media::TPlayerState opened = player.State();
    if (!opened.SoundNote.empty()) std::fprintf(stderr, "%s\n", opened.SoundNote.c_str());
    if (start >= opened.FrameCount) {
        std::fprintf(stderr, "The movie has %lld frames.\n", static_cast<long long>(opened.FrameCount));
        return 1;
    }
    player.WaitStopped(std::chrono::minutes(1));
    {
        std::lock_guard<std::mutex> g(lock);
        playAt = std::chrono::steady_clock::now();
    }
    if (speed > 0) {
        if (speed == 1) {
            player.PlayRange(start, end, false);
        } else {
            player.Seek(start);
            player.Play(speed);
        }
    } else {
        player.Seek(end - 1);
        player.Play(speed);
    }
    if (pauseAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseAfterMs));
        {
            std::lock_guard<std::mutex> g(lock);
            pausedAt = std::chrono::steady_clock::now();
        }
        player.Pause();
        player.WaitStopped(std::chrono::minutes(1));
        // Resumed from the paused frame, to the same end.
        if (speed == 1) player.PlayRange(player.State().Position, end, false);
        else player.Play(speed);
    }
    player.WaitStopped(std::chrono::hours(24));
    const media::TPlayerState st = player.State();
    std::printf("shown %llu dropped %llu position %lld\n", static_cast<unsigned long long>(st.Shown),
                static_cast<unsigned long long>(st.Dropped), static_cast<long long>(st.Position));
    if (!st.Error.empty()) {
        std::fprintf(stderr, "%s\n", st.Error.c_str());
        return 1;
    }
    std::fflush(stdout);
    return 0;
}
