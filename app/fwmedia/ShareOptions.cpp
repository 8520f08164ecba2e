#include "app/fwmedia/ShareOptions.h"

#include <cstdlib>

namespace {

bool WholeNumber(const std::string& text, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == 0;
}

}  // namespace

std::string TakeShareOptions(TArgs& args, TShareChoices& c) {
    TArgs rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // The first four arguments are SOURCE OUTPUT START END.
        if (i < 4) {
            rest.push_back(a);
            continue;
        }
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        long n = 0;
        if (a == "--gif" || a == "--webp") {
            if (c.Format) return "Choose one of --gif and --webp.";
            c.Format = a == "--gif" ? TClipFormat::Gif : TClipFormat::WebP;
        } else if (a == "--fps") {
            if (!value(v) || !WholeNumber(v, n) || n < 5 || n > 30)
                return "--fps takes a whole number of frames per second from 5 to 30, not \"" + v + "\".";
            c.Fps = int(n);
        } else if (a == "--no-loop") {
            c.NoLoop = true;
        } else if (a == "--dither") {
            if (!value(v) || (v != "none" && v != "bayer" && v != "diffusion"))
                return "--dither takes none, bayer or diffusion, not \"" + v + "\".";
            c.Dither = v == "none" ? 0 : v == "bayer" ? 1 : 2;
        } else if (a == "--palette") {
            if (!value(v) || (v != "clip" && v != "scene")) return "--palette takes clip or scene, not \"" + v + "\".";
            c.PalettePerScene = v == "scene";
        } else if (a == "--quality") {
            if (!value(v) || !WholeNumber(v, n) || n < 0 || n > 100)
                return "--quality takes a whole number from 0 to 100, not \"" + v + "\".";
            c.Quality = int(n);
        } else if (a == "--audio-track") {
            if (!value(v) || !WholeNumber(v, n) || n < 0 || n > 1000)
                return "--audio-track takes the number of one of the movie's audio tracks, counted from 0, not \"" + v + "\".";
            c.AudioTrack = int(n);
        } else {
            rest.push_back(a);
        }
    }
    const bool animChoice = c.Fps || c.NoLoop || c.Dither || c.PalettePerScene || c.Quality;
    if (animChoice && !c.Format) return "--fps, --no-loop, --dither, --palette and --quality go with --gif or --webp.";
    if (c.Format == TClipFormat::WebP && (c.Dither || c.PalettePerScene))
        return "--dither and --palette go with --gif: a WebP animation has no palette.";
    if (c.Format == TClipFormat::Gif && c.Quality) return "--quality goes with --webp.";
    args = std::move(rest);
    return "";
}

void ApplyShareChoices(const TShareChoices& c, long width, TOutputSettings& settings) {
    if (c.AudioTrack) settings.AudioTrack = *c.AudioTrack;
    if (!c.Format) return;
    TAnimSettings& a = *c.Format == TClipFormat::Gif ? settings.Gif : settings.WebP;
    if (c.Fps) a.Fps = *c.Fps;
    a.Loop = !c.NoLoop;
    if (c.Dither) a.Dither = *c.Dither;
    if (c.PalettePerScene) a.PalettePerScene = *c.PalettePerScene;
    if (c.Quality) a.Quality = *c.Quality;
    if (width > 0) a.Width = int32_t(width);
}

const char* ShareUsage() {
    return "       fwmedia render SOURCE OUTPUT START END --gif|--webp [--fps N] [--width W] [--no-loop]\n"
           "         [--dither none|bayer|diffusion] [--palette clip|scene] (GIF) [--quality Q] (WebP)\n"
           "         (animations without sound: 5..30 frames per second, default 15; W pixels wide, default 480,\n"
           "         the height by the picture's shape; the GIF's palette made from the clip's own frames)\n"
           "       --audio-track N: the sound from the movie's audio track N (from 0) instead of the first\n";
}
