// Frame preview benchmark: the movie reader against the ffmpeg command line,
// on the same files and the same frames, reported as medians and ratios.
// Every frame the reader delivers is checked against a plain start-to-end
// decode, so a wrong frame can never count as a fast one.
//
// Usage: bench_preview FILE RANDOM_TARGET [FILE RANDOM_TARGET ...]
#include "media/AvPtr.h"
#include "media/InputFile.h"
#include "media/MovieReader.h"
#include "media/Scaler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace media;
using Clock = std::chrono::steady_clock;

namespace {

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

uint64_t Fnv(const uint8_t* p, size_t n, uint64_t h) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// Hash of every frame, in presentation order, converted the way the reader
// converts them at full size (RGB24, the program's interpolation, rows without padding).
std::vector<uint64_t> ReferenceHashes(const std::string& path) {
    TInputFile in = TInputFile::Open(path);
    const int vs = in.FirstVideoStream();
    AvCodecContextPtr dec = OpenDecoder(in.Format->streams[vs]);
    AvPacketPtr pkt = MakePacket();
    AvFramePtr f = MakeFrame();
    SwsContextPtr sws;
    std::vector<std::pair<int64_t, uint64_t>> frames;
    std::vector<uint8_t> bgr;
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), f.get()) == 0) {
            const int w = f->width, h = f->height;
            if (!sws)
                sws.reset(sws_getContext(w, h, AVPixelFormat(f->format), w, h, AV_PIX_FMT_RGB24, kPictureScaleFlags,
                                         nullptr, nullptr, nullptr));
            // FFmpeg writes into a picture of its own; the rows are copied out.
            AvFramePtr pic = MakeFrame();
            pic->width = w;
            pic->height = h;
            pic->format = AV_PIX_FMT_RGB24;
            CheckRc(av_frame_get_buffer(pic.get(), 0), "picture");
            sws_scale(sws.get(), f->data, f->linesize, 0, h, pic->data, pic->linesize);
            bgr.resize(size_t(w) * 3 * h);
            for (int y = 0; y < h; ++y)
                std::memcpy(bgr.data() + size_t(y) * w * 3, pic->data[0] + ptrdiff_t(y) * pic->linesize[0], size_t(w) * 3);
            frames.emplace_back(f->best_effort_timestamp, Fnv(bgr.data(), bgr.size(), 1469598103934665603ull));
        }
    };
    while (av_read_frame(in.Format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vs) {
            avcodec_send_packet(dec.get(), pkt.get());
            drain();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    std::stable_sort(frames.begin(), frames.end());
    std::vector<uint64_t> out;
    for (auto& fr : frames) out.push_back(fr.second);
    return out;
}

// Hash of the reader's picture (top-down rows without padding).
uint64_t PictureHash(const TRgbPicture& picture) {
    return Fnv(picture.Rgb.data(), picture.Rgb.size(), 1469598103934665603ull);
}

struct TBench {
    std::string File;
    TMovieReader Reader;
    double Fps = 0;
    int W = 0, H = 0, Frames = 0;
    std::vector<uint64_t> Ref;
    TRgbPicture Picture;
    int Wrong = 0, Checked = 0;

    void Open() {
        Reader.Open(File);
        const TMovieFacts facts = Reader.Facts();
        Fps = facts.FrameRate;
        W = facts.MediaType.Width;
        H = facts.MediaType.Height;
    }
    // Grabs position p at full size; returns seconds taken. Checks the frame.
    double Grab(int p) {
        const double t0 = Now();
        TMovieReader::TPictureRequest request;
        request.Seconds = p / Fps;
        request.Width = W;
        request.Height = H;
        const bool ok = Reader.PictureAt(request, Picture);
        const double dt = Now() - t0;
        ++Checked;
        if (!ok || p >= int(Ref.size()) || PictureHash(Picture) != Ref[p]) {
            ++Wrong;
            std::printf("  WRONG FRAME at position %d%s\n", p, ok ? "" : (" (" + Reader.LastError() + ")").c_str());
        }
        return dt;
    }
};

double RunCli(const std::string& cmd) {
    const double t0 = Now();
    const int rc = std::system(cmd.c_str());
    const double dt = Now() - t0;
    if (rc != 0) std::printf("  command failed: %s\n", cmd.c_str());
    return dt;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

const char* Verdict(double ratio, double target) { return ratio <= target ? "ok" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (argc - 1) % 2) {
        std::fprintf(stderr, "usage: bench_preview FILE RANDOM_TARGET [FILE RANDOM_TARGET ...]\n");
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    const std::string tmp = "/tmp/fw_bench_preview_" + std::to_string(getpid()) + ".bmp";
    int totalWrong = 0, missed = 0;
    for (int a = 1; a + 1 < argc; a += 2) {
        TBench b;
        b.File = argv[a];
        const double randomTarget = std::atof(argv[a + 1]);
        std::printf("\n%s\n", b.File.c_str());

        // The plain decode: reference frames and one frame's decode cost by the command line.
        b.Ref = ReferenceHashes(b.File);
        const double decodeAll = RunCli("ffmpeg -v error -i " + Quote(b.File) + " -an -f null -");
        const double oneFrame = decodeAll / std::max<size_t>(1, b.Ref.size());
        std::printf("  %zu frames; ffmpeg -f null decode %.3f s => one frame %.2f ms\n", b.Ref.size(), decodeAll,
                    oneFrame * 1e3);

        // Open to first frame shown.
        std::vector<double> openDet, openCli;
        for (int i = 0; i < 5; ++i) {
            TBench o;
            o.File = b.File;
            o.Ref = b.Ref;
            const double t0 = Now();
            o.Open();
            o.Grab(0);
            openDet.push_back(Now() - t0);
            b.Wrong += o.Wrong;
            b.Checked += o.Checked;
            openCli.push_back(RunCli("ffmpeg -v error -y -i " + Quote(b.File) + " -frames:v 1 " + tmp));
        }

        b.Open();
        const int n = int(b.Ref.size());
        std::mt19937 rng(2024);
        std::vector<int> positions;
        for (int i = 0; i < 9; ++i) positions.push_back(int(rng() % (n - 2)));
        b.Grab(0);

        // Random grabs, each followed by the next frame (the arrow key).
        std::vector<double> randDet, randCli, nextDet;
        for (int p : positions) {
            randDet.push_back(b.Grab(p));
            nextDet.push_back(b.Grab(p + 1));
            char ss[32];
            std::snprintf(ss, sizeof ss, "%.6f", p / b.Fps);
            randCli.push_back(RunCli("ffmpeg -v error -y -ss " + std::string(ss) + " -i " + Quote(b.File) +
                                     " -frames:v 1 " + tmp));
        }

        // A forward drag in 0.2 s steps across 12 s from a grabbed start.
        const int step = std::max(1, int(std::lround(0.2 * b.Fps)));
        const int from = n / 3, steps = std::min(60, (n - from - 1) / step);
        b.Grab(from);
        const auto seeksBefore = b.Reader.Stats().Seeks;
        const double d0 = Now();
        for (int s = 1; s <= steps; ++s) b.Grab(from + s * step);
        const double drag = Now() - d0;
        const auto dragSeeks = b.Reader.Stats().Seeks - seeksBefore;
        const double dragBudget = 2.0 * steps * step * oneFrame;

        const double rRandom = Median(randDet) / Median(randCli);
        const double rNext = Median(nextDet) / oneFrame;
        const double rDrag = drag / (steps * step * oneFrame);
        const double rOpen = Median(openDet) / Median(openCli);
        std::printf("  random grab:   reader   %7.2f ms, ffmpeg -ss %7.2f ms, ratio %.3f (target <= %.2f) %s\n",
                    Median(randDet) * 1e3, Median(randCli) * 1e3, rRandom, randomTarget,
                    Verdict(rRandom, randomTarget));
        std::printf("  next frame:    reader   %7.2f ms, one frame's decode %5.2f ms, ratio %.2f (target <= 2) %s\n",
                    Median(nextDet) * 1e3, oneFrame * 1e3, rNext, Verdict(rNext, 2));
        std::printf("  drag 0.2 s:    %d steps of %d frames in %.1f ms (budget %.1f ms), ratio %.2f (target <= 2) %s, "
                    "seeks %llu\n",
                    steps, step, drag * 1e3, dragBudget * 1e3, rDrag, Verdict(rDrag, 2),
                    static_cast<unsigned long long>(dragSeeks));
        std::printf("  open to frame: reader   %7.2f ms, ffmpeg first frame %7.2f ms, ratio %.3f (target <= 0.5) %s\n",
                    Median(openDet) * 1e3, Median(openCli) * 1e3, rOpen, Verdict(rOpen, 0.5));
        std::printf("  frames checked against the plain decode: %d, wrong: %d\n", b.Checked, b.Wrong);
        missed += (rRandom > randomTarget) + (rNext > 2) + (rDrag > 2) + (rOpen > 0.5);
        totalWrong += b.Wrong;
    }
    std::remove(tmp.c_str());
    std::printf("\ntargets missed: %d, wrong frames: %d\n", missed, totalWrong);
    return totalWrong ? 1 : 0;
}
