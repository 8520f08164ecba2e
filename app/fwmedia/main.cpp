#include "app/fwmedia/Commands.h"
#include "platform/ProcessHeap.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace {
struct TCommand {
    const char* Name;
    int (*Run)(const TArgs&);
    const char* Usage;
};
const TCommand kCommands[] = {
    {"probe", CmdProbe, "probe FILE"},
    {"grab", CmdGrab, "grab FILE POSITION [WIDTH HEIGHT] OUT.bmp"},
    {"render", CmdRender,
     "render SOURCE OUTPUT START END [--profile GUID] [--width W --height H] [--audio-format N] [--no-audio]\n"
     "         [--avi [--video-compressor NAME] [--audio-compressor NAME]]\n"
     "  fwmedia render SOURCE OUTPUT START END --mp4|--webm [--crf N] [--preset P] [--audio-bitrate KBPS]\n"
     "         [--no-audio] [--width W --height H]\n"
     "  fwmedia render SOURCE OUTPUT START END --copy"},
    {"compressors", CmdCompressors, "compressors"},
    {"capture", CmdCapture,
     "capture SOURCE FOLDER START END COUNT --type gif|jpg|bmp|png [--jpeg-step N] [--png-step N]"},
    {"keyframes", CmdKeyFrames, "keyframes FILE"},
    {"play", CmdPlay, "play FILE START END [--speed 1|2|4|-1|-2|-4] [--no-sound]"},
};

int Usage() {
    std::fprintf(stderr, "usage: fwmedia COMMAND ARGS\n");
    for (const auto& c : kCommands) std::fprintf(stderr, "  fwmedia %s\n", c.Usage);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    KeepFreedPicturesInHeap();
    if (argc < 2) return Usage();
    for (const auto& c : kCommands) {
        if (std::strcmp(argv[1], c.Name) != 0) continue;
        TArgs args(argv + 2, argv + argc);
        try {
            return c.Run(args);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    return Usage();
}
