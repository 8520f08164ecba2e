#include "app/fwmedia/Commands.h"

#include <malloc.h>

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
     "         [--no-audio] [--width W --height H]"},
    {"compressors", CmdCompressors, "compressors"},
    {"capture", CmdCapture,
     "capture SOURCE FOLDER START END COUNT --type gif|jpg|bmp|png [--jpeg-step N] [--png-step N]"},
};

int Usage() {
    std::fprintf(stderr, "usage: fwmedia COMMAND ARGS\n");
    for (const auto& c : kCommands) std::fprintf(stderr, "  fwmedia %s\n", c.Usage);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    // A render takes and frees several pictures a frame. Freed pictures stay
    // in the heap for the next ones instead of going back to the system, which
    // would hand out fresh pages to clear and fault in for every frame.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
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
