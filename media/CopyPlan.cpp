// Planning a copy (media/CopyCut.h): the picture packets around the clip,
// read without decoding, give the cut points, or the sentence that says why
// nothing can be copied.
#include "media/CopyBitstream.h"
#include "media/HevcParameterSets.h"
#include "media/CopyCut.h"
#include "media/CopyCutParts.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <iterator>
#include <map>

namespace media {

using namespace copycut;

namespace copycut {

void SeekAgain(TInputFile& in, int stream, int64_t target) {
    AVFormatContext* fmt = in.Format.get();
    if (target != AV_NOPTS_VALUE) {
        int rc = avformat_seek_file(fmt, stream, INT64_MIN, target, target, 0);
        if (rc < 0) rc = av_seek_frame(fmt, stream, target, AVSEEK_FLAG_BACKWARD);
        if (rc >= 0) return;
    }
    if (!in.SeekToStart(stream)) throw MediaError("Seeking in the movie failed.");
}

int64_t SeekBefore(TInputFile& in, int stream, int64_t ticks) {
    AVFormatContext* fmt = in.Format.get();
    const AVStream* st = fmt->streams[stream];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, st->time_base));
    AvPacketPtr pkt = MakePacket();
    for (int k = 0; k < 6; ++k) {
        const int64_t target = ticks - (k == 0 ? 0 : second << (k - 1));
        if (target <= start) break;
        int rc = avformat_seek_file(fmt, stream, INT64_MIN, target, target, 0);
        if (rc < 0) rc = av_seek_frame(fmt, stream, target, AVSEEK_FLAG_BACKWARD);
        if (rc < 0) break;
        // The first packet of the stream from there must be a key frame at or before `ticks`.
        bool good = false;
        for (int n = 0; n < 10000; ++n) {
            if (av_read_frame(fmt, pkt.get()) < 0) break;
            const bool ours = pkt->stream_index == stream;
            good = ours && (pkt->flags & AV_PKT_FLAG_KEY) && pkt->pts != AV_NOPTS_VALUE && pkt->pts <= ticks;
            av_packet_unref(pkt.get());
            if (ours) break;
        }
        if (good) {
            SeekAgain(in, stream, target);
            return target;
        }
    }
    SeekAgain(in, stream, AV_NOPTS_VALUE);
    return AV_NOPTS_VALUE;
}

}  // namespace copycut

