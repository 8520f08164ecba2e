// Writing a copy (media/CopyCut.h): the output's streams, the copied
// packets, and the frames around the cut re-encoded with the source's codec.
#include "media/CopyBitstream.h"
#include "media/CopyCut.h"
#include "media/CopyCutParts.h"
#include "media/FrameDecoder.h"
#include "media/InputFile.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <iterator>

namespace media {

using namespace copycut;

namespace copycut {

const AVCodec* SameCodecEncoder(const AVCodecParameters* par) {
    return avcodec_find_encoder_by_name(IsHevc(par) ? "libx265" : "libx264");
}

}  // namespace copycut

namespace {

const char* X264Profile(int profile) {
    switch (profile & ~(FF_PROFILE_H264_CONSTRAINED | FF_PROFILE_H264_INTRA)) {
        case FF_PROFILE_H264_BASELINE: return "baseline";
        case FF_PROFILE_H264_MAIN: return "main";
        case FF_PROFILE_H264_HIGH: return "high";
        case FF_PROFILE_H264_HIGH_10: return "high10";
        case FF_PROFILE_H264_HIGH_422: return "high422";
        case FF_PROFILE_H264_HIGH_444_PREDICTIVE: return "high444";
        default: return nullptr;
    }
}

const char* X265Profile(int profile) {
    switch (profile) {
        case FF_PROFILE_HEVC_MAIN: return "main";
        case FF_PROFILE_HEVC_MAIN_10: return "main10";
        default: return nullptr;  // range extensions: x265 picks by pixel format
    }
}

// An encoder for the frames around the cut: the source's codec, profile,
// level, size, pixel format, colour tags and pixel shape, at a quality well
// above what the eye tells from the source. Measured on real footage
// (hach_flashmob.mkv, frames 100 to 160), the worst frame's luma PSNR against
// the source: x264 veryfast CRF 16 38.5 dB, faster CRF 14 41.0 dB (9 % more
// bytes, as fast); x265 faster CRF 18 36.2 dB, CRF 12 41.0 dB (75 % more
// bytes for the few frames around the cut). The copy promises 40 dB.
// ownId >= 0 (H.264): the parameter sets go to the extradata only, under that number.
AvCodecContextPtr OpenSameCodecEncoder(const AVStream* st, const AVFrame* f, const TFrameClock& clock, int ownId) {
    const AVCodecParameters* par = st->codecpar;
    const bool hevc = IsHevc(par);
    const AVCodec* codec = SameCodecEncoder(par);
    if (!codec) throw MediaError(std::string("The encoder ") + (hevc ? "libx265" : "libx264") + " is not available in this installation.");
    AvCodecContextPtr enc(avcodec_alloc_context3(codec));
    if (!enc) throw std::bad_alloc();
    enc->width = f->width;
    enc->height = f->height;
    enc->pix_fmt = static_cast<AVPixelFormat>(f->format);
    enc->time_base = clock.TimeBase;
    enc->framerate = clock.Rate;
    enc->sample_aspect_ratio = f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : par->sample_aspect_ratio;
    enc->color_range = f->color_range != AVCOL_RANGE_UNSPECIFIED ? f->color_range : par->color_range;
    enc->color_primaries = f->color_primaries != AVCOL_PRI_UNSPECIFIED ? f->color_primaries : par->color_primaries;
    enc->color_trc = f->color_trc != AVCOL_TRC_UNSPECIFIED ? f->color_trc : par->color_trc;
    enc->colorspace = f->colorspace != AVCOL_SPC_UNSPECIFIED ? f->colorspace : par->color_space;
    enc->chroma_sample_location = par->chroma_location;
    enc->field_order = AV_FIELD_PROGRESSIVE;
    if (par->level > 0 && !hevc) enc->level = par->level;
    std::string params;
    if (hevc) {
        if (const char* p = X265Profile(par->profile)) av_opt_set(enc->priv_data, "profile", p, 0);
        av_opt_set(enc->priv_data, "preset", "faster", 0);
        av_opt_set(enc->priv_data, "crf", "12", 0);
        // No sample adaptive offset: x265 fills part of its statistics from
        // memory it never set, so the same frames would not always give the
        // same stream.
        params = "log-level=error:open-gop=0:sao=0";
        // hvc1: the sets go to the extradata only (renumbered by THevcRenumber).
        if (ownId >= 0) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (par->level > 0) params += ":level-idc=" + std::to_string(par->level / 30) + "." + std::to_string(par->level % 30 / 3);
        av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0);
    } else {
        if (const char* p = X264Profile(par->profile)) av_opt_set(enc->priv_data, "profile", p, 0);
        av_opt_set(enc->priv_data, "preset", "faster", 0);
        av_opt_set(enc->priv_data, "crf", "14", 0);
        if (ownId >= 0) {
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            av_opt_set(enc->priv_data, "x264-params", ("sps-id=" + std::to_string(ownId)).c_str(), 0);
        }
    }
    const int rc = avcodec_open2(enc.get(), codec, nullptr);
    if (rc < 0)
        throw MediaError(std::string("The frames around the cut can not be re-encoded with ") + codec->name + " (" +
                         std::to_string(f->width) + " x " + std::to_string(f->height) + ", " +
                         (av_get_pix_fmt_name(enc->pix_fmt) ? av_get_pix_fmt_name(enc->pix_fmt) : "?") +
                         "): " + AvErrorText(rc));
    return enc;
}

}  // namespace

