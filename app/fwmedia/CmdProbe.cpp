// fwmedia probe and grab: the open-movie record and single frames, straight
// from the movie reader.
#include "app/fwmedia/Commands.h"

#include "media/ImageFiles.h"
#include "media/MovieReader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The open-movie record, filled the way the main window fills it.
struct TProbe {
    int VideoStream = -1;
    double StreamLength = 0;
    int64_t FrameCount = 0;
    double FrameRate = 0;
    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
};

bool ProbeMovie(media::TMovieReader& reader, const std::string& path, TProbe& rec) {
    reader.Open(path);  // a file it cannot read simply shows no video stream
    const media::TMovieFacts facts = reader.Facts();
    if (facts.VideoStream < 0) return false;
    rec.VideoStream = facts.VideoStream;
    // The stream's own length, as the window shows it.
    rec.StreamLength = reader.StreamLength(facts.VideoStream);
    rec.FrameRate = facts.FrameRate;
    rec.FrameCount = facts.FrameCount;
    rec.FrameWidth = facts.MediaType.Width;
    rec.FrameHeight = facts.MediaType.Height;
    return true;
}

std::string Number(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out) {
    long long v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

int NoVideo(const media::TMovieReader& reader, const std::string& path) {
    std::printf("Can not find the video stream in %s\n", path.c_str());
    if (!reader.LastError().empty()) std::fprintf(stderr, "%s\n", reader.LastError().c_str());
    return 1;
}

}  // namespace

int CmdProbe(const TArgs& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: fwmedia probe FILE\n");
        return 2;
    }
    media::TMovieReader reader;
    TProbe rec;
    if (!ProbeMovie(reader, args[0], rec)) return NoVideo(reader, args[0]);
    std::printf("VideoStream=%d\n", rec.VideoStream);
    std::printf("StreamLength=%s\n", Number(rec.StreamLength).c_str());
    std::printf("FrameRate=%s\n", Number(rec.FrameRate).c_str());
    std::printf("FrameCount=%lld\n", static_cast<long long>(rec.FrameCount));
    std::printf("FrameWidth=%d\n", rec.FrameWidth);
    std::printf("FrameHeight=%d\n", rec.FrameHeight);
    if (rec.FrameRate == 0) {
        std::fprintf(stderr, "The video stream has no usable frame rate.\n");
        return 1;
    }
    const std::string sizeProblem = reader.PictureSizeProblem(rec.VideoStream);
    if (!sizeProblem.empty()) {
        std::fprintf(stderr, "%s The movie has no usable video.\n", sizeProblem.c_str());
        return 1;
    }
    return 0;
}

int CmdGrab(const TArgs& args) {
    if (args.size() != 3 && args.size() != 5) {
        std::fprintf(stderr, "usage: fwmedia grab FILE POSITION [WIDTH HEIGHT] OUT.bmp\n");
        return 2;
    }
    long long position = 0, width = 0, height = 0;
    if (!ParseInt(args[1], 0, INT32_MAX, position)) {
        std::fprintf(stderr, "POSITION must be a frame number, not \"%s\".\n", args[1].c_str());
        return 2;
    }
    if (args.size() == 5 && (!ParseInt(args[2], 1, 65535, width) || !ParseInt(args[3], 1, 65535, height))) {
        std::fprintf(stderr, "WIDTH and HEIGHT must be numbers from 1 to 65535.\n");
        return 2;
    }
    const std::string& out = args.back();
    media::TMovieReader reader;
    TProbe rec;
    if (!ProbeMovie(reader, args[0], rec)) return NoVideo(reader, args[0]);
    if (rec.FrameRate == 0) {
        std::fprintf(stderr, "The video stream of %s has no usable frame rate.\n", args[0].c_str());
        return 1;
    }
    const std::string sizeProblem = reader.PictureSizeProblem(rec.VideoStream);
    if (!sizeProblem.empty()) {
        std::fprintf(stderr, "%s The movie has no usable video.\n", sizeProblem.c_str());
        return 1;
    }
    if (args.size() == 3) {
        width = rec.FrameWidth;
        height = rec.FrameHeight;
    }
    media::TMovieReader::TPictureRequest request;
    request.Seconds = reader.TimeOfPosition(double(position));
    request.Width = int(width);
    request.Height = int(height);
    media::TRgbPicture frame;
    if (!reader.PictureAt(request, frame) || frame.Empty()) {
        std::fprintf(stderr, "%s\n", reader.LastError().c_str());
        return 1;
    }
    try {
        media::WriteBmpFile(out, frame);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