namespace {

// One packet of the picture stream as the planning read saw it.
struct TIndexEntry {
    int64_t Pts = 0;
    int64_t Duration = 0;
    bool Key = false;
    bool CopyStart = false;  // an IDR picture (HEVC: a random access point)
    bool WholePicture = false;  // coded on its own: an IDR or I picture (HEVC: a random access point)
    std::vector<std::string> ParameterSets;  // H.264 SPS and PPS in the packet
};

bool EncoderTakes(const AVCodec* codec, int format) {
    if (!codec->pix_fmts) return true;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

// Where the movie's last picture stops showing (ticks). Its packet's own
// duration is often a placeholder in variable-rate files (one tick of a 1/600 s
// clock), so the stream's stated end comes first; without one, a duration
// under half the gap before the picture is replaced by that gap.
int64_t LastPictureEnd(const AVStream* st, const std::vector<TIndexEntry>& index, const std::vector<int64_t>& sorted) {
    const int64_t last = sorted.back();
    const int64_t gap = sorted.size() > 1 ? last - sorted[sorted.size() - 2] : 0;
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
        const int64_t stated = (st->start_time != AV_NOPTS_VALUE ? st->start_time : 0) + st->duration;
        // A stated end far past the pictures belongs to another stream or a damaged header.
        if (stated > last && (gap <= 0 || stated - last <= 4 * gap)) return stated;
    }
    int64_t duration = 0;
    for (const auto& e : index)
        if (e.Pts == last) duration = e.Duration;
    if (gap > 0 && 2 * duration < gap) duration = gap;
    return last + std::max<int64_t>(duration, 1);
}

const char* PrimariesWords(AVColorPrimaries p) {
    switch (p) {
        case AVCOL_PRI_BT709: return "BT.709";
        case AVCOL_PRI_BT2020: return "BT.2020";
        case AVCOL_PRI_SMPTE432: return "Display P3";
        default: return av_color_primaries_name(p);
    }
}

const char* TransferWords(AVColorTransferCharacteristic t) {
    switch (t) {
        case AVCOL_TRC_ARIB_STD_B67: return "HLG";
        case AVCOL_TRC_SMPTE2084: return "PQ";
        case AVCOL_TRC_BT709: return "BT.709";
        default: return av_color_transfer_name(t);
    }
}

bool IsHdrTransfer(int trc) { return trc == AVCOL_TRC_ARIB_STD_B67 || trc == AVCOL_TRC_SMPTE2084; }
bool IsWideOrHdr(const AVCodecParameters* par) {
    return par->color_primaries == AVCOL_PRI_BT2020 || par->color_primaries == AVCOL_PRI_SMPTE432 ||
           IsHdrTransfer(par->color_trc) || par->color_space == AVCOL_SPC_BT2020_NCL || par->color_space == AVCOL_SPC_BT2020_CL;
}

// What the MP4 clip made instead of a copy does to the movie's colours (see
// TCopyPlan::FallbackColour): it writes 8 bits and maps no HDR picture to an
// ordinary screen.
std::string FallbackColourNote(const AVCodecParameters* par) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    const int depth = d ? d->comp[0].depth : 8;
    const std::string bits = std::to_string(depth) + " bits";
    if (!IsWideOrHdr(par)) return depth > 8 ? " Its pictures are written in 8 bits, not " + std::to_string(depth) + "." : "";
    std::string colours;
    auto add = [&](const char* word) {
        if (!word) return;
        colours += colours.empty() ? "" : ", ";
        colours += word;
    };
    if (par->color_primaries != AVCOL_PRI_UNSPECIFIED) add(PrimariesWords(par->color_primaries));
    if (par->color_trc != AVCOL_TRC_UNSPECIFIED) add(TransferWords(par->color_trc));
    if (depth > 8) add(bits.c_str());
    if (!FallbackKeepsColour(par))
        return " Its colours (" + colours + ") are written as BT.709 in 8 bits without being converted, so they look off.";
    return " Its colours keep their description (" + colours + ")" + (depth > 8 ? " in 8 bits" : "") +
           (IsHdrTransfer(par->color_trc) ? "; the HDR pictures are not tone-mapped, so screens without HDR show them flatter."
                                          : ".");
}

bool CopiesFrom(const AVInputFormat* f) {
    const std::string name = f->name;
    return name.find("mov") != std::string::npos || name.find("matroska") != std::string::npos || name == "mpegts";
}

}  // namespace

bool FallbackKeepsColour(const AVCodecParameters* par) {
    const int m = par->color_space;
    const bool scalerMakes = m == AVCOL_SPC_BT709 || m == AVCOL_SPC_BT470BG || m == AVCOL_SPC_SMPTE170M ||
                             m == AVCOL_SPC_BT2020_NCL;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    const bool yuv = d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && d->nb_components >= 3;
    return IsWideOrHdr(par) && scalerMakes && yuv;
}

