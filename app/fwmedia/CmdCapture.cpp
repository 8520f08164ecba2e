// fwmedia capture SOURCE FOLDER START END COUNT --type gif|jpg|bmp|png
//                 [--jpeg-step N] [--png-step N]
// The capture batch without a window: the same loop, names and writers as the
// "Writing images" dialog, into FOLDER (created when missing).
#include "app/fwmedia/Commands.h"

#include "capture/CaptureBatch.h"
#include "media/MediaDetector.h"

#include <QString>
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
    TProgressInfo info;
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
            const uint16_t types[] = {ptGif, ptJpg, ptBmp, ptPng};
            typeGiven = false;
            for (uint16_t t : types)
                if (value == PictureExtension(t)) {
                    info.PictureType = t;
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

    media::TMediaDetector detector;
    if (!detector.put_Filename(args[0])) {
        std::fprintf(stderr, "%s\n", detector.LastError().c_str());
        return 1;
    }
    int video = -1;
    for (int s = 0; s < detector.get_OutputStreams() && video < 0; ++s)
        if (s == detector.get_VideoStream() && detector.put_CurrentStream(s)) video = s;
    if (video < 0 || detector.get_FrameRate() <= 0) {
        std::fprintf(stderr, "Can not find the video stream in %s\n", args[0].c_str());
        return 1;
    }
    const media::TMediaTypeInfo type = detector.get_StreamMediaType();
    info.Folder = QString::fromStdString(args[1]);
    if (!info.Folder.endsWith(QLatin1Char('/'))) info.Folder += QLatin1Char('/');
    info.JpegQuality = static_cast<uint16_t>(4 * jpegStep);
    info.PngQuality = static_cast<uint16_t>(pngStep);
    info.MediaDetector = &detector;
    info.FrameWidth = static_cast<uint16_t>(type.Width);
    info.FrameHeight = static_cast<uint16_t>(type.Height);
    info.RangeStart = static_cast<uint32_t>(start);
    info.RangeEnd = static_cast<uint32_t>(end);
    info.FrameRate = detector.get_FrameRate();
    info.SampleCount = static_cast<uint32_t>(count);

    TCaptureEvents events;
    events.ShowMessage = [](const QString& text) { std::fprintf(stderr, "%s\n", text.toUtf8().constData()); };
    const TCaptureResult r = CaptureFrames(info, events);
    const auto stats = detector.Stats();
    std::printf("Files=%u\nSkippedNoFrame=%u\nSkippedNotReplaced=%u\nSeeks=%llu\nFramesDecoded=%llu\n",
                r.FilesWritten, r.FetchFailures, r.NotReplaced, static_cast<unsigned long long>(stats.Seeks),
                static_cast<unsigned long long>(stats.FramesDecoded));
    if (r.End == TCaptureResult::Failed) {
        std::fprintf(stderr, "%s\n", r.Error.toUtf8().constData());
        return 1;
    }
    if (!r.NothingTakenMessage().isEmpty()) std::fprintf(stderr, "%s\n", r.NothingTakenMessage().toUtf8().constData());
    return r.FetchFailures == 0 && r.NotReplaced == 0 ? 0 : 1;
}
