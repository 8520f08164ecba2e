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

int CmdPlay(const TArgs& args) {
    if (args.size() < 3) return 2;
    char* endp = nullptr;
    const long long start = std::strtoll(args[1].c_str(), &endp, 10);
    if (*endp || start < 0) return 2;
    const long long end = std::strtoll(args[2].c_str(), &endp, 10);
    if (*endp || end <= start) return 2;
    int speed = 1;
    bool sound = true;
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--speed" && i + 1 < args.size()) {
            speed = std::atoi(args[++i].c_str());
            if (speed != 1 && speed != 2 && speed != 4 && speed != -1 && speed != -2 && speed != -4) return 2;
        } else if (args[i] == "--no-sound") {
            sound = false;
        } else {
            return 2;
        }
    }
    const auto t0 = std::chrono::steady_clock::now();
    media::TPlayerEvents events;
    events.Frame = [&](const media::TPlayedFrame& f) {
        const double wall = std::chrono::duration<double>(f.ShownAt - t0).count();
        std::printf("frame %lld time %.6f clock %.6f %s wall %.6f%s\n", static_cast<long long>(f.Frame), f.Seconds,
                    f.Clock, f.SoundClock ? "sound" : "wall", wall, f.Exact ? " exact" : "");
    };
    media::TPlayerOptions options;
    options.Sound = sound;
    media::TPlayer player(args[0], events, options);
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
