// Same-as-source clips (TClipFormat::Copy / TOutputFormat::Copy) out of H.264
// and HEVC movies, read back independently of the engine: every frame's drawn
// number, the copied frames byte for byte against a plain decode of the source,
// the re-encoded ones by PSNR, the stream's codec, sample entry, profile, pixel
// format and colour tags against the source's, a clean decode by the ffmpeg
// command line and GStreamer, the sound's place and length, and the fallback to
// MP4 with a notice where nothing can be copied.
#include "RenderTestUtil.h"

#include "convert/RenderClip.h"
#include "media/CopyCut.h"
#include "media/MediaTypes.h"
#include "media/MovieReader.h"
#include "media/ClipJob.h"
#include "media/RenderEngine.h"
#include "tests/fixtures/TestMovie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;
using rendertest::Num;
using rendertest::Range;
using rendertest::Str;
using rendertest::TTestHost;

constexpr double kRate = 25;

// ------------------------------------------------------------- reading files back

struct FmtCloser { void operator()(AVFormatContext* c) const { avformat_close_input(&c); } };
struct CtxFree { void operator()(AVCodecContext* c) const { avcodec_free_context(&c); } };
struct FrameFree { void operator()(AVFrame* f) const { av_frame_free(&f); } };
struct PacketFree { void operator()(AVPacket* p) const { av_packet_free(&p); } };

// One decoded picture: its planes' visible samples, row after row, copied out
// of the decoder's own buffers.
struct TPicture {
    int Format = -1;
    int Width = 0, Height = 0;
    int Depth = 8;
    std::vector<uint8_t> Bytes;
};

TPicture CopyOut(const AVFrame* f) {
    TPicture p;
    p.Format = f->format;
    p.Width = f->width;
    p.Height = f->height;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    p.Depth = d->comp[0].depth;
    const int bytesPerSample = p.Depth > 8 ? 2 : 1;
    for (int plane = 0; plane < 3 && f->data[plane]; ++plane) {
        const int shiftW = plane ? d->log2_chroma_w : 0, shiftH = plane ? d->log2_chroma_h : 0;
        const int w = AV_CEIL_RSHIFT(f->width, shiftW), h = AV_CEIL_RSHIFT(f->height, shiftH);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = f->data[plane] + static_cast<std::ptrdiff_t>(y) * f->linesize[plane];
            p.Bytes.insert(p.Bytes.end(), row, row + static_cast<size_t>(w) * bytesPerSample);
        }
    }
    return p;
}

// Every picture of the file's first video stream, as a plain decode from the
// start gives them (presentation order).
std::vector<TPicture> DecodePictures(const std::string& path) {
    std::vector<TPicture> pictures;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return pictures;
    std::unique_ptr<AVFormatContext, FmtCloser> fmt(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return pictures;
    const int vs = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0) return pictures;
    const AVCodec* codec = avcodec_find_decoder(raw->streams[vs]->codecpar->codec_id);
    if (!codec) return pictures;
    std::unique_ptr<AVCodecContext, CtxFree> dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), raw->streams[vs]->codecpar);
    dec->pkt_timebase = raw->streams[vs]->time_base;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return pictures;
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> f(av_frame_alloc());
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), f.get()) == 0) {
            pictures.push_back(CopyOut(f.get()));
            av_frame_unref(f.get());
        }
    };
    while (av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == vs && avcodec_send_packet(dec.get(), pkt.get()) >= 0) drain();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return pictures;
}

// Peak signal to noise ratio of b against a over all planes, or the luma
// plane only, in dB (999 when equal).
double Psnr(const TPicture& a, const TPicture& b, bool lumaOnly = false) {
    if (a.Bytes.size() != b.Bytes.size() || a.Depth != b.Depth) return -1;
    const size_t size = lumaOnly ? std::min(a.Bytes.size(), size_t(a.Width) * size_t(a.Height) * (a.Depth > 8 ? 2 : 1))
                                 : a.Bytes.size();
    double sum = 0;
    size_t n = 0;
    if (a.Depth > 8) {
        for (size_t i = 0; i + 1 < size; i += 2, ++n) {
            const double d = double(a.Bytes[i] | a.Bytes[i + 1] << 8) - double(b.Bytes[i] | b.Bytes[i + 1] << 8);
            sum += d * d;
        }
    } else {
        for (; n < size; ++n) {
            const double d = double(a.Bytes[n]) - double(b.Bytes[n]);
            sum += d * d;
        }
    }
    if (sum == 0) return 999;
    const double peak = double((1 << a.Depth) - 1);
    return 10 * std::log10(peak * peak * double(n) / sum);
}

// What the video stream is made of, from the NAL units of its packets
// (length-prefixed as in avcC / hvcC, or start codes): presentation-order
// indexes of its IDR pictures, of its HEVC CRA pictures and of its key frames
// (as the demuxer flags them), and how many different sequence parameter sets
// it brings.
struct TStreamShape {
    std::vector<int> Idr, Cra, Key;
    size_t SequenceParameterSets = 0;
};

TStreamShape Shape(const std::string& path) {
    TStreamShape shape;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return shape;
    std::unique_ptr<AVFormatContext, FmtCloser> fmt(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return shape;
    const int vs = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0) return shape;
    const AVCodecParameters* par = raw->streams[vs]->codecpar;
    const bool hevc = par->codec_id == AV_CODEC_ID_HEVC;
    int lengthSize = 0;
    if (par->extradata && par->extradata[0] == 1)
        lengthSize = hevc ? (par->extradata_size >= 23 ? (par->extradata[21] & 3) + 1 : 0)
                          : (par->extradata_size >= 7 ? (par->extradata[4] & 3) + 1 : 0);
    auto type = [&](uint8_t header) { return hevc ? (header >> 1) & 0x3f : header & 0x1f; };
    std::vector<std::string> sps;
    struct TPacket {
        int64_t Pts;
        bool Idr, Cra, Key;
    };
    std::vector<TPacket> packets;
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    while (av_read_frame(raw, pkt.get()) >= 0) {
        if (pkt->stream_index == vs) {
            bool idr = false, cra = false;
            auto nal = [&](const uint8_t* at, size_t size) {
                if (size == 0) return;
                const int t = type(at[0]);
                idr = idr || (hevc ? t == 19 || t == 20 : t == 5);
                cra = cra || (hevc && t == 21);
                if (t == (hevc ? 33 : 7)) {
                    std::string bytes(reinterpret_cast<const char*>(at), size);
                    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();  // a following start code's zeros
                    if (std::find(sps.begin(), sps.end(), bytes) == sps.end()) sps.push_back(bytes);
                }
            };
            const uint8_t* p = pkt->data;
            const size_t n = size_t(pkt->size);
            if (lengthSize > 0) {
                for (size_t i = 0; i + size_t(lengthSize) < n;) {
                    size_t len = 0;
                    for (int b = 0; b < lengthSize; ++b) len = len << 8 | p[i + b];
                    i += size_t(lengthSize);
                    if (len == 0 || len > n - i) break;
                    nal(p + i, len);
                    i += len;
                }
            } else {
                size_t begin = 0;
                bool open = false;
                for (size_t i = 0; i + 3 <= n; ++i)
                    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
                        if (open) nal(p + begin, i - begin);
                        begin = i + 3;
                        open = true;
                        i += 2;
                    }
                if (open) nal(p + begin, n - begin);
            }
            packets.push_back({pkt->pts, idr, cra, (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        }
        av_packet_unref(pkt.get());
    }
    std::sort(packets.begin(), packets.end(), [](const TPacket& a, const TPacket& b) { return a.Pts < b.Pts; });
    for (size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].Idr) shape.Idr.push_back(int(i));
        if (packets[i].Cra) shape.Cra.push_back(int(i));
        if (packets[i].Key) shape.Key.push_back(int(i));
    }
    shape.SequenceParameterSets = sps.size() + (par->extradata && lengthSize > 0 ? 1 : 0);
    return shape;
}

