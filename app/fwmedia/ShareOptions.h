// fwmedia render's choices for clips made to be shared: the GIF and WebP
// animations (--gif, --webp, --fps N, --no-loop, --dither, --palette,
// --quality). They are taken out of the arguments before the other options
// are read, and applied to the console host's settings.
#pragma once

#include "app/fwmedia/Commands.h"
#include "convert/OutputSettings.h"
#include "convert/RenderClip.h"

#include <optional>
#include <string>

struct TShareChoices {
    std::optional<TClipFormat> Format;  // Gif or WebP when asked for
    std::optional<int> Fps;
    bool NoLoop = false;
    std::optional<int> Dither;           // 0 none, 1 Bayer, 2 error diffusion
    std::optional<bool> PalettePerScene;
    std::optional<int> Quality;
    std::optional<int> AudioTrack;       // --audio-track N
};

// Removes the options above from args into choices; "" or the sentence
// saying what is wrong.
std::string TakeShareOptions(TArgs& args, TShareChoices& choices);

// Applies the choices to the animation's settings; width > 0 sets its width.
void ApplyShareChoices(const TShareChoices& choices, long width, TOutputSettings& settings);

// The usage lines of these options.
const char* ShareUsage();