TCutPoints PlanCut(const std::string& path, int64_t firstFrame, int64_t endFrameNumber,
                   const std::atomic<bool>* cancel) {
    TCutPoints cut;
    cut.Path = path;
    TCopyPlan& plan = cut.Plan;
    auto raised = [&] { return cancel && cancel->load(std::memory_order_relaxed); };
    auto stopped = [&] {
        TCutPoints none;
        none.Path = path;
        none.Cancelled = true;
        none.Plan.Why = "Planning the copy was stopped.";
        return none;
    };
    TInputFile in = TInputFile::Open(path);
    auto refuse = [&](const std::string& why) {
        plan.CanCopy = false;
        plan.Why = why;
        if (cut.VideoStream >= 0) plan.FallbackColour = FallbackColourNote(in.Format->streams[cut.VideoStream]->codecpar);
        return cut;
    };
    AVFormatContext* fmt = in.Format.get();
    const int vs = in.FirstVideoStream();
    cut.VideoStream = vs;
    cut.AudioStream = in.FirstAudioStream();
    plan.HasAudio = cut.AudioStream >= 0;
    if (plan.HasAudio) {
        const AVOutputFormat* mp4 = av_guess_format("mp4", nullptr, nullptr);
        const AVCodecParameters* apar = fmt->streams[cut.AudioStream]->codecpar;
        // Sound web browsers play out of MP4 as it is. Chromium plays no AC-3
        // or E-AC-3 (an HEVC + AC-3 clip does not even open), starts copied
        // MP3 early (it skips no encoder delay), and neither Chromium nor
        // Firefox plays ALAC: those are made AAC like any other sound.
        static constexpr AVCodecID kCopied[] = {AV_CODEC_ID_AAC, AV_CODEC_ID_OPUS};
        plan.AudioCopied = mp4 && std::find(std::begin(kCopied), std::end(kCopied), apar->codec_id) != std::end(kCopied) &&
                           avformat_query_codec(mp4, apar->codec_id, FF_COMPLIANCE_NORMAL) == 1 && apar->sample_rate > 0;
    }
    if (vs < 0) return refuse("The movie has no pictures to copy.");
    const AVStream* st = fmt->streams[vs];
    const AVCodecParameters* par = st->codecpar;
    const bool hevc = IsHevc(par);
    if (par->codec_id == AV_CODEC_ID_H264) plan.Codec = "h264";
    if (hevc) plan.Codec = "hevc";
    if (plan.Codec.empty()) {
        const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
        return refuse(std::string("The movie's pictures are ") + (d ? d->long_name : "of an unknown kind") +
                      "; only H.264 and HEVC pictures are copied.");
    }
    if (!CopiesFrom(fmt->iformat))
        return refuse("Pictures are copied only out of MP4, MOV, Matroska and MPEG transport stream files.");
    if (par->field_order != AV_FIELD_PROGRESSIVE && par->field_order != AV_FIELD_UNKNOWN)
        return refuse("The movie is interlaced; its pictures are not copied.");
    const AVCodec* encoder = SameCodecEncoder(par);
    if (!encoder)
        return refuse(std::string("This installation lacks the ") + (hevc ? "libx265" : "libx264") +
                      " encoder the frames around the cut need.");
    if (!EncoderTakes(encoder, par->format)) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
        return refuse(std::string("The movie's pixel format ") + (name ? name : "(unknown)") + " can not be re-encoded with " +
                      encoder->name + ".");
    }

    // The span's frames by the frame clock's rule, as stamps of the file.
    // A stopped listing leaves the clock without its list; the packet read
    // below looks at the flag before its first packet and ends there.
    cut.Clock = ListedClock(st, path, FirstFrameTicks(path, vs), cancel);
    const double mediaStop = cut.Clock.TimeOfFrame(endFrameNumber);
    const bool pastLast = cut.Clock.Variable() && endFrameNumber >= int64_t(cut.Clock.List->Times.size());
    const int64_t startTicks = cut.Clock.StampOf(cut.Clock.TicksOfFrame(firstFrame));
    // A range past the last picture reaches the movie's end.
    const int64_t stopTicks = pastLast ? std::numeric_limits<int64_t>::max() / 4
                                       : cut.Clock.StampOf(cut.Clock.TicksOfFrame(endFrameNumber));
    if (cut.Clock.Jumps() && cut.Clock.PieceOf(startTicks, -1) != cut.Clock.PieceOf(stopTicks, -1))
        return refuse("The movie's clock jumps inside the clip; its pictures can not be cut by their time stamps.");
    cut.ReadFromTicks = SeekBefore(in, vs, startTicks);

    // The picture packets from a key frame at or before the start to a little
    // past the end: enough that no frame of the clip comes later in the file.
    const int lengthSize = NalLengthSize(par);
    std::vector<TIndexEntry> index;
    bool eof = false;
    int pastEnd = 0;
    // Pictures come out of order by well under two seconds; a bigger step
    // back, or a gap of over a minute, is the clock jumping (recordings
    // joined end to end, a restarted transport stream).
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, st->time_base));
    int64_t highest = std::numeric_limits<int64_t>::min();
    AvPacketPtr pkt = MakePacket();
    for (int64_t packets = 0;; ++packets) {
        if (packets % kPlanCancelPackets == 0 && raised()) return stopped();
        if (av_read_frame(fmt, pkt.get()) < 0) {
            eof = true;
            break;
        }
        if (pkt->stream_index != vs) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts == AV_NOPTS_VALUE) return refuse("The movie's pictures carry no time stamps to cut by.");
        if (highest != std::numeric_limits<int64_t>::min() &&
            (pkt->pts < highest - 2 * second || pkt->pts > highest + 60 * second))
            return refuse("The movie's clock jumps near the clip; its pictures can not be cut by their time stamps.");
        highest = std::max(highest, pkt->pts);
        // No real picture lasts more than a minute; copied, such a duration would stretch the clip by it.
        if (pkt->duration > 60 * second)
            return refuse("The movie's pictures state durations of more than a minute; its time stamps are damaged.");
        TIndexEntry e;
        e.Pts = pkt->pts;
        e.Duration = pkt->duration > 0 ? pkt->duration : cut.Clock.FrameTicks;
        e.Key = pkt->flags & AV_PKT_FLAG_KEY;
        e.CopyStart = HasNal(pkt.get(), hevc, lengthSize, IsCopyStartNal);
        e.WholePicture = e.CopyStart;
        if (e.Key && !e.CopyStart && !hevc)
            ForEachNal(pkt->data, size_t(pkt->size), lengthSize, [&](const uint8_t* nal, size_t len) {
                if ((nal[0] & 0x1f) == 1 && IsIntraSlice(nal, len)) e.WholePicture = true;
            });
        ForEachNal(pkt->data, size_t(pkt->size), lengthSize, [&](const uint8_t* nal, size_t len) {
            if (hevc ? len >= 2 && IsHevcParameterSet(NalType(true, nal[0])) : IsH264ParameterSet(nal[0] & 0x1f))
                e.ParameterSets.emplace_back(reinterpret_cast<const char*>(nal), len);
        });
        av_packet_unref(pkt.get());
        index.push_back(e);
        if (e.Pts > stopTicks && ++pastEnd >= 64) break;
    }
    if (index.empty()) return refuse("No picture of the movie lies in the clip's range.");
    const size_t n = index.size();

    std::vector<int64_t> sorted;
    sorted.reserve(n);
    for (const auto& e : index) sorted.push_back(e.Pts);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return refuse("Two of the movie's pictures carry the same time stamp; the cut can not be trusted.");

    // The clip: the frame on screen at the start up to the one on screen at the end.
    auto lastAtOrBefore = [&](int64_t t) {
        auto it = std::upper_bound(sorted.begin(), sorted.end(), t);
        return it == sorted.begin() ? sorted.front() : *std::prev(it);
    };
    cut.StartPts = lastAtOrBefore(startTicks);
    const int64_t endFrame = lastAtOrBefore(stopTicks);
    const int64_t lastEnd = LastPictureEnd(st, index, sorted);
    const bool toTheEnd = eof && endFrame == sorted.back() && stopTicks >= lastEnd;
    if (toTheEnd) {
        // Pictures that end over a second before the length the file states
        // are missing (a damaged or cut-short file); the re-encoding path names them.
        const auto lastEntry = std::max_element(index.begin(), index.end(),
                                                [](const TIndexEntry& a, const TIndexEntry& b) { return a.Pts < b.Pts; });
        const double tb = av_q2d(st->time_base);
        const double picturesEnd = double(lastEntry->Pts + lastEntry->Duration - cut.Clock.Origin) * tb;
        double stated = 0;
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) stated = double(st->duration) * tb;
        else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0 && fmt->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
            stated = double(fmt->duration) / AV_TIME_BASE;
        if (stated > picturesEnd + 1.0 && mediaStop > picturesEnd + 1.0)
            return refuse("The movie's pictures end before the length its file states.");
    }
    cut.EndPts = toTheEnd ? kNoEnd : endFrame;
    cut.EndSecondsPts = toTheEnd ? lastEnd : endFrame;
    auto inClip = [&](int64_t pts) { return pts >= cut.StartPts && pts < cut.EndPts; };
    plan.Frames = std::count_if(sorted.begin(), sorted.end(), inClip);
    if (plan.Frames == 0) return refuse("No picture of the movie lies in the clip's range.");

    // The copy starts on the first IDR picture of the clip (HEVC: random
    // access point) that nothing before it shows later than, and that no
    // later packet shows earlier than, but for its own leading pictures
    // (HEVC: RASL and RADL pictures come right after it). Those are left out
    // of the copy; the head re-encodes them.
    std::vector<int64_t> suffixMin(n + 1);
    // Past the read packets everything shows later than the clip (they were
    // read until well past its end); only the file's end may end the copy there.
    suffixMin[n] = kNoEnd;
    for (size_t i = n; i-- > 0;) suffixMin[i] = std::min(suffixMin[i + 1], index[i].Pts);
    size_t k = n, leadingEnd = n;
    int64_t prefixMax = std::numeric_limits<int64_t>::min();
    bool keyInClip = false, wholeKeyInClip = false;
    for (size_t i = 0; i < n; ++i) {
        const TIndexEntry& e = index[i];
        keyInClip = keyInClip || (e.Key && inClip(e.Pts));
        wholeKeyInClip = wholeKeyInClip || (e.Key && e.WholePicture && inClip(e.Pts));
        if (e.CopyStart && inClip(e.Pts) && prefixMax < e.Pts) {
            size_t j = i + 1;
            if (hevc)
                while (j < n && index[j].Pts < e.Pts) ++j;
            if (suffixMin[j] > e.Pts) {
                k = i;
                leadingEnd = j;
                break;
            }
        }
        prefixMax = std::max(prefixMax, e.Pts);
    }
    if (k == n) {
        if (keyInClip && !wholeKeyInClip)
            return refuse("The movie refreshes its pictures a stripe at a time (intra refresh): its key frames in the "
                          "clip's range are recovery points whose picture is whole only some frames later, so no part of it "
                          "can be copied on its own.");
        if (keyInClip)
            return refuse("The movie's key frames in the clip's range are not IDR pictures (open groups of pictures), so "
                          "no part of it can be copied on its own.");
        return refuse("The clip lies inside one group of pictures: it holds no key frame to copy from.");
    }
    // The copy ends at the last packet boundary before which every packet is
    // in the clip and shows earlier than every packet after it.
    size_t end = leadingEnd;
    prefixMax = index[k].Pts;
    for (size_t i = leadingEnd; i <= n; ++i) {
        if (i > leadingEnd) prefixMax = std::max(prefixMax, index[i - 1].Pts);
        if (prefixMax >= cut.EndPts || (i == n && !eof)) break;
        if (prefixMax < suffixMin[i]) end = i;
    }
    cut.CopyStartPts = index[k].Pts;
    cut.CopyEndPts = suffixMin[end];
    cut.CopiedPts.push_back(index[k].Pts);
    for (size_t i = leadingEnd; i < end; ++i) cut.CopiedPts.push_back(index[i].Pts);
    plan.CopiedFrames = int64_t(cut.CopiedPts.size());
    plan.HeadFrames = std::count_if(sorted.begin(), sorted.end(), [&](int64_t p) { return inClip(p) && p < cut.CopyStartPts; });
    plan.TailFrames = std::count_if(sorted.begin(), sorted.end(), [&](int64_t p) { return inClip(p) && p >= cut.CopyEndPts; });
    if (plan.HeadFrames + plan.CopiedFrames + plan.TailFrames != plan.Frames)
        return refuse("The movie's time stamps do not follow its pictures; the cut can not be trusted.");

    // Decode stamps for the whole clip come from one rule (see TCutPoints):
    // the copied packets' own reordering, and the re-encoder's (at most two
    // places with the B-frame pyramid of its presets).
    for (int64_t p : sorted)
        if (inClip(p)) cut.ClipPts.push_back(p);
    std::vector<int64_t> shown = cut.CopiedPts;
    std::sort(shown.begin(), shown.end());
    cut.ReorderDepth = kEncoderReorderDepth;
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto rank = std::lower_bound(shown.begin(), shown.end(), cut.CopiedPts[i]) - shown.begin();
        cut.ReorderDepth = std::max<int64_t>(cut.ReorderDepth, int64_t(i) - rank);
    }

    // H.264: one set of parameter sets through the copy (the extradata's and
    // any in the copied packets agree) goes into an avc1 sample entry.
    if (!hevc) {
        std::map<std::pair<int, int>, std::string> sets;
        bool clash = false;
        auto add = [&](const std::string& nal) {
            const int id = ParameterSetId(reinterpret_cast<const uint8_t*>(nal.data()), nal.size());
            if (id < 0) {
                clash = true;
                return;
            }
            auto [it, added] = sets.emplace(std::make_pair(nal[0] & 0x1f, id), nal);
            clash = clash || (!added && it->second != nal);
        };
        // The sets the copy starts with: its first picture's own, else the
        // stream's (a transport stream's are only the first ones in the file).
        bool ownAtStart = false, spsAtStart = false;
        for (const auto& nal : index[k].ParameterSets) {
            spsAtStart = spsAtStart || (nal[0] & 0x1f) == 7;
            ownAtStart = ownAtStart || (spsAtStart && (nal[0] & 0x1f) == 8);
        }
        if (!ownAtStart)
            for (const auto& nal : ExtradataParameterSets(par)) add(nal);
        for (size_t i = k; i < end; ++i)
            for (const auto& nal : index[i].ParameterSets) add(nal);
        int own = -1;
        for (int id = 1; id < 32 && own < 0; ++id)
            if (!sets.count({7, id}) && !sets.count({8, id})) own = id;
        if (!clash && own > 0 && sets.size() < 31) {
            for (const auto& [key, nal] : sets) (key.first == 7 ? cut.SourceSps : cut.SourcePps).push_back(nal);
            if (!cut.SourceSps.empty() && !cut.SourcePps.empty()) cut.OwnParameterSetId = own;
        }
    }
    // HEVC: the same, in an hvc1 sample entry; the re-encoder's sets are
    // renumbered to sit beside the source's (media/HevcParameterSets.h).
    if (hevc) {
        std::map<std::pair<int, int>, std::string> sets;
        bool clash = false;
        auto add = [&](const std::string& nal) {
            const int id = HevcParameterSetId(reinterpret_cast<const uint8_t*>(nal.data()), nal.size());
            if (id < 0) {
                clash = true;
                return;
            }
            auto [it, added] = sets.emplace(std::make_pair(NalType(true, uint8_t(nal[0])), id), nal);
            clash = clash || (!added && it->second != nal);
        };
        bool ownAtStart = false;
        for (const auto& nal : index[k].ParameterSets) ownAtStart = ownAtStart || NalType(true, uint8_t(nal[0])) == 34;
        if (!ownAtStart)
            for (const auto& nal : HevcExtradataParameterSets(par)) add(nal);
        for (size_t i = k; i < end; ++i)
            for (const auto& nal : index[i].ParameterSets) add(nal);
        int own = -1;
        for (int id = 1; id < 16 && own < 0; ++id)
            if (!sets.count({32, id}) && !sets.count({33, id}) && !sets.count({34, id})) own = id;
        for (int type = 32; type <= 34; ++type)
            if (std::none_of(sets.begin(), sets.end(), [&](const auto& s) { return s.first.first == type; })) clash = true;
        if (!clash && own > 0) {
            for (const auto& [key, nal] : sets) cut.SourceSps.push_back(nal);  // VPS, SPS, PPS in that order
            cut.OwnParameterSetId = own;
        } else {
            plan.SampleEntryNote = "The movie's HEVC parameter sets change inside the clip, so the copy keeps them in "
                                   "the stream (hev1), which Apple's players do not play.";
        }
    }
    plan.CanCopy = true;
    return cut;
}

TCopyPlan PlanCopy(const std::string& sourceFile, int64_t firstFrame, int64_t endFrame,
                   const std::atomic<bool>* cancel) {
    return PlanCut(sourceFile, firstFrame, endFrame, cancel).Plan;
}

TCopyPlan PlanCopy(const std::string& sourceFile, int64_t firstFrame, int64_t endFrame) {
    return PlanCopy(sourceFile, firstFrame, endFrame, nullptr);
}

}  // namespace media