// ------------------------------------------------------------------ video

std::unique_ptr<TCopyVideo> MakeCopyVideo(const TCutPoints& cut, AVFormatContext* out) {
    auto job = std::make_unique<TCopyVideo>();
    job->Cut = cut;
    job->In = TInputFile::Open(cut.Path);
    const AVStream* ist = job->In.Format->streams[cut.VideoStream];
    const AVCodecParameters* par = ist->codecpar;
    job->SourceTb = ist->time_base;

    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st) throw std::bad_alloc();
    CheckRc(avcodec_parameters_copy(st->codecpar, par), "Setting up the output stream");
    std::string hvc1Sets;  // hvc1: the sample entry's sets, with start codes
    if (IsHevc(par) && cut.OwnParameterSetId > 0) {
        // The re-encoder's sets, renumbered; a stream the renumbering can not
        // read keeps its sets in the stream (hev1).
        AvFramePtr shape = MakeFrame();
        shape->width = par->width;
        shape->height = par->height;
        shape->format = par->format;
        shape->sample_aspect_ratio = par->sample_aspect_ratio;
        AvCodecContextPtr probe = OpenSameCodecEncoder(ist, shape.get(), cut.Clock, cut.OwnParameterSetId);
        job->OwnParameterSets.assign(reinterpret_cast<const char*>(probe->extradata), size_t(probe->extradata_size));
        if (job->Renumber.Start(probe->extradata, size_t(probe->extradata_size), cut.OwnParameterSetId)) {
            for (int type = 32; type <= 34; ++type) {
                for (const auto& nal : cut.SourceSps)
                    if (NalType(true, uint8_t(nal[0])) == type) hvc1Sets += std::string("\0\0\0\1", 4) + nal;
                hvc1Sets += std::string("\0\0\0\1", 4) + job->Renumber.Sets()[size_t(type - 32)];
            }
        } else {
            job->Cut.OwnParameterSetId = -1;
        }
    }
    if (!IsHevc(par) && cut.OwnParameterSetId > 0) {
        // The re-encoder's parameter sets, from an encoder set up as the real ones will be.
        AvFramePtr shape = MakeFrame();
        shape->width = par->width;
        shape->height = par->height;
        shape->format = par->format;
        shape->sample_aspect_ratio = par->sample_aspect_ratio;
        AvCodecContextPtr probe = OpenSameCodecEncoder(ist, shape.get(), cut.Clock, cut.OwnParameterSetId);
        job->OwnParameterSets.assign(reinterpret_cast<const char*>(probe->extradata), size_t(probe->extradata_size));
        std::vector<std::string> sps = cut.SourceSps, pps = cut.SourcePps;
        ForEachNal(probe->extradata, size_t(probe->extradata_size), 0, [&](const uint8_t* nal, size_t len) {
            const int type = nal[0] & 0x1f;
            if (type == 7) sps.emplace_back(reinterpret_cast<const char*>(nal), len);
            if (type == 8) pps.emplace_back(reinterpret_cast<const char*>(nal), len);
        });
        if (sps.size() != cut.SourceSps.size() + 1 || pps.size() != cut.SourcePps.size() + 1)
            throw MediaError("The H.264 encoder gave no parameter sets for the frames around the cut.");
        const std::string record = AvcConfigRecord(sps, pps, par);
        av_freep(&st->codecpar->extradata);
        st->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!st->codecpar->extradata) throw std::bad_alloc();
        std::memcpy(st->codecpar->extradata, record.data(), record.size());
        st->codecpar->extradata_size = int(record.size());
    } else if (NalLengthSize(par) > 0) {
        const AVBitStreamFilter* filter = av_bsf_get_by_name(IsHevc(par) ? "hevc_mp4toannexb" : "h264_mp4toannexb");
        if (!filter) throw MediaError("This installation lacks the filter that turns the movie's pictures into a byte stream.");
        AVBSFContext* raw = nullptr;
        CheckRc(av_bsf_alloc(filter, &raw), "Setting up the copy");
        job->ToByteStream.reset(raw);
        CheckRc(avcodec_parameters_copy(raw->par_in, par), "Setting up the copy");
        raw->time_base_in = ist->time_base;
        CheckRc(av_bsf_init(raw), "Setting up the copy");
        // The sample entry describes the stream by the source's parameter sets, as start codes.
        CheckRc(avcodec_parameters_copy(st->codecpar, raw->par_out), "Setting up the output stream");
    }
    if (!hvc1Sets.empty()) {
        av_freep(&st->codecpar->extradata);
        st->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(hvc1Sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!st->codecpar->extradata) throw std::bad_alloc();
        std::memcpy(st->codecpar->extradata, hvc1Sets.data(), hvc1Sets.size());
        st->codecpar->extradata_size = int(hvc1Sets.size());
    }
    // Parameter sets in the sample entry (avc1), or in the stream, every part bringing its own.
    const bool ownSets = job->Cut.OwnParameterSetId > 0;
    st->codecpar->codec_tag = IsHevc(par) ? (ownSets ? MKTAG('h', 'v', 'c', '1') : MKTAG('h', 'e', 'v', '1'))
                              : ownSets   ? MKTAG('a', 'v', 'c', '1')
                                          : MKTAG('a', 'v', 'c', '3');
    st->time_base = ist->time_base;
    st->avg_frame_rate = cut.Clock.Rate;
    st->sample_aspect_ratio = ist->sample_aspect_ratio;
    size_t size = 0;
    if (const uint8_t* matrix = av_stream_get_side_data(ist, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
        uint8_t* copy = av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, size);
        if (!copy) throw std::bad_alloc();
        std::memcpy(copy, matrix, size);
    }
    job->Stream = st;
    return job;
}

