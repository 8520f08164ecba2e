#include "RenderTestUtil.h"

#include "tests/fixtures/TestMovie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <cstdio>
#include <memory>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>

namespace rendertest {

std::vector<int> Range(int from, int to) {
    std::vector<int> v(static_cast<size_t>(to - from));
    std::iota(v.begin(), v.end(), from);
    return v;
}

namespace {
struct FmtCloser { void operator()(AVFormatContext* c) const { avformat_close_input(&c); } };
struct CtxFree { void operator()(AVCodecContext* c) const { avcodec_free_context(&c); } };
struct FrameFree { void operator()(AVFrame* f) const { av_frame_free(&f); } };
struct PacketFree { void operator()(AVPacket* p) const { av_packet_free(&p); } };
}  // namespace

TDecoded DecodeFile(const std::string& path) {
    TDecoded d;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        d.Error = "open failed";
        return d;
    }
    std::unique_ptr<AVFormatContext, FmtCloser> fmt(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        d.Error = "no stream info";
        return d;
    }
    std::vector<std::unique_ptr<AVCodecContext, CtxFree>> decs(raw->nb_streams);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVCodecParameters* par = raw->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) continue;
        decs[i].reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decs[i].get(), par);
        decs[i]->pkt_timebase = raw->streams[i]->time_base;
        if (avcodec_open2(decs[i].get(), codec, nullptr) < 0) decs[i].reset();
    }
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::vector<uint8_t> rgb;
    auto drain = [&](AVCodecContext* c) {
        while (avcodec_receive_frame(c, frame.get()) >= 0) {
            if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
                const int w = frame->width, h = frame->height;
                d.Width = w;
                d.Height = h;
                rgb = testmovie::PackedRgb(frame.get(), w, h, false, SWS_POINT);
                d.FrameNumbers.push_back(testmovie::ReadFrameNumber(rgb.data(), w, h));
            } else {
                const int64_t first = d.AudioSamples;
                d.AudioSamples += frame->nb_samples;
                d.AudioRate = frame->sample_rate;
                const int64_t tenth = std::max(1, frame->sample_rate / 10);
                const int ch = frame->ch_layout.nb_channels;
                const auto fmtS = static_cast<AVSampleFormat>(frame->format);
                const bool planar = av_sample_fmt_is_planar(fmtS);
                const AVSampleFormat packed = av_get_packed_sample_fmt(fmtS);
                const int n = frame->nb_samples * (planar ? 1 : ch);
                for (int p = 0; p < (planar ? ch : 1); ++p)
                    for (int i = 0; i < n; ++i) {
                        double v = 0;
                        const uint8_t* b = frame->extended_data[p];
                        switch (packed) {
                            case AV_SAMPLE_FMT_U8: v = (b[i] - 128) / 128.0; break;
                            case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(b)[i] / 32768.0; break;
                            case AV_SAMPLE_FMT_S32: v = reinterpret_cast<const int32_t*>(b)[i] / 2147483648.0; break;
                            case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(b)[i]; break;
                            case AV_SAMPLE_FMT_DBL: v = reinterpret_cast<const double*>(b)[i]; break;
                            default: break;
                        }
                        d.AudioPeak = std::max(d.AudioPeak, std::fabs(v));
                        const size_t block = static_cast<size_t>((first + i / (planar ? 1 : ch)) / tenth);
                        if (d.AudioTenthPeaks.size() <= block) d.AudioTenthPeaks.resize(block + 1, 0.0);
                        d.AudioTenthPeaks[block] = std::max(d.AudioTenthPeaks[block], std::fabs(v));
                    }
            }
        }
    };
    while (av_read_frame(raw, pkt.get()) >= 0) {
        const int si = pkt->stream_index;
        if (si >= 0 && static_cast<unsigned>(si) < decs.size() && decs[si]) {
            if (avcodec_send_packet(decs[si].get(), pkt.get()) >= 0) drain(decs[si].get());
        }
        av_packet_unref(pkt.get());
    }
    for (auto& c : decs)
        if (c) {
            avcodec_send_packet(c.get(), nullptr);
            drain(c.get());
        }
    return d;
}