// The command line's strict decode of the whole file: "" when it exits 0 and
// says nothing, else what it said.
std::string StrictDecodeProblem(const std::string& path) {
    std::string out;
    const int rc = rendertest::Run("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f null - 2>&1", &out);
    return rc == 0 && out.empty() ? "" : "exit " + std::to_string(rc) + ": " + out;
}

// ------------------------------------------------------------- the sources, made once per run

struct TSourceKind {
    const char* Name;
    const char* File;
    testmovie::TMovieSpec Spec;
};

testmovie::TMovieSpec H264(const char* container, const char* audio) {
    testmovie::TMovieSpec s;
    s.Container = container;
    s.VideoCodec = "libx264";
    s.AudioCodec = audio;
    s.Frames = 100;
    s.GopSize = 25;
    s.MaxBFrames = 2;
    s.SampleRate = 48000;
    s.Colourful = true;
    s.ColourSpace = "bt709";
    return s;
}

const std::vector<TSourceKind>& SourceKinds() {
    static const std::vector<TSourceKind> kinds = [] {
        std::vector<TSourceKind> k;
        k.push_back({"H264Mp4", "h264.mp4", H264("mp4", "aac")});
        k.push_back({"H264Mkv", "h264.mkv", H264("matroska", "")});
        k.push_back({"H264TsMp2", "h264.ts", H264("mpegts", "mp2")});
        k.push_back({"H264MovPcm", "h264.mov", H264("mov", "pcm_s16le")});
        testmovie::TMovieSpec open = H264("mp4", "aac");
        open.OpenGop = true;
        k.push_back({"H264OpenGop", "open.mp4", open});
        // Three encoders in turn: parts at frames 0, 40 and 80, key frames every 20.
        testmovie::TMovieSpec changes = H264("mpegts", "aac");
        changes.Frames = 120;
        changes.GopSize = 20;
        changes.ParameterSetChanges = 2;
        k.push_back({"H264TsParameterSetChanges", "changes.ts", changes});
        testmovie::TMovieSpec deep = H264("mp4", "aac");
        deep.PixelFormat = "yuv420p10le";
        k.push_back({"H264TenBit", "tenbit.mp4", deep});
        testmovie::TMovieSpec hevc = H264("mp4", "aac");
        hevc.VideoCodec = "libx265";
        k.push_back({"HevcMp4", "hevc.mp4", hevc});
        testmovie::TMovieSpec hevcOpen = hevc;
        hevcOpen.Container = "matroska";
        hevcOpen.OpenGop = true;
        k.push_back({"HevcOpenGopMkv", "hevc-open.mkv", hevcOpen});
        testmovie::TMovieSpec hevcChanges = changes;
        hevcChanges.VideoCodec = "libx265";
        k.push_back({"HevcTsParameterSetChanges", "hevc-changes.ts", hevcChanges});
        // 120 frames per second on average, each packet claiming one tick of 1/240 s.
        testmovie::TMovieSpec vfr = H264("mp4", "aac");
        vfr.FrameRateNum = 120;
        vfr.Frames = 300;
        vfr.GopSize = 60;
        vfr.VariableRate = true;
        k.push_back({"H264VariableRateMp4", "vfr.mp4", vfr});
        testmovie::TMovieSpec mpeg4 = H264("avi", "pcm_s16le");
        mpeg4.VideoCodec = "mpeg4";
        mpeg4.ColourSpace = "";
        k.push_back({"Mpeg4Avi", "mpeg4.avi", mpeg4});
        return k;
    }();
    return kinds;
}

// The folder of the run's sources; removed at the end unless a test failed.
class TSourceFolder : public ::testing::Environment {
public:
    static std::string& Dir() {
        static std::string dir;
        return dir;
    }
    void TearDown() override {
        const auto* unit = ::testing::UnitTest::GetInstance();
        if (!Dir().empty() && !unit->Failed()) fs::remove_all(Dir());
    }
};
const auto* const kSourceFolder = ::testing::AddGlobalTestEnvironment(new TSourceFolder);

// The source of that kind, made on first use.
const std::string& Source(const std::string& kind) {
    static std::map<std::string, std::string> made;
    auto it = made.find(kind);
    if (it != made.end()) return it->second;
    if (TSourceFolder::Dir().empty()) TSourceFolder::Dir() = testmovie::MakeTempDir("fw-render-copy-src");
    for (const auto& k : SourceKinds())
        if (kind == k.Name) {
            const std::string path = TSourceFolder::Dir() + "/" + k.File;
            testmovie::MakeTestMovie(path, k.Spec);
            return made[kind] = path;
        }
    throw std::runtime_error("no source kind " + kind);
}

int SourceFrames(const std::string& kind) {
    for (const auto& k : SourceKinds())
        if (kind == k.Name) return k.Spec.Frames;
    return 0;
}

// The decoded pictures of a source, once per run.
const std::vector<TPicture>& SourcePictures(const std::string& kind) {
    static std::map<std::string, std::vector<TPicture>> decoded;
    auto it = decoded.find(kind);
    if (it == decoded.end()) it = decoded.emplace(kind, DecodePictures(Source(kind))).first;
    return it->second;
}

class CopyTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-render-copy"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Dir;
};

// A host that records the notices.
struct TNoticeHost : TTestHost {
    QStringList Notices;
    void ShowNotice(const QString& text) override { Notices << text; }
};

// ------------------------------------------------------------- the clips

enum class TExpect {
    Copies,     // CanCopy; head up to the first IDR picture at or after the start, something copied
    CopiesAll,  // CanCopy; everything copied (the range starts and ends on IDR pictures)
    FallsBack,  // !CanCopy; RenderClip makes an MP4 after a notice
    Either,     // either of the above; the file must be right both ways
};