namespace {

class TVideoWriter {
public:
    TVideoWriter(TCopyVideo& job, TShared& shared) : FJob(job), FShared(shared), FCut(&job.Cut) {}

    // Joined spans: the writer goes on with `cut`, whose first frame comes
    // `offset` ticks after the output's start. `joinedPts` are the output's
    // pictures' stamps (every span's, from 0) and `depth` the most any span
    // reorders: packet n decodes at joinedPts[n - depth], rising across the
    // joins and never after its own picture.
    void Continue(const TCutPoints& cut, int64_t offset, const std::vector<int64_t>* joinedPts, int64_t depth) {
        FCut = &cut;
        FOffset = offset;
        FJoinedPts = joinedPts;
        FDepth = depth;
    }

    // Writes a packet stamped in source ticks; the clip's first frame is 0.
    // lengthSize: how its NAL units are framed (0: start codes).
    void Write(AVPacket* pkt, int lengthSize) {
        if (FJob.Cut.OwnParameterSetId > 0 && !IsHevc(FJob.Stream->codecpar)) ToLengthPrefixed(pkt, lengthSize);
        // The n-th packet decodes at the time the clip's picture ReorderDepth
        // places before the n-th is shown: rising, never after its own
        // picture, and the decode times span exactly the clip's length.
        const TCutPoints& cut = *FCut;
        if (FJoinedPts) {
            WriteJoined(pkt);
            return;
        }
        const int64_t n = FWritten - cut.ReorderDepth;
        if (FWritten >= int64_t(cut.ClipPts.size())) throw MediaError("More pictures came out than the clip holds.");
        // Each picture lasts until the next one of the clip shows, the last
        // until the clip's end: the packets' own durations are not trusted
        // (placeholders in variable-rate sources), and the picture track ends
        // with the sound.
        const auto shown = std::lower_bound(cut.ClipPts.begin(), cut.ClipPts.end(), pkt->pts);
        if (shown != cut.ClipPts.end() && *shown == pkt->pts)
            pkt->duration = std::next(shown) != cut.ClipPts.end() ? *std::next(shown) - pkt->pts
                                                                  : std::max<int64_t>(1, cut.EndSecondsPts - pkt->pts);
        pkt->dts = n >= 0 ? cut.ClipPts[size_t(n)] : cut.ClipPts.front() + n * cut.Clock.FrameTicks;
        if (pkt->pts == AV_NOPTS_VALUE || pkt->dts > pkt->pts)
            throw MediaError("The pictures around the cut come in an order that can not be written.");
        ++FWritten;
        pkt->pts -= cut.StartPts;
        pkt->dts -= cut.StartPts;
        av_packet_rescale_ts(pkt, FJob.SourceTb, FJob.Stream->time_base);
        pkt->stream_index = FJob.Stream->index;
        FShared.Write(pkt);
    }

