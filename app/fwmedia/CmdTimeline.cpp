// fwmedia keyframes, strip and waveform: the timeline's pieces without a
// window, from the same engine code the window's timeline is built with.
#include "app/fwmedia/Commands.h"

#include "media/MovieReader.h"

#include <cstdio>
#include <string>

int CmdKeyFrames(const TArgs& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: fwmedia keyframes FILE\n");
        return 2;
    }
    media::TMovieReader reader;
    if (!reader.Open(args[0]) || reader.Facts().VideoStream < 0) {
        std::fprintf(stderr, "Can not find the video stream in %s\n", args[0].c_str());
        if (!reader.LastError().empty()) std::fprintf(stderr, "%s\n", reader.LastError().c_str());
        return 1;
    }
    const media::TMovieReader::TKeyFrames keys = reader.KeyFrames();
    if (!keys.Error.empty()) {
        std::fprintf(stderr, "%s\n", keys.Error.c_str());
        return 1;
    }
    for (const int64_t frame : keys.Frames) std::printf("%lld\n", static_cast<long long>(frame));
    return 0;
}