struct TCopyCase {
    const char* Name;
    const char* Kind;
    int Start, End;
    TExpect Expect;
    int AudioCopied;  // 1 copied, 0 re-encoded to AAC, -1 the source has no sound
    // A copy's sample entry: avc1 (H.264 whose parameter sets stay the same
    // through the copied part), avc3 (they change), hvc1 and hev1 likewise for HEVC.
    const char* Entry;
};
void PrintTo(const TCopyCase& c, std::ostream* os) { *os << c.Name; }

class CopyCuts : public CopyTest, public ::testing::WithParamInterface<TCopyCase> {};

TEST_P(CopyCuts, HoldTheRangesFramesCopiedBitExactAndPlayEverywhere) {
    const TCopyCase& c = GetParam();
    const std::string& src = Source(c.Kind);
    ASSERT_GE(SourceFrames(c.Kind), c.End);

    const media::TCopyPlan plan = media::PlanCopy(src, c.Start, c.End);
    SCOPED_TRACE("plan: CanCopy " + std::to_string(plan.CanCopy) + " (" + plan.Why + "), head " +
                 std::to_string(plan.HeadFrames) + ", copied " + std::to_string(plan.CopiedFrames) + ", tail " +
                 std::to_string(plan.TailFrames));
    bool copies = plan.CanCopy;
    switch (c.Expect) {
        case TExpect::Copies:
        case TExpect::CopiesAll: ASSERT_TRUE(plan.CanCopy); break;
        case TExpect::FallsBack: ASSERT_FALSE(plan.CanCopy); break;
        case TExpect::Either: break;
    }
    if (copies) {
        EXPECT_EQ(plan.Frames, c.End - c.Start);
        EXPECT_EQ(plan.HeadFrames + plan.CopiedFrames + plan.TailFrames, plan.Frames);
        EXPECT_GT(plan.CopiedFrames, 0);
        // The copy starts on the first IDR picture at or after the start (in
        // HEVC also a CRA picture, whose leading pictures come from the head).
        const TStreamShape shape = Shape(src);
        std::vector<int> starts = shape.Idr;
        starts.insert(starts.end(), shape.Cra.begin(), shape.Cra.end());
        std::sort(starts.begin(), starts.end());
        const auto first = std::lower_bound(starts.begin(), starts.end(), c.Start);
        ASSERT_NE(first, starts.end());
        EXPECT_EQ(plan.HeadFrames, *first - c.Start);
        if (c.Expect == TExpect::CopiesAll) {
            EXPECT_EQ(plan.HeadFrames, 0);
            EXPECT_EQ(plan.TailFrames, 0);
        }
        EXPECT_EQ(plan.Codec, std::string(c.Kind).rfind("Hevc", 0) == 0 ? "hevc" : "h264");
    } else {
        ASSERT_FALSE(plan.Why.empty());
        EXPECT_EQ(plan.Why.back(), '.') << plan.Why;
    }
    if (c.AudioCopied >= 0) {
        EXPECT_TRUE(plan.HasAudio);
        if (copies) {
            EXPECT_EQ(plan.AudioCopied, c.AudioCopied == 1);
        }
    } else {
        EXPECT_FALSE(plan.HasAudio);
    }

    const std::string out = Dir + "/clip.mp4";
    TNoticeHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, kRate, c.Start,
                           c.End, TClipFormat::Copy))
        << host.FailureReason.toStdString();
    EXPECT_EQ(host.Failures, 0);
    if (copies && std::string(c.Entry) == "hev1") {
        // Sets that change keep the stream's form, and the user is told.
        ASSERT_EQ(host.Notices.size(), 1);
        EXPECT_EQ(host.Notices[0].toStdString(), plan.SampleEntryNote);
        EXPECT_NE(plan.SampleEntryNote.find("hev1"), std::string::npos);
    } else if (copies) {
        EXPECT_TRUE(host.Notices.isEmpty()) << host.Notices.join('|').toStdString();
        EXPECT_EQ(plan.SampleEntryNote, "");
    } else {
        ASSERT_EQ(host.Notices.size(), 1);
        EXPECT_EQ(host.Notices[0], CopyFallbackNotice(plan.Why));
    }

    EXPECT_EQ(StrictDecodeProblem(out), "");
    EXPECT_TRUE(rendertest::MoovBeforeMdat(out));
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_EQ(decoded.FrameNumbers, Range(c.Start, c.End));

    const auto srcStreams = rendertest::Probe(src, false);
    const auto streams = rendertest::Probe(out);
    ASSERT_FALSE(srcStreams.empty());
    ASSERT_EQ(streams.size(), c.AudioCopied >= 0 ? 2u : 1u);
    const auto& v = streams[0];
    EXPECT_EQ(Str(v, "codec_type"), "video");
    EXPECT_EQ(Num(v, "nb_read_frames"), c.End - c.Start);
    // The clip's first picture shows at its start, and the last one for a frame's time.
    EXPECT_NEAR(Num(v, "start_time"), 0, 0.5 / kRate);
    EXPECT_NEAR(Num(v, "duration"), (c.End - c.Start) / kRate, 0.5 / kRate);
    if (copies) {
        const auto& sv = *std::find_if(srcStreams.begin(), srcStreams.end(),
                                       [](const auto& s) { return Str(s, "codec_type") == "video"; });
        EXPECT_EQ(Str(v, "codec_name"), Str(sv, "codec_name"));
        EXPECT_EQ(Str(v, "codec_tag_string"), c.Entry);
        // hvc1: every part's sets are in the sample entry, none in the stream.
        if (std::string(c.Entry) == "hvc1") EXPECT_EQ(Shape(out).SequenceParameterSets, 1u);
        for (const char* key : {"profile", "pix_fmt", "width", "height", "color_range", "color_space",
                                "color_primaries", "color_transfer"})
            EXPECT_EQ(Str(v, key), Str(sv, key)) << key;

        // Copied frames decode as in the source, byte for byte; the re-encoded
        // ones come close.
        const auto& srcPictures = SourcePictures(c.Kind);
        const auto outPictures = DecodePictures(out);
        ASSERT_GE(srcPictures.size(), size_t(c.End));
        ASSERT_EQ(outPictures.size(), size_t(c.End - c.Start));
        for (int i = 0; i < c.End - c.Start; ++i) {
            const TPicture& o = outPictures[size_t(i)];
            const TPicture& s = srcPictures[size_t(c.Start + i)];
            ASSERT_EQ(o.Format, s.Format) << "frame " << i;
            ASSERT_EQ(o.Bytes.size(), s.Bytes.size()) << "frame " << i;
            if (i >= plan.HeadFrames && i < plan.HeadFrames + plan.CopiedFrames)
                EXPECT_TRUE(o.Bytes == s.Bytes) << "copied frame " << i << " differs (PSNR " << Psnr(s, o) << " dB)";
            else
                EXPECT_GE(Psnr(s, o), 40.0) << "re-encoded frame " << i;
        }
    } else {
        // The MP4 mode's file.
        EXPECT_EQ(Str(v, "codec_name"), "h264");
    }

    if (c.AudioCopied >= 0) {
        const auto& a = streams[1];
        EXPECT_EQ(Str(a, "codec_name"), "aac");
        const double rate = Num(a, "sample_rate"), aacFrame = 1024 / rate;
        // The sound starts with the picture and lasts as long, within one AAC frame.
        EXPECT_NEAR(Num(a, "start_time"), Num(v, "start_time"), aacFrame + 1e-3);
        ASSERT_GT(decoded.AudioRate, 0);
        const double clip = (c.End - c.Start) / kRate;
        EXPECT_NEAR(double(decoded.AudioSamples) / decoded.AudioRate, clip, aacFrame + 1e-3);
        for (size_t i = 0; i + 1 < decoded.AudioTenthPeaks.size(); ++i)
            EXPECT_GT(decoded.AudioTenthPeaks[i], 0.05) << "silent tenth " << i;
    }

    const std::string gst = rendertest::GstPlayProblem(out);
    if (gst == "skip") GTEST_SKIP() << "gst-launch-1.0 is not installed; GStreamer playback not checked";
    EXPECT_EQ(gst, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyCuts,
    ::testing::Values(
        // name, source, range, what happens, sound, sample entry of a copy
        // Key frames every 25 frames (IDR pictures at 0, 25, 50, 75), B-frames.
        TCopyCase{"H264Mp4AcrossTwoKeyFrames", "H264Mp4", 13, 88, TExpect::Copies, 1, "avc1"},
        TCopyCase{"H264Mp4FromKeyFrameToKeyFrame", "H264Mp4", 25, 75, TExpect::CopiesAll, 1, "avc1"},
        TCopyCase{"H264Mp4InsideOneGroup", "H264Mp4", 30, 45, TExpect::FallsBack, 1, ""},
        TCopyCase{"H264Mp4OneKeyFrame", "H264Mp4", 50, 51, TExpect::CopiesAll, 1, "avc1"},
        TCopyCase{"H264Mp4OneFrameAfterAKeyFrame", "H264Mp4", 51, 52, TExpect::FallsBack, 1, ""},
        TCopyCase{"H264Mp4ToTheMoviesEnd", "H264Mp4", 40, 100, TExpect::Copies, 1, "avc1"},
        TCopyCase{"H264MkvNoSound", "H264Mkv", 7, 61, TExpect::Copies, -1, "avc1"},
        TCopyCase{"H264TsMp2SoundMadeAac", "H264TsMp2", 13, 88, TExpect::Copies, 0, "avc1"},
        TCopyCase{"H264TsToTheMoviesEnd", "H264TsMp2", 60, 100, TExpect::Copies, 0, "avc1"},
        TCopyCase{"H264MovPcmSoundMadeAac", "H264MovPcm", 24, 77, TExpect::Copies, 0, "avc1"},
        TCopyCase{"H264OpenGop", "H264OpenGop", 13, 88, TExpect::Either, 1, "avc1"},
        TCopyCase{"H264OpenGopFromTheStart", "H264OpenGop", 0, 60, TExpect::Either, 1, "avc1"},
        // Parts made by fresh encoders start at frames 40 and 80.
        TCopyCase{"H264TsAcrossParameterSetChanges", "H264TsParameterSetChanges", 30, 95, TExpect::Copies, 1, "avc3"},
        TCopyCase{"H264TsEndingInANewPart", "H264TsParameterSetChanges", 50, 86, TExpect::Copies, 1, "avc3"},
        TCopyCase{"H264TsCopyWithinOnePart", "H264TsParameterSetChanges", 45, 78, TExpect::Copies, 1, "avc1"},
        TCopyCase{"H264TenBit", "H264TenBit", 13, 88, TExpect::Copies, 1, "avc1"},
        TCopyCase{"HevcMp4", "HevcMp4", 13, 88, TExpect::Copies, 1, "hvc1"},
        TCopyCase{"HevcMp4FromKeyFrameToKeyFrame", "HevcMp4", 50, 100, TExpect::CopiesAll, 1, "hvc1"},
        TCopyCase{"HevcOpenGopMkv", "HevcOpenGopMkv", 13, 88, TExpect::Either, 1, "hvc1"},
        // Starting on a CRA picture (its leading pictures lie before the
        // range), and ending where the next CRA's leading pictures are shown.
        TCopyCase{"HevcOpenGopMkvFromACra", "HevcOpenGopMkv", 25, 88, TExpect::Either, 1, "hvc1"},
        TCopyCase{"HevcOpenGopMkvUpToACra", "HevcOpenGopMkv", 13, 50, TExpect::Either, 1, "hvc1"},
        // x265 numbers every part's sets 0: they change under the same number.
        TCopyCase{"HevcTsAcrossParameterSetChanges", "HevcTsParameterSetChanges", 30, 95, TExpect::Copies, 1, "hev1"},
        TCopyCase{"HevcTsCopyWithinOnePart", "HevcTsParameterSetChanges", 45, 78, TExpect::Copies, 1, "hvc1"},
        TCopyCase{"Mpeg4AviFallsBack", "Mpeg4Avi", 13, 88, TExpect::FallsBack, 0, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// The sources are what the cases take them for: key frames where asked, open
// groups of pictures with key frames that are not IDR pictures, and a stream
// whose parameter sets change.
TEST(CopySources, HaveTheShapeTheCasesRestOn) {
    const std::vector<int> everyQuarter{0, 25, 50, 75};
    for (const char* kind : {"H264Mp4", "H264Mkv", "H264TsMp2", "H264MovPcm", "H264TenBit", "HevcMp4"}) {
        SCOPED_TRACE(kind);
        const TStreamShape shape = Shape(Source(kind));
        EXPECT_EQ(shape.Idr, everyQuarter);
        EXPECT_EQ(shape.Key, everyQuarter);
    }
    for (const char* kind : {"H264OpenGop", "HevcOpenGopMkv"}) {
        SCOPED_TRACE(kind);
        const TStreamShape shape = Shape(Source(kind));
        EXPECT_EQ(shape.Idr, std::vector<int>{0});
        EXPECT_GT(shape.Key.size(), 1u) << "no key frame after the first";
    }
    const TStreamShape changes = Shape(Source("H264TsParameterSetChanges"));
    EXPECT_EQ(changes.Idr, (std::vector<int>{0, 20, 40, 60, 80, 100}));
    EXPECT_EQ(changes.SequenceParameterSets, 3u);
}

// ------------------------------------------------------------- sound in step

struct TToneSource {
    const char* Name;
    const char* File;
    const char* Audio;  // ffmpeg encoder
    bool Copied;        // copied as it is (else made AAC)
    const char* Codec;  // the clip's sound
};
void PrintTo(const TToneSource& c, std::ostream* os) { *os << c.Name; }

class CopyTone : public CopyTest, public ::testing::WithParamInterface<TToneSource> {};

// A tone that starts at exactly 1 s of the source starts 0.2 s into a clip
// from 0.8 s, whether its packets are copied or re-encoded: the copied
// packets' head start and the encoder's priming are skipped, not played.
TEST_P(CopyTone, StartsWhereTheSourcesDoes) {
    const TToneSource& c = GetParam();
    const std::string src = Dir + "/" + c.File;
    ASSERT_EQ(rendertest::Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=160x120:r=25:d=3 -f lavfi -i "
                              "\"aevalsrc='if(gte(t,1),0.5*sin(2*PI*1000*t),0)':s=48000:c=stereo:d=3\" "
                              "-c:v libx264 -preset veryfast -g 25 -keyint_min 25 -sc_threshold 0 -bf 2 -pix_fmt yuv420p "
                              "-c:a " + std::string(c.Audio) + " '" + src + "'"),
              0);
    const media::TCopyPlan plan = media::PlanCopy(src, 20, 60);
    ASSERT_TRUE(plan.CanCopy) << plan.Why;
    EXPECT_EQ(plan.AudioCopied, c.Copied);
    const std::string out = Dir + "/onset.mp4";
    TNoticeHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, kRate, 20, 60,
                           TClipFormat::Copy))
        << host.FailureReason.toStdString();
    EXPECT_TRUE(host.Notices.isEmpty());
    const auto streams = rendertest::Probe(out, false);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(Str(streams[1], "codec_name"), c.Codec);
    const double onsetTime = rendertest::ToneOnsetSeconds(out);
    ASSERT_GE(onsetTime, 0) << "no tone in the clip";
    EXPECT_NEAR(onsetTime - Num(streams[0], "start_time"), 0.2, 0.025);
    EXPECT_EQ(StrictDecodeProblem(out), "");
}

