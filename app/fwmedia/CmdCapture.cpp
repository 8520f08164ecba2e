// fwmedia capture SOURCE FOLDER START END COUNT --type gif|jpg|bmp|png
//                 [--jpeg-step N] [--png-step N]
// The capture batch without a window: the same loop, names and writers as the
// "Writing images" dialog, into FOLDER (created when missing).
#include "app/fwmedia/Commands.h"

#include "media/CaptureJob.h"
#include "media/MovieReader.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int UsageError(const char* why) {
    std::fprintf(stderr, "capture: %s\nusage: fwmedia capture SOURCE FOLDER START END COUNT "
                         "--type gif|jpg|bmp|png [--jpeg-step N] [--png-step N]\n", why);
    return 2;
}

// A whole decimal number within [lo, hi].
bool ParseNumber(const std::string& text, long long lo, long long hi, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    value = v;
    return true;
}

}  // namespace

int CmdCapture(const TArgs& args) {
    if (args.size() < 5) return UsageError("missing arguments");
    media::TCaptureSpec spec;
    long long start = 0, end = 0, count = 0;
    if (!ParseNumber(args[2], 0, UINT32_MAX, start)) return UsageError("START must be a frame number");
    if (!ParseNumber(args[3], 0, UINT32_MAX, end) || end <= start)
        return UsageError("END must be a frame number after START");
    if (!ParseNumber(args[4], 1, UINT32_MAX, count)) return UsageError("COUNT must be 1 or more");
    bool typeGiven = false;
    long long jpegStep = 9, pngStep = 9;
    for (std::size_t i = 5; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (i + 1 >= args.size()) return UsageError(("missing value after " + opt).c_str());
        const std::string& value = args[++i];
        if (opt == "--type") {
            const uint16_t types[] = {media::ptGif, media::ptJpg, media::ptBmp, media::ptPng};
            typeGiven = false;
            for (uint16_t t : types)
                if (value == media::PictureExtension(t)) {
                    spec.PictureType = t;
                    typeGiven = true;
                }
            if (!typeGiven) return UsageError("--type must be gif, jpg, bmp or png");
        } else if (opt == "--jpeg-step") {
            if (!ParseNumber(value, 0, 24, jpegStep)) return UsageError("--jpeg-step must be 0..24");
        } else if (opt == "--png-step") {
            if (!ParseNumber(value, 0, 9, pngStep)) return UsageError("--png-step must be 0..9");
        } else {
            return UsageError(("unknown option " + opt).c_str());
        }
    }
    if (!typeGiven) return UsageError("--type is required");

    // The movie's facts from a reader of our own; the job reads the frames with another.
    media::TMovieFacts facts;
    {
        media::TMovieReader reader;
        if (!reader.Open(args[0], false)) {
            std::fprintf(stderr, "%s\n", reader.LastError().c_str());
            return 1;
        }
        facts = reader.Facts();
    }
    if (facts.VideoStream < 0 || facts.FrameRate <= 0) {
        std::fprintf(stderr, "Can not find the video stream in %s\n", args[0].c_str());
        return 1;
    }
    spec.Source = args[0];
    spec.Folder = args[1];
    if (spec.Folder.empty() || spec.Folder.back() != '/') spec.Folder += '/';
    spec.JpegQuality = static_cast<int>(4 * jpegStep + 4);
    spec.PngStep = static_cast<int>(pngStep);
    spec.Width = facts.MediaType.Width;
    spec.Height = facts.MediaType.Height;
    spec.First = start;
    spec.End = end;
    spec.Samples = count;

    media::TJobEvents events;
    events.Notice = [](const media::TJobNotice& n) {
        if (n.Kind == media::TJobNotice::Message) std::fprintf(stderr, "%s\n", n.Text.c_str());
    };
    media::TJobEnd r;
    events.End = [&r](const media::TJobEnd& e) { r = e; };
    const auto job = media::TCaptureJob::Start(std::move(spec), std::move(events));
    job->Wait();
    const auto stats = job->ReaderStats();
    std::printf("Files=%lld\nSkippedNoFrame=%lld\nSkippedNotReplaced=%lld\nSeeks=%llu\nFramesDecoded=%llu\n",
                static_cast<long long>(r.FilesWritten), static_cast<long long>(r.NoFrame),
                static_cast<long long>(r.NotReplaced), static_cast<unsigned long long>(stats.Seeks),
                static_cast<unsigned long long>(stats.FramesDecoded));
    if (r.Outcome == media::TJobEnd::Failed) {
        std::fprintf(stderr, "%s\n", r.Error.c_str());
        return 1;
    }
    const std::string nothing = media::NothingTakenMessage(r);
    if (!nothing.empty()) std::fprintf(stderr, "%s\n", nothing.c_str());
    return r.NoFrame == 0 && r.NotReplaced == 0 ? 0 : 1;
}
