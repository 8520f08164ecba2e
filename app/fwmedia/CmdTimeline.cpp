// fwmedia keyframes, strip and waveform: the timeline's pieces without a
// window, from the same engine code the window's timeline is built with.
#include "app/fwmedia/Commands.h"

#include "media/ImageFiles.h"
#include "media/MovieReader.h"
#include "media/Timeline.h"
#include "media/Waveform.h"

#include <cstdio>
#include <exception>
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

namespace {

bool TakeWidth(TArgs& args, int& width) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--width") {
            try {
                width = std::stoi(args[i + 1]);
            } catch (const std::exception&) {
                return false;
            }
            args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i) + 2);
            return width > 0 && width <= 65536;
        }
    return true;
}

}  // namespace

int CmdStrip(const TArgs& given) {
    TArgs args = given;
    int width = 1280;
    if (!TakeWidth(args, width) || args.size() != 2) {
        std::fprintf(stderr, "usage: fwmedia strip FILE OUT.png [--width W]\n");
        return 2;
    }
    media::TMovieReader reader;
    if (!reader.Open(args[0]) || reader.Facts().VideoStream < 0) {
        std::fprintf(stderr, "Can not find the video stream in %s\n", args[0].c_str());
        return 1;
    }
    const media::TMovieFacts facts = reader.Facts();
    const media::TMovieReader::TKeyFrames keys = reader.KeyFrames();
    media::TTimelineData data;
    data.FrameCount = facts.FrameCount;
    data.KeyFrames = keys.Frames;
    data.ThumbHeight = media::kThumbHeight;
    data.ThumbWidth = media::ThumbWidth(facts.MediaType.Width, facts.MediaType.Height);
    // Only the key frames the strip's slots show are decoded.
    const std::vector<int64_t> frames = media::ThumbFrames(keys.Frames);
    for (int x0 = 0; x0 < width; x0 += data.ThumbWidth) {
        const int64_t key = media::ThumbFor(frames, int64_t(double(x0) * double(facts.FrameCount) / width));
        if (key < 0 || data.Thumbs.count(key)) continue;
        media::TRgbPicture picture;
        if (reader.KeyPictureAt(key, data.ThumbWidth, data.ThumbHeight, picture)) data.Thumbs.emplace(key, std::move(picture));
        else std::fprintf(stderr, "frame %lld: %s\n", static_cast<long long>(key), reader.LastError().c_str());
    }
    media::WritePngFile(args[1], media::ComposeStrip(data, width), 3);
    return 0;
}

int CmdWaveform(const TArgs& given) {
    TArgs args = given;
    int width = 1280;
    if (!TakeWidth(args, width) || args.size() != 2) {
        std::fprintf(stderr, "usage: fwmedia waveform FILE OUT.png [--width W]\n");
        return 2;
    }
    media::TWaveform wave;
    const media::TWaveformResult r = media::ReadWaveform(args[0], wave);
    if (!r.Error.empty()) {
        std::fprintf(stderr, "%s\n", r.Error.c_str());
        return 1;
    }
    if (!r.HasSound) {
        std::fprintf(stderr, "%s has no sound.\n", args[0].c_str());
        return 1;
    }
    // The movie's length where it has video (the strip's scale), else the sound's.
    media::TMovieReader reader;
    double length = double(wave.Peak.size()) * wave.BucketSeconds;
    if (reader.Open(args[0], false) && reader.Facts().VideoStream >= 0 && reader.Facts().Length > 0)
        length = reader.Facts().Length;
    media::WritePngFile(args[1], media::DrawWaveform(wave, length, width, 120), 3);
    return 0;
}