int Run(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    std::string text;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    int rc = pclose(p);
    if (out) *out = text;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<std::map<std::string, std::string>> Probe(const std::string& path, bool countFrames) {
    std::string out;
    Run("ffprobe -v error " + std::string(countFrames ? "-count_frames " : "") + "-show_streams '" + path + "'", &out);
    std::vector<std::map<std::string, std::string>> streams;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "[STREAM]") streams.emplace_back();
        auto eq = line.find('=');
        if (eq != std::string::npos && !streams.empty()) streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

double Num(const std::map<std::string, std::string>& stream, const char* key) {
    auto it = stream.find(key);
    return it == stream.end() || it->second == "N/A" || it->second.empty() ? -1e9 : std::stod(it->second);
}

std::string Str(const std::map<std::string, std::string>& stream, const char* key) {
    auto it = stream.find(key);
    return it == stream.end() ? "" : it->second;
}

std::string GstPlayProblem(const std::string& path) {
    if (Run("command -v gst-launch-1.0 >/dev/null") != 0) return "skip";
    std::string out;
    const int rc = Run("gst-launch-1.0 playbin uri='file://" + path + "' video-sink=fakesink audio-sink=fakesink 2>&1",
                       &out);
    // A stream it has no decoder for is only warned about while the others play on.
    if (rc != 0 || out.find("ERROR") != std::string::npos || out.find("WARNING") != std::string::npos ||
        out.find("Missing element") != std::string::npos)
        return "exit " + std::to_string(rc) + ": " + out;
    return "";
}

std::vector<std::string> TopLevelAtoms(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const uint64_t size = static_cast<uint64_t>(in.tellg());
    std::vector<std::string> atoms;
    uint64_t at = 0;
    while (at + 8 <= size) {
        unsigned char h[16] = {};
        in.seekg(static_cast<std::streamoff>(at));
        in.read(reinterpret_cast<char*>(h), 8);
        uint64_t len = (uint64_t(h[0]) << 24) | (uint64_t(h[1]) << 16) | (uint64_t(h[2]) << 8) | h[3];
        if (len == 1) {
            in.read(reinterpret_cast<char*>(h + 8), 8);
            len = 0;
            for (int i = 8; i < 16; ++i) len = (len << 8) | h[i];
        } else if (len == 0) {
            len = size - at;
        }
        atoms.emplace_back(reinterpret_cast<char*>(h + 4), 4);
        if (len < 8) break;
        at += len;
    }
    return atoms;
}

bool MoovBeforeMdat(const std::string& path) {
    const auto atoms = TopLevelAtoms(path);
    const auto moov = std::find(atoms.begin(), atoms.end(), "moov");
    const auto mdat = std::find(atoms.begin(), atoms.end(), "mdat");
    return moov != atoms.end() && mdat != atoms.end() && moov < mdat;
}

bool PatchAfterTag(const std::string& path, const char* tag, int nth, int offset, uint32_t value, bool bigEndian) {
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    size_t at = bytes.find(tag, 0, 4);
    for (int i = 0; i < nth && at != std::string::npos; ++i) at = bytes.find(tag, at + 4, 4);
    if (at == std::string::npos || at + offset + 4 > bytes.size()) return false;
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
        bytes[at + offset + i] = static_cast<char>((value >> shift) & 0xFF);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

void JoinFiles(const std::string& a, const std::string& b, const std::string& out) {
    std::ofstream o(out, std::ios::binary | std::ios::trunc);
    for (const auto& part : {a, b}) {
        std::ifstream in(part, std::ios::binary);
        if (!in) throw std::runtime_error("can not read " + part);
        o << in.rdbuf();
    }
}

TFileSizeLimit::TFileSizeLimit(uint64_t bytes) {
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    FOldSoft = r.rlim_cur;
    r.rlim_cur = std::min<rlim_t>(bytes, r.rlim_max);
    setrlimit(RLIMIT_FSIZE, &r);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
}

TFileSizeLimit::~TFileSizeLimit() {
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = FOldSoft;
    setrlimit(RLIMIT_FSIZE, &r);
    std::signal(SIGXFSZ, FOldHandler);
}

double ToneOnsetSeconds(const std::string& file) {
    std::string pcm;
    if (Run("ffmpeg -nostdin -v error -i '" + file + "' -map 0:a -ac 1 -ar 48000 -f s16le -", &pcm) != 0) return -1;
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.data());
    const size_t count = pcm.size() / 2;
    size_t onset = 0;
    while (onset < count && std::abs(int(samples[onset])) < 0.25 * 0.5 * 32768) ++onset;
    if (onset == count) return -1;
    // Counted from the first decoded sound (a stream's start time counts the priming skipped after it).
    std::string first;
    if (Run("ffprobe -v error -select_streams a:0 -show_entries frame=pts_time -read_intervals %+#8 -of csv=p=0 '" +
                file + "' | head -n1",
            &first) != 0 ||
        first.empty())
        return -1;
    return std::stod(first) + double(onset) / 48000;
}

}  // namespace rendertest