    // Write for joined spans: stamps from the span's start plus its offset.
    void WriteJoined(AVPacket* pkt) {
        const TCutPoints& cut = *FCut;
        const std::vector<int64_t>& all = *FJoinedPts;
        if (FWritten >= int64_t(all.size())) throw MediaError("More pictures came out than the clip holds.");
        const auto shown = std::lower_bound(cut.ClipPts.begin(), cut.ClipPts.end(), pkt->pts);
        if (shown != cut.ClipPts.end() && *shown == pkt->pts)
            pkt->duration = std::next(shown) != cut.ClipPts.end() ? *std::next(shown) - pkt->pts
                                                                  : std::max<int64_t>(1, cut.EndSecondsPts - pkt->pts);
        if (pkt->pts == AV_NOPTS_VALUE) throw MediaError("The pictures around the cut come in an order that can not be written.");
        pkt->pts = pkt->pts - cut.StartPts + FOffset;
        const int64_t n = FWritten - FDepth;
        pkt->dts = n >= 0 ? all[size_t(n)] : all.front() + n * cut.Clock.FrameTicks;
        if (pkt->dts > pkt->pts) throw MediaError("The pictures around the cut come in an order that can not be written.");
        ++FWritten;
        av_packet_rescale_ts(pkt, FJob.SourceTb, FJob.Stream->time_base);
        pkt->stream_index = FJob.Stream->index;
        FShared.Write(pkt);
    }

    // Decodes the frames stamped from..to-1 and encodes them as a part of
    // their own; false when stopped part-way (what was encoded is written).
    bool Reencode(int64_t from, int64_t to, int64_t expected) {
        const TCutPoints& cut = *FCut;
        const AVStream* st = FJob.In.Format->streams[cut.VideoStream];
        TFrameDecoder dec(FJob.In, cut.VideoStream, cut.Clock.FrameTicks, cut.Clock.Origin);
        const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : cut.Clock.Origin;
        AvFramePtr f = MakeFrame();
        bool have = dec.SeekTo(from, startTicks, f.get());
        if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
        // Pictures nothing refers to are not decoded on the way to the part.
        dec.SkipBefore(from);
        AvCodecContextPtr enc;
        auto write = [&](AVPacket* pkt) {
            if (pkt->duration <= 0) pkt->duration = cut.Clock.FrameTicks;
            if (cut.OwnParameterSetId > 0 && IsHevc(st->codecpar)) FJob.Renumber.Rewrite(pkt);
            Write(pkt, 0);
        };
        int64_t done = 0;
        bool stopped = false;
        while (have && f->pts < to) {
            if (FShared.ShouldEnd()) {
                stopped = true;
                break;
            }
            if (f->pts >= from) {
                if (!enc) {
                    enc = OpenSameCodecEncoder(st, f.get(), cut.Clock, cut.OwnParameterSetId);
                    if (enc->has_b_frames > kEncoderReorderDepth)
                        throw MediaError("The encoder for the frames around the cut reorders them more than expected.");
                    if (cut.OwnParameterSetId > 0 &&
                        std::string(reinterpret_cast<const char*>(enc->extradata), size_t(std::max(0, enc->extradata_size))) !=
                            FJob.OwnParameterSets)
                        throw MediaError("The encoder's parameter sets differ from the ones written for it.");
                }
                if (f->width != enc->width || f->height != enc->height || f->format != enc->pix_fmt)
                    throw MediaError("The movie's picture size or format changes next to the cut; it can not be re-encoded as one part.");
                f->pict_type = AV_PICTURE_TYPE_NONE;
                EncodeFrame(enc.get(), f.get(), write);
                ++done;
                ++FJob.FramesDone;
            }
            av_frame_unref(f.get());
            have = dec.Next(f.get());
        }
        if (dec.Cancelled()) stopped = true;
        if (enc) EncodeFrame(enc.get(), nullptr, write);
        if (!stopped && done != expected)
            throw MediaError("Only " + std::to_string(done) + " of the " + std::to_string(expected) +
                             " pictures next to the cut could be decoded.");
        return !stopped;
    }