INSTANTIATE_TEST_SUITE_P(Sources, CopyTone,
                         ::testing::Values(TToneSource{"AacInMp4", "tone.mp4", "aac", true, "aac"},
                                           TToneSource{"OpusInMkv", "tone.mkv", "libopus", true, "opus"},
                                           TToneSource{"Mp2InTs", "tone.ts", "mp2", false, "aac"},
                                           TToneSource{"PcmInMov", "tone.mov", "pcm_s16le", false, "aac"},
                                           // Browsers play no AC-3 and start copied MP3 early; neither plays ALAC.
                                           TToneSource{"Ac3InTs", "tone-ac3.ts", "ac3", false, "aac"},
                                           TToneSource{"Eac3InMkv", "tone-eac3.mkv", "eac3", false, "aac"},
                                           TToneSource{"Mp3InMp4", "tone-mp3.mp4", "libmp3lame", false, "aac"},
                                           TToneSource{"AlacInMov", "tone-alac.mov", "alac", false, "aac"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- why a copy falls back

struct TFallbackCase {
    const char* Name;
    const char* File;
    // The ffmpeg command line's video options, over 4 s of testsrc2 at 25 fps,
    // or over a test movie turned 90 degrees (its display matrix kept).
    const char* Encode;
    bool Turned;
    int Start, End;
    const char* Reason;  // a part of the notice's first sentence
    // The MP4 clip's colour description (matrix primaries transfer range),
    // and the sentence on it in the notice ("" for none).
    const char* Colour;
    const char* ColourNote;
};
void PrintTo(const TFallbackCase& c, std::ostream* os) { *os << c.Name; }

class CopyFallback : public CopyTest, public ::testing::WithParamInterface<TFallbackCase> {};

// Luma PSNR of the clip's frames against the source's frames start .. end - 1,
// both as the ffmpeg command line decodes them (turned as shown) in 8 bits, in
// their own matrices: -1 when it can not tell.
double ClipLumaPsnr(const std::string& clip, const std::string& src, int start, int end) {
    std::string text;
    rendertest::Run("ffmpeg -nostdin -i '" + clip + "' -i '" + src + "' -lavfi \"[1:v]select='between(n," +
                        std::to_string(start) + "," + std::to_string(end - 1) +
                        ")',setpts=N/25/TB,format=yuv420p[r];[0:v]setpts=N/25/TB,format=yuv420p[o];[o][r]psnr\" -f null - 2>&1",
                    &text);
    const auto at = text.find("PSNR y:");
    return at == std::string::npos ? -1 : std::stod(text.substr(at + 7));
}

// A source that can not be copied gets a notice that names the real reason,
// and the MP4 mode's clip of the range, which keeps the source's colour
// description (in 8 bits) and says so when the source is HDR or deeper.
TEST_P(CopyFallback, NoticeNamesTheReasonAndTheClipKeepsTheColours) {
    const TFallbackCase& c = GetParam();
    const std::string src = Dir + "/" + c.File, out = Dir + "/fallback.mp4";
    std::string input = "-f lavfi -i testsrc2=s=160x120:r=25:d=4";
    if (c.Turned) {
        testmovie::TMovieSpec turned = H264("mov", "");
        turned.Rotation = 90;
        testmovie::MakeTestMovie(Dir + "/turned.mov", turned);
        input = "-noautorotate -i '" + Dir + "/turned.mov'";
    }
    ASSERT_EQ(rendertest::Run("ffmpeg -nostdin -v error -y " + input + " " + c.Encode + " '" + src + "'"), 0);
    const media::TCopyPlan plan = media::PlanCopy(src, c.Start, c.End);
    ASSERT_FALSE(plan.CanCopy);
    EXPECT_NE(plan.Why.find(c.Reason), std::string::npos) << plan.Why;
    if (*c.ColourNote) {
        EXPECT_NE(plan.FallbackColour.find(c.ColourNote), std::string::npos) << plan.FallbackColour;
    } else {
        EXPECT_EQ(plan.FallbackColour, "");
    }
    TNoticeHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, kRate, c.Start, c.End,
                           TClipFormat::Copy))
        << host.FailureReason.toStdString();
    ASSERT_EQ(host.Notices.size(), 1);
    EXPECT_EQ(host.Notices[0], CopyFallbackNotice(plan.Why) + QString::fromStdString(plan.FallbackColour));
    const auto streams = rendertest::Probe(out);
    ASSERT_FALSE(streams.empty());
    const auto& v = streams[0];
    EXPECT_EQ(Str(v, "codec_type"), "video");
    EXPECT_EQ(Num(v, "nb_read_frames"), c.End - c.Start);
    EXPECT_EQ(Str(v, "color_space") + " " + Str(v, "color_primaries") + " " + Str(v, "color_transfer") + " " +
                  Str(v, "color_range"),
              c.Colour);
    if (c.Turned) {
        EXPECT_EQ(Num(v, "width"), 120);
        EXPECT_EQ(Num(v, "height"), 160);
    }
    if (*c.ColourNote) {
        // The same pictures in the same matrix: no conversion lost on the way.
        EXPECT_GE(ClipLumaPsnr(out, src, c.Start, c.End), 38.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CopyFallback,
    ::testing::Values(
        // Key frames that are I pictures, not IDR pictures, with B-frames leaning across them.
        TFallbackCase{"OpenGop", "open.mp4", "-c:v libx264 -preset veryfast -bf 2 -x264-params keyint=25:open-gop=1", false,
                      30, 80, "open groups of pictures", "bt709 bt709 bt709 tv", ""},
        // No key picture after the first: a column of each frame is coded on its own in turn.
        TFallbackCase{"IntraRefresh", "refresh.mp4", "-c:v libx264 -preset veryfast -bf 0 -x264-params keyint=25:intra-refresh=1",
                      false, 30, 80, "intra refresh", "bt709 bt709 bt709 tv", ""},
        // A phone's HDR movie: HEVC in 10 bits, BT.2020 and HLG, hvc1 in MOV, turned 90 degrees.
        TFallbackCase{"HlgHevcTenBitInsideOneGroup", "hlg.mov",
                      "-pix_fmt yuv420p10le -c:v libx265 -x265-params log-level=error:keyint=50:min-keyint=50 "
                      "-color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc -color_range tv -tag:v hvc1",
                      true, 10, 30, "inside one group", "bt2020nc bt2020 arib-std-b67 tv",
                      "(BT.2020, HLG, 10 bits) in 8 bits; the HDR pictures are not tone-mapped"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- variable rate

struct TVariableRateCase {
    const char* Name;
    int Start, End;  // frame numbers at the stated rate
};
void PrintTo(const TVariableRateCase& c, std::ostream* os) { *os << c.Name; }

// The length of every track's edit (the span a player shows), in seconds, as
// the command line's MP4 reader reports it.
std::vector<double> EditListSeconds(const std::string& path) {
    std::string text;
    rendertest::Run("ffprobe -v trace '" + path + "' 2>&1", &text);
    std::vector<double> lengths;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("] duration=");
        if (at == std::string::npos || line.find(" time=") == std::string::npos) continue;
        lengths.push_back(std::stod(line.substr(at + 11)) / 1000);  // the MP4 writer's movie clock: milliseconds
    }
    return lengths;
}

class CopyVariableRate : public CopyTest, public ::testing::WithParamInterface<TVariableRateCase> {};

// A variable-rate source (pictures lasting 1, 0.5, 1.5 and 1 periods at 120
// frames per second, each packet claiming one tick of 1/240 s): the copy holds
// the pictures on screen from the start up to the one on screen at the end,
// each shown until the next, and the sound lasts as long as the pictures.
TEST_P(CopyVariableRate, HoldsThePicturesOnScreenAndEndsWithItsSound) {
    const TVariableRateCase& c = GetParam();
    constexpr double kFast = 120;
    const std::string& src = Source("H264VariableRateMp4");
    // The picture on screen at frame n of the stated rate.
    auto pictureAt = [](int n) {
        int p = 0;
        while (testmovie::VariableRateStart(p + 1) <= n) ++p;
        return p;
    };
    const int first = pictureAt(c.Start), end = pictureAt(c.End);
    const media::TCopyPlan plan = media::PlanCopy(src, c.Start, c.End);
    ASSERT_TRUE(plan.CanCopy) << plan.Why;
    EXPECT_EQ(plan.Frames, end - first);
    EXPECT_GT(plan.CopiedFrames, 0);

    const std::string out = Dir + "/vfr.mp4";
    TNoticeHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, kFast, c.Start, c.End,
                           TClipFormat::Copy))
        << host.FailureReason.toStdString();
    EXPECT_TRUE(host.Notices.isEmpty());
    EXPECT_EQ(StrictDecodeProblem(out), "");
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_EQ(decoded.FrameNumbers, Range(first, end));
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    // What players show: each track's edit list, in the movie's milliseconds.
    const double length = (testmovie::VariableRateStart(end) - testmovie::VariableRateStart(first)) / kFast;
    const std::vector<double> shown = EditListSeconds(out);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NEAR(shown[0], length, 1.5e-3);
    ASSERT_GT(decoded.AudioRate, 0);
    const double aacFrame = 1024.0 / decoded.AudioRate;
    EXPECT_NEAR(double(decoded.AudioSamples) / decoded.AudioRate, length, aacFrame + 1e-3);
    EXPECT_NEAR(shown[1], shown[0], aacFrame + 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Ranges, CopyVariableRate,
                         ::testing::Values(TVariableRateCase{"AcrossTwoKeyFrames", 121, 241},
                                           TVariableRateCase{"AcrossThreeKeyFrames", 97, 263}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Real variable-rate movies whose last packet claims one tick of 1/600 s: a
// position is a picture, so the clip holds the range's pictures, up to the
// movie's last one, the MP4 clip of the same range as many.
TEST_F(CopyTest, RealVariableRateSamplesEndWhereTheRangeEnds) {
    struct TSampleCase {
        const char* File;
        double Rate;
        int Start, End, Pictures;
    };
    // sio_awesome_movie.mov: 123 pictures, 30 and then 15 per second, the last at 7.278 s and
    // shown until 7.345 s.
    const TSampleCase cases[] = {{"sio_awesome_movie.mov", 24600.0 / 1469, 40, 122, 82},
                                 {"sio_awesome_movie.mov", 24600.0 / 1469, 40, 124, 83}};
    int tried = 0;
    for (const auto& c : cases) {
        const fs::path src = fs::path(FW_MEDIA_SAMPLES) / c.File;
        if (!fs::exists(src)) continue;
        ++tried;
        SCOPED_TRACE(std::string(c.File) + " " + std::to_string(c.Start) + ".." + std::to_string(c.End));
        const media::TCopyPlan plan = media::PlanCopy(src.string(), c.Start, c.End);
        ASSERT_TRUE(plan.CanCopy) << plan.Why;
        EXPECT_EQ(plan.Frames, c.Pictures);
        const std::string out = Dir + "/sample.mp4";
        TNoticeHost host;
        ASSERT_TRUE(RenderClip(host, QString::fromStdString(src.string()), QString::fromStdString(out), 0, 0, 0, c.Rate,
                               c.Start, c.End, TClipFormat::Copy))
            << host.FailureReason.toStdString();
        const auto streams = rendertest::Probe(out);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(Num(streams[0], "nb_read_frames"), c.Pictures);
        const std::vector<double> shown = EditListSeconds(out);
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_NEAR(shown[1], shown[0], 1024.0 / Num(streams[1], "sample_rate") + 1e-3);
        const std::string mp4 = Dir + "/sample-reencoded.mp4";
        ASSERT_TRUE(RenderClip(host, QString::fromStdString(src.string()), QString::fromStdString(mp4), 0, 0, 0, c.Rate,
                               c.Start, c.End, TClipFormat::Mp4))
            << host.FailureReason.toStdString();
        EXPECT_EQ(Num(rendertest::Probe(mp4)[0], "nb_read_frames"), c.Pictures);
    }
    if (tried == 0) GTEST_SKIP() << "no variable-rate samples in " << FW_MEDIA_SAMPLES;
}

// ------------------------------------------------------------- the graph

// The clip the clip job hands the engine for a copy of frames start .. end - 1.
media::TRenderClip CopyClip(const std::string& src, int start, int end) {
    media::TRenderClip clip;
    clip.Source = src;
    clip.FirstFrame = start;
    clip.EndFrame = end;
    clip.FrameRate = kRate;
    clip.Sound = media::TRenderClip::TSound::Encoder;
    return clip;
}

media::TOutputSpec CopySpec(const std::string& out) {
    media::TOutputSpec spec;
    spec.FileName = out;
    spec.Format = media::TOutputFormat::Copy;
    return spec;
}

// What a clip job told, in order.
struct TJobLog {
    std::mutex Mutex;
    std::vector<media::TJobPlan> Plans;
    std::vector<media::TJobProgress> Progress;
    media::TJobEnd End;

    media::TJobEvents Events() {
        media::TJobEvents e;
        e.Plan = [this](const media::TJobPlan& p) { std::lock_guard l(Mutex); Plans.push_back(p); };
        e.Progress = [this](const media::TJobProgress& p) { std::lock_guard l(Mutex); Progress.push_back(p); };
        e.End = [this](const media::TJobEnd& end) { std::lock_guard l(Mutex); End = end; };
        return e;
    }
    int64_t LastDone() { std::lock_guard l(Mutex); return Progress.empty() ? 0 : Progress.back().Done; }
};

media::TClipJobSpec CopyJobSpec(const std::string& src, const std::string& out, int start, int end) {
    media::TClipJobSpec spec;
    spec.Source = src;
    spec.FirstFrame = start;
    spec.EndFrame = end;
    spec.FrameRate = kRate;
    spec.Output = CopySpec(out);
    return spec;
}

// The job carries out the plan PlanCopy gives, and its progress reaches the
// clip's frames when it is done.
TEST_F(CopyTest, GraphFollowsThePlanAndItsPositionReachesTheClipsLength) {
    const std::string src = Source("H264Mp4"), out = Dir + "/graph.mp4";
    const media::TCopyPlan plan = media::PlanCopy(src, 13, 88);
    ASSERT_TRUE(plan.CanCopy) << plan.Why;
    TJobLog log;
    auto job = media::StartClipJob(CopyJobSpec(src, out, 13, 88), log.Events());
    job->Wait();
    ASSERT_EQ(log.End.Outcome, media::TJobEnd::Done) << log.End.Error;
    ASSERT_EQ(log.Plans.size(), 1u);
    const media::TJobPlan& running = log.Plans[0];
    EXPECT_TRUE(running.CanCopy);
    EXPECT_EQ(running.HeadFrames, plan.HeadFrames);
    EXPECT_EQ(running.CopiedFrames, plan.CopiedFrames);
    EXPECT_EQ(running.TailFrames, plan.TailFrames);
    EXPECT_EQ(running.Frames, 75);
    ASSERT_FALSE(log.Progress.empty());
    EXPECT_EQ(log.Progress.back().Total, 75);
    EXPECT_EQ(log.Progress.back().Done, log.Progress.back().Total);
    EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, Range(13, 88));
}

// BuildRender refuses what PlanCopy refuses, with its sentence, and makes no file.
TEST_F(CopyTest, BuildRefusesWhatCanNotBeCopiedAndWritesNothing) {
    for (const auto& [kind, start, end] : {std::tuple{"H264Mp4", 30, 45}, std::tuple{"Mpeg4Avi", 13, 88}}) {
        SCOPED_TRACE(kind);
        const std::string src = Source(kind), out = Dir + "/refused.mp4";
        const media::TCopyPlan plan = media::PlanCopy(src, start, end);
        ASSERT_FALSE(plan.CanCopy);
        try {
            media::BuildRender(CopyClip(src, start, end), CopySpec(out));
            ADD_FAILURE() << "BuildRender took a source PlanCopy refuses";
        } catch (const media::MediaError& e) {
            EXPECT_EQ(std::string(e.what()), plan.Why);
        }
        EXPECT_FALSE(fs::exists(out));
    }
}

// Bytes this process has read from files so far (rchar of /proc/self/io); -1
// where the system does not tell.
int64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    int64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

// Planning a copy of a long movie reads all of it (the packets of a clip of
// the whole movie; Matroska and MPEG-TS also have every picture listed for
// the frame clock), and a raised cancel flag ends it before that: the plan
// comes back marked stopped, having read a small part of what the full plan
// reads. The same flag lowered changes nothing.
TEST_F(CopyTest, PlanningEndsEarlyWhenCancelled) {
    constexpr int kFrames = 3000;
    for (const auto& [container, ext] : {std::pair{"mp4", "mp4"}, std::pair{"matroska", "mkv"}, std::pair{"mpegts", "ts"}}) {
        SCOPED_TRACE(container);
        testmovie::TMovieSpec s = H264(container, "");
        s.Frames = kFrames;
        s.GopSize = 100;
        s.MaxBFrames = 0;
        // Big pictures, so that the file is large against what opening it reads.
        s.BitRate = 4000000;
        const std::string src = Dir + "/long." + ext;
        testmovie::MakeTestMovie(src, s);
        const int64_t size = int64_t(fs::file_size(src));

        std::atomic<bool> cancel{false};
        int64_t before = BytesRead();
        const media::TCutPoints whole = media::PlanCut(src, 0, kFrames, &cancel);
        const int64_t wholeRead = BytesRead() - before;
        EXPECT_FALSE(whole.Cancelled);
        ASSERT_TRUE(whole.Plan.CanCopy) << whole.Plan.Why;
        EXPECT_EQ(whole.Plan.Frames, kFrames);
        EXPECT_EQ(whole.Plan.CopiedFrames, kFrames);

        cancel = true;
        before = BytesRead();
        const media::TCutPoints stopped = media::PlanCut(src, 0, kFrames, &cancel);
        const int64_t stoppedRead = BytesRead() - before;
        EXPECT_TRUE(stopped.Cancelled);
        EXPECT_FALSE(stopped.Plan.CanCopy);
        EXPECT_EQ(stopped.Plan.Why, "Planning the copy was stopped.");
        EXPECT_TRUE(stopped.CopiedPts.empty());
        const media::TCopyPlan copy = media::PlanCopy(src, 0, kFrames, &cancel);
        EXPECT_FALSE(copy.CanCopy);
        EXPECT_EQ(copy.Why, stopped.Plan.Why);
        if (before >= 0) {
            // Opening the file (several times: the rate check, the first
            // picture, the clock) reads the same amount either way; the MP4
            // index grows with the movie, and is the most of it here.
            EXPECT_GE(wholeRead, size);
            EXPECT_LT(stoppedRead, wholeRead / 3) << "of " << size << " bytes";
        }
    }
}

// A stop part-way (here in the re-encoded head) leaves a finished file that
// decodes without an error and holds the clip's first frames.
TEST_F(CopyTest, StopPartWayLeavesAPlayableFile) {
    testmovie::TMovieSpec s = H264("mp4", "aac");
    s.Frames = 300;
    s.GopSize = 200;
    const std::string src = Dir + "/long.mp4", out = Dir + "/stopped.mp4";
    testmovie::MakeTestMovie(src, s);
    TJobLog log;
    auto job = media::StartClipJob(CopyJobSpec(src, out, 1, 300), log.Events());
    // Stop once the first frames are written.
    while (!job->Ended() && log.LastDone() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    job->Cancel();
    job->Wait();
    ASSERT_EQ(log.Plans.size(), 1u);
    ASSERT_TRUE(log.Plans[0].CanCopy) << log.Plans[0].Why;
    ASSERT_EQ(log.Plans[0].HeadFrames, 199);
    ASSERT_NE(log.End.Outcome, media::TJobEnd::Failed) << log.End.Error;
    EXPECT_EQ(log.End.Outcome, media::TJobEnd::Stopped) << "the stop came after the end; nothing stopped";
    EXPECT_EQ(StrictDecodeProblem(out), "");
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    ASSERT_FALSE(decoded.FrameNumbers.empty());
    EXPECT_LT(decoded.FrameNumbers.size(), 299u);
    EXPECT_EQ(decoded.FrameNumbers, Range(1, 1 + int(decoded.FrameNumbers.size())));
    const std::string gst = rendertest::GstPlayProblem(out);
    if (gst != "skip") {
        EXPECT_EQ(gst, "");
    }
}

// A file below a regular file can not be made: a clear failure, no file, and
// the regular file unchanged.
TEST_F(CopyTest, UnwritablePlaceFailsClearlyAndLeavesNothing) {
    const std::string src = Source("H264Mp4");
    const std::string blocker = Dir + "/plain";
    std::ofstream(blocker) << "keep";
    const std::string out = blocker + "/out.mp4";
    TNoticeHost host;
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, kRate, 13, 88,
                            TClipFormat::Copy));
    EXPECT_EQ(host.Failures, 1);
    EXPECT_EQ(host.FailureMessage.toStdString(), "Fail to make clip " + out);
    EXPECT_NE(host.FailureReason.toStdString().find("can not be created"), std::string::npos)
        << host.FailureReason.toStdString();
    EXPECT_TRUE(host.Notices.isEmpty());
    EXPECT_FALSE(fs::exists(out));
    std::ifstream in(blocker);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
}

}  // namespace

// ------------------------------------------------------------- real movies

// Every real sample movie, cut from 30 % to 80 % of its length: a copy of the
// ones that qualify holds the plan's frames, the copied ones byte for byte as
// a plain decode of the movie shows them, the re-encoded ones close to it, and
// decodes without an error; the others fall back or fail with a sentence.
TEST_F(CopyTest, RealSamplesCopyExactlyOrSayWhyNot) {
    const fs::path dir(FW_MEDIA_SAMPLES);
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no samples in " << FW_MEDIA_SAMPLES;
    int copied = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string src = entry.path().string();
        const std::string ext = entry.path().extension().string();
        if (ext == ".tsv" || ext == ".txt") continue;
        SCOPED_TRACE(entry.path().filename().string());
        // The movie's positions, as the window has them.
        media::TMovieReader reader;
        const bool opened = reader.Open(src);
        const double rate = opened && reader.Facts().FrameRate > 0 ? reader.Facts().FrameRate : 25;
        const int64_t frames = opened ? reader.Facts().FrameCount : 0;
        // A movie without positions is still asked for its first frame: it is refused with a sentence.
        std::vector<std::pair<int, int>> ranges{{int(frames * 3 / 10), std::max(1, int(frames * 8 / 10))}};
        // Real footage whose re-encoded frames fell to 38.5 dB luma at x264 CRF 16: frames 100 to 200 of 25 fps.
        if (entry.path().filename() == "hach_flashmob.mkv") ranges.emplace_back(100, 200);
        for (const auto& [start, end] : ranges) {
            SCOPED_TRACE(std::to_string(start) + ".." + std::to_string(end));
            media::TCopyPlan plan;
            try {
                plan = media::PlanCopy(src, start, end);
            } catch (const media::MediaError& e) {
                EXPECT_FALSE(std::string(e.what()).empty());
                continue;
            }
            if (!plan.CanCopy) {
                EXPECT_EQ(plan.Why.back(), '.') << plan.Why;
                continue;
            }
            ++copied;
            const std::string out = Dir + "/" + entry.path().stem().string() + ".mp4";
            TNoticeHost host;
            ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, rate, start, end,
                                   TClipFormat::Copy))
                << host.FailureReason.toStdString();
            EXPECT_TRUE(host.Notices.isEmpty());
            EXPECT_EQ(StrictDecodeProblem(out), "");
            const auto srcPictures = DecodePictures(src);
            const auto outPictures = DecodePictures(out);
            ASSERT_EQ(outPictures.size(), size_t(plan.Frames));
            ASSERT_GT(plan.CopiedFrames, 0);
            // Where the copied part lies in the movie: its first picture.
            const size_t firstCopied = size_t(plan.HeadFrames);
            const auto at = std::find_if(srcPictures.begin(), srcPictures.end(),
                                         [&](const TPicture& p) { return p.Bytes == outPictures[firstCopied].Bytes; });
            ASSERT_NE(at, srcPictures.end()) << "the first copied picture is not one of the movie's";
            const ptrdiff_t offset = (at - srcPictures.begin()) - ptrdiff_t(firstCopied);
            ASSERT_GE(offset, 0);
            ASSERT_LE(size_t(offset) + outPictures.size(), srcPictures.size());
            for (size_t i = 0; i < outPictures.size(); ++i) {
                const TPicture& s = srcPictures[size_t(offset) + i];
                if (i >= firstCopied && i < firstCopied + size_t(plan.CopiedFrames)) {
                    EXPECT_TRUE(outPictures[i].Bytes == s.Bytes) << "copied frame " << i;
                } else {
                    EXPECT_GE(Psnr(s, outPictures[i]), 40.0) << "re-encoded frame " << i;
                    EXPECT_GE(Psnr(s, outPictures[i], true), 40.0) << "re-encoded frame " << i << " (luma)";
                }
            }
        }
    }
    EXPECT_GE(copied, 1) << "no sample qualified for a copy";
}