    // Copies the planned packets as they are; false when stopped part-way.
    bool Copy() {
        const TCutPoints& cut = *FCut;
        AVFormatContext* fmt = FJob.In.Format.get();
        const AVStream* st = fmt->streams[cut.VideoStream];
        const bool hevc = IsHevc(st->codecpar);
        SeekAgain(FJob.In, cut.VideoStream, cut.ReadFromTicks);
        AvPacketPtr pkt = MakePacket();
        AvPacketPtr filtered = MakePacket();
        AVBSFContext* bsf = FJob.ToByteStream.get();
        if (bsf) av_bsf_flush(bsf);
        size_t j = 0;
        const size_t count = cut.CopiedPts.size();
        while (j < count) {
            if (FShared.ShouldEnd()) return false;
            if (av_read_frame(fmt, pkt.get()) < 0) throw MediaError("The movie ended before its copied part did; was it changed meanwhile?");
            // Before the copy's first picture, and its leading pictures after it: not copied.
            if (pkt->stream_index != cut.VideoStream || (j == 0 && pkt->pts != cut.CopyStartPts) ||
                (j > 0 && pkt->pts < cut.CopyStartPts)) {
                av_packet_unref(pkt.get());
                continue;
            }
            if (pkt->pts != cut.CopiedPts[j]) throw MediaError("The movie's packets differ from what was read before; was it changed meanwhile?");
            AVPacket* out = pkt.get();
            int lengthSize = 0;
            if (cut.OwnParameterSetId > 0 && !hevc) {
                lengthSize = NalLengthSize(st->codecpar);
            } else if (bsf) {
                CheckRc(av_bsf_send_packet(bsf, pkt.get()), "Copying the pictures");
                CheckRc(av_bsf_receive_packet(bsf, filtered.get()), "Copying the pictures");
                out = filtered.get();
            } else if (j == 0 && !HasNal(out, hevc, 0, IsSpsNal) && st->codecpar->extradata_size > 0) {
                // A byte stream whose first copied IDR lacks its parameter sets: put the stream's in front.
                const int extra = st->codecpar->extradata_size;
                CheckRc(av_packet_make_writable(out), "Copying the pictures");
                const int size = out->size;
                CheckRc(av_grow_packet(out, extra), "Copying the pictures");
                std::memmove(out->data + extra, out->data, size_t(size));
                std::memcpy(out->data, st->codecpar->extradata, size_t(extra));
            }
            if (cut.OwnParameterSetId > 0 && hevc) DropHevcParameterSets(out);
            if (j == 0 && hevc) MarkCraAsBla(out);
            out->pts = cut.CopiedPts[j];
            if (out->duration <= 0) out->duration = cut.Clock.FrameTicks;
            if (j == 0) out->flags |= AV_PKT_FLAG_KEY;
            Write(out, lengthSize);
            av_packet_unref(pkt.get());
            av_packet_unref(filtered.get());
            ++j;
            ++FJob.FramesDone;
        }
        return true;
    }

private:
    TCopyVideo& FJob;
    TShared& FShared;
    int64_t FWritten = 0;  // packets written
    const TCutPoints* FCut;  // the span being written
    int64_t FOffset = 0;
    const std::vector<int64_t>* FJoinedPts = nullptr;
    int64_t FDepth = 0;
};

}  // namespace

void RunCopyVideo(TCopyVideo& job, TShared& shared) {
    const TCutPoints& cut = job.Cut;
    TVideoWriter writer(job, shared);
    if (job.MoreCuts.empty()) {
        if (cut.Plan.HeadFrames > 0 && !writer.Reencode(cut.StartPts, cut.CopyStartPts, cut.Plan.HeadFrames)) return;
        if (!writer.Copy()) return;
        if (cut.Plan.TailFrames > 0) writer.Reencode(cut.CopyEndPts, cut.EndPts, cut.Plan.TailFrames);
        return;
    }
    // Joined spans: each smart-cut on its own, one after the other, their
    // stamps following on without a gap.
    std::vector<const TCutPoints*> cuts{&job.Cut};
    for (const auto& c : job.MoreCuts) cuts.push_back(&c);
    std::vector<int64_t> joinedPts, offsets;
    int64_t offset = 0, depth = 0;
    for (const TCutPoints* c : cuts) {
        offsets.push_back(offset);
        for (int64_t p : c->ClipPts) joinedPts.push_back(p - c->StartPts + offset);
        offset += c->EndSecondsPts - c->StartPts;
        depth = std::max(depth, c->ReorderDepth);
    }
    for (size_t i = 0; i < cuts.size(); ++i) {
        const TCutPoints& c = *cuts[i];
        writer.Continue(c, offsets[i], &joinedPts, depth);
        if (c.Plan.HeadFrames > 0 && !writer.Reencode(c.StartPts, c.CopyStartPts, c.Plan.HeadFrames)) return;
        if (!writer.Copy()) return;
        if (c.Plan.TailFrames > 0 && !writer.Reencode(c.CopyEndPts, c.EndPts, c.Plan.TailFrames)) return;
    }
}

// ------------------------------------------------------------------ audio

std::unique_ptr<TCopyAudio> MakeCopyAudio(const TCutPoints& cut, AVFormatContext* out) {
    auto job = std::make_unique<TCopyAudio>();
    job->Cut = cut;
    job->In = TInputFile::Open(cut.Path);
    const AVStream* ist = job->In.Format->streams[cut.AudioStream];
    job->SourceTb = ist->time_base;
    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st) throw std::bad_alloc();
    CheckRc(avcodec_parameters_copy(st->codecpar, ist->codecpar), "Setting up the output stream");
    st->codecpar->codec_tag = 0;
    st->time_base = ist->time_base;
    job->Stream = st;
    return job;
}

// The sound's packets that play during the clip, the first one starting at
// most one packet before the picture (the writer's edit list skips the
// difference), the last one reaching at most one packet past its end.
void RunCopyAudio(TCopyAudio& job, TShared& shared) {
    const TCutPoints& cut = job.Cut;
    AVFormatContext* fmt = job.In.Format.get();
    const int as = cut.AudioStream;
    const AVCodecParameters* par = fmt->streams[as]->codecpar;
    const double vtb = av_q2d(cut.Clock.TimeBase);
    const double atb = av_q2d(job.SourceTb);
    const int64_t from = std::llround(double(cut.StartPts) * vtb / atb);
    const int64_t to = std::llround(double(cut.EndSecondsPts) * vtb / atb);
    const int64_t frameTicks = par->frame_size > 0 && par->sample_rate > 0
                                   ? av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, job.SourceTb)
                                   : 0;
    SeekBefore(job.In, as, from);
    AvPacketPtr pkt = MakePacket();
    int64_t lastDts = std::numeric_limits<int64_t>::min();
    while (!shared.ShouldEnd()) {
        if (av_read_frame(fmt, pkt.get()) < 0) break;
        if (pkt->stream_index != as || (pkt->pts == AV_NOPTS_VALUE && pkt->dts == AV_NOPTS_VALUE)) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts == AV_NOPTS_VALUE) pkt->pts = pkt->dts;
        if (pkt->duration <= 0) pkt->duration = frameTicks;
        if (pkt->pts + std::max<int64_t>(pkt->duration, 1) <= from) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts >= to) break;
        pkt->pts -= from;
        pkt->dts = pkt->pts;
        if (pkt->dts <= lastDts) {
            av_packet_unref(pkt.get());  // a repeated or backward stamp: the packet is not played
            continue;
        }
        lastDts = pkt->dts;
        av_packet_rescale_ts(pkt.get(), job.SourceTb, job.Stream->time_base);
        pkt->stream_index = job.Stream->index;
        shared.Write(pkt.get());
        av_packet_unref(pkt.get());
    }
}

}  // namespace media
