#include "media/RenderEngine.h"

#include "media/EncoderChoice.h"
#include "media/RenderGraph.h"
#include "media/RenderAnim.h"
#include "media/RenderMeta.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <optional>

namespace media {

namespace {

// The stream's frame rate for the output (25 when it states none). Throws
// MediaError when the stream says that its frames last longer than a minute
// each: its time base is broken (an AVI scale of 100000, a time scale of 1).
AVRational OutputFrameRate(const AVStream* s, const std::string& fileName) {
    AVRational r = StreamFrameRate(s);
    if (!UsableFrameRate(r)) {
        for (AVRational slow : {s->avg_frame_rate, s->r_frame_rate})
            if (slow.num > 0 && slow.den > 0 && av_q2d(slow) < kMinFrameRate)
                throw MediaError("The video of " + Quoted(fileName) + " claims to show each frame for " +
                                 ShortNumber(1 / av_q2d(slow), 0) +
                                 " seconds, which no real movie does; its time stamps are broken and it can not be "
                                 "rendered.");
        r = AVRational{25, 1};
    }
    // Codecs limit the time base to 16 bits; keep exact rates like 30000/1001.
    if (r.num > 65535 || r.den > 65535) r = av_d2q(av_q2d(r), 65535);
    return r;
}

// Refuses a clip that would last more than a day. A clip that reaches past the
// end the movie states is measured to that end, as the render cuts it there.
void CheckClipLength(double clipLength, double mediaStart, double declaredEnd) {
    const double reach = declaredEnd > 0 ? std::min(clipLength, std::max(0.0, declaredEnd - mediaStart)) : clipLength;
    if (reach > kMaxClipSeconds)
        throw MediaError("The clip would last " + ShortNumber(reach / 3600, 1) +
                         " hours; a clip can last at most 24 hours. Is the movie's frame rate right?");
}

// How long the file says its movie is, in seconds from its first frame: the
// video stream's length, else the container's (unless that is only a guess
// from the bit rate); 0 when it says nothing or has no video.
double DeclaredLength(const TInputFile& in) {
    const AVFormatContext* fmt = in.Format.get();
    const int vs = in.FirstVideoStream();
    if (vs < 0) return 0;
    const AVStream* st = fmt->streams[vs];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) return double(st->duration) * av_q2d(st->time_base);
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0 &&
        fmt->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        return double(fmt->duration) / AV_TIME_BASE;
    return 0;
}

// Refuses a clip that makes no clip: the checks the clip's description must
// pass before anything is opened.
void CheckClip(const TRenderClip& clip) {
    const int w = clip.Width, h = clip.Height;
    // 0 x 0: the source's picture, as the engine finds it.
    if ((w != 0 || h != 0) && (w <= 0 || h <= 0))
        throw MediaError("The frame size " + std::to_string(w) + " x " + std::to_string(h) +
                         " is not valid: width and height must be at least 1 pixel.");
    if (w > 8192 || h > 8192)
        throw MediaError("The frame size " + std::to_string(w) + " x " + std::to_string(h) +
                         " is too large (at most 8192 x 8192).");
    if (clip.Sound == TRenderClip::TSound::Pcm) {
        const TPcmFormat& p = clip.Pcm;
        if (p.SampleRate < 1000 || p.SampleRate > 192000 || (p.Bits != 8 && p.Bits != 16) || p.Channels < 1 ||
            p.Channels > 2)
            throw MediaError("The audio format is not a PCM format this program can write.");
    }
    for (size_t i = 0; clip.Ranges.size() > 1 && i < clip.Ranges.size(); ++i) {
        const TFrameRange& r = clip.Ranges[i];
        if (r.First < 0 || r.End <= r.First)
            throw MediaError("Segment " + std::to_string(i + 1) + " (frames " + std::to_string(r.First) + " to " +
                             std::to_string(r.End) + ") holds no frame.");
    }
    const double length = double(clip.EndFrame - clip.FirstFrame) / clip.FrameRate;
    if (!(length > 0) || clip.EndFrame <= clip.FirstFrame || clip.FirstFrame < 0 || !std::isfinite(length))
        throw MediaError("The clip's times do not make a clip (the end must come after the start).");
}

}  // namespace

// ------------------------------------------------------------------ the graph

void TRenderGraph::TImpl::Finish(bool stoppedEarly) {
    TGraphEnd event = TGraphEnd::Done;
    if (!Shared.Failed) {
        try {
            std::lock_guard lock(Shared.MuxMutex);
            int rc = av_write_trailer(Shared.Out.get());
            if (rc < 0) throw MediaError("Finishing the output file failed: " + AvErrorText(rc));
            if (Shared.Out->pb) {
                avio_flush(Shared.Out->pb);
                if (Shared.Out->pb->error < 0)
                    throw MediaError("Writing the output file failed: " + AvErrorText(Shared.Out->pb->error));
                rc = avio_closep(&Shared.Out->pb);
                if (rc < 0) throw MediaError("Closing the output file failed: " + AvErrorText(rc));
            }
        } catch (const std::exception& e) {
            Shared.Fail(e.what());
        }
    }
    if (Shared.Failed) {
        event = TGraphEnd::Failed;
        // One failure flag: nothing more goes into the file; let go of it and
        // take the unfinished file away (a stop keeps its playable file).
        if (Shared.Out && Shared.Out->pb) avio_closep(&Shared.Out->pb);
        Shared.Output.Discard();
    } else {
        // Finished, or stopped with a playable file: it takes its name now.
        try {
            Shared.Output.Commit();
            if (stoppedEarly) event = TGraphEnd::Stopped;
        } catch (const std::exception& e) {
            Shared.Fail(e.what());
            event = TGraphEnd::Failed;
        }
    }
    std::lock_guard lock(EventMutex);
    Event = event;
    EventCv.notify_all();
}

void TRenderGraph::TImpl::RunAll() {
    std::vector<std::thread> workers;
    auto guarded = [this](void (TImpl::*fn)()) {
        return std::thread([this, fn] {
            try {
                (this->*fn)();
            } catch (const TAborted&) {
                for (auto* q : Shared.Queues) q->Abort();
            } catch (const std::exception& e) {
                Shared.Fail(e.what());
            }
            if (Video) Video->Done = Video->Done || Shared.ShouldEnd();
        });
    };
    if (Video) {
        workers.push_back(guarded(Joined.empty() ? &TImpl::VideoDecode : &TImpl::VideoDecodeJoined));
        workers.push_back(guarded(&TImpl::VideoScale));
        workers.push_back(guarded(&TImpl::VideoEncode));
    }
    if (Audio) workers.push_back(guarded(Joined.empty() ? &TImpl::AudioWork : &TImpl::AudioWorkJoined));
    if (CopyVideo) workers.push_back(guarded(&TImpl::CopyVideoWork));
    if (CopyAudio) workers.push_back(guarded(&TImpl::CopyAudioWork));
    for (auto& w : workers) w.join();

    bool complete = true;
    if (CopyVideo && CopyVideo->FramesDone < CopyVideo->AllFrames()) complete = false;
    if (Video && Video->FramesEncoded < Video->Slots) complete = false;
    if (Audio && Audio->SamplesEncoded < Audio->TotalSamples) complete = false;
    if (!complete && !Shared.Failed && Shared.StopFlag) {
        // Stopped part-way: flush what the encoders still hold so the file ends cleanly.
        try {
            if (Video) Video->Out.Encode(Shared, nullptr);
            if (Audio) Audio->Out.Encode(Shared, nullptr);
        } catch (const TAborted&) {
        } catch (const std::exception& e) {
            Shared.Fail(e.what());
        }
    } else if (!complete && !Shared.Failed) {
        Shared.Fail("The pipeline ended before the clip was written.");
    }
    Finish(!complete);
}

TRenderGraph::TRenderGraph(std::unique_ptr<TImpl> impl) : Impl(std::move(impl)) {}

TRenderGraph::~TRenderGraph() = default;

void TRenderGraph::Run() {
    if (Impl->Started) return;
    Impl->Started = true;
    Impl->Supervisor = std::thread([this] { Impl->RunAll(); });
}

TGraphEnd TRenderGraph::Wait(int ms) {
    std::unique_lock lock(Impl->EventMutex);
    if (!Impl->Started) return TGraphEnd::Running;
    Impl->EventCv.wait_for(lock, std::chrono::milliseconds(std::max(0, ms)),
                           [&] { return Impl->Event != TGraphEnd::Running; });
    return Impl->Event;
}

void TRenderGraph::Stop() {
    Impl->Shared.StopFlag = true;
    // Wake workers that wait on a full queue; the stop ends them.
    for (auto* q : Impl->Shared.Queues) q->Abort();
    if (!Impl->Started) {
        Impl->Started = true;
        Impl->Supervisor = std::thread([this] { Impl->RunAll(); });
    }
}

int64_t TRenderGraph::FramesTotal() const {
    const int64_t frames = Impl->ClipFrames;
    const double length = Impl->Length, planned = Impl->PlannedLength;
    if (planned <= 0 || length <= 0) return frames;
    return std::max<int64_t>(1, std::min<int64_t>(frames, std::llround(double(frames) * length / planned)));
}

int64_t TRenderGraph::FramesWritten() const {
    const double length = Impl->Length, planned = Impl->PlannedLength;
    if (length <= 0 || planned <= 0) return 0;
    // How far the writer has got, in seconds of the clip.
    double pos = 0;
    if (Impl->CopyVideo) {
        const int64_t frames = Impl->CopyVideo->AllFrames();
        pos = frames > 0 ? length * double(Impl->CopyVideo->FramesDone) / double(frames) : 0;
    } else if (Impl->Video) {
        const int64_t frames = std::max<int64_t>(Impl->Video->FramesEncoded, Impl->Video->FramesWorked);
        pos = double(frames) / av_q2d(Impl->Video->OutRate);
    } else if (Impl->Audio) {
        pos = double(Impl->Audio->SamplesEncoded) / Impl->Audio->Out.Enc->sample_rate;
    }
    pos = std::min(pos, length);
    // The small allowance keeps a whole frame whole through the division.
    const auto written = static_cast<int64_t>(double(Impl->ClipFrames) * pos / planned + 1e-6);
    return std::min(FramesTotal(), written);
}

std::string TRenderGraph::ErrorText() const {
    std::lock_guard lock(Impl->Shared.ErrorMutex);
    return Impl->Shared.Error;
}

const std::vector<TOutputStreamInfo>& TRenderGraph::OutputStreams() const { return Impl->Streams; }

const TCopyPlan& TRenderGraph::CopyPlan() const {
    static const TCopyPlan none;
    return Impl->CopyVideo ? Impl->CopyVideo->Cut.Plan : none;
}

// ------------------------------------------------------------------ building

std::unique_ptr<TRenderGraph> BuildRender(const TRenderClip& clip, const TOutputSpec& spec) {
    CheckClip(clip);
    auto impl = std::make_unique<TRenderGraph::TImpl>();
    impl->FileName = spec.FileName;
    if (spec.FileName.empty()) throw MediaError("No output file name was given.");
    // Never write over a movie being read, whatever name it is reached by.
    if (SameFile(clip.Source, spec.FileName))
        throw MediaError("The output file " + Quoted(spec.FileName) +
                         " is the movie being cut. Choose another name for the clip.");
    if (const std::string why = WhyNotReplaceable(spec.FileName); !why.empty()) throw MediaError(why);

    const bool copy = spec.Format == TOutputFormat::Copy;
    // A copy writes MP4; sound it can not copy is made AAC as in an MP4 clip.
    const TOutputFormat format = copy ? TOutputFormat::Mp4 : spec.Format;
    const TWmProfileDef* profile = nullptr;
    const bool asf = format == TOutputFormat::Asf;
    if (asf) {
        if (!WMAvailable())
            throw MediaError("Windows Media output is not available: this installation lacks the wmv2 or wmav2 encoder or the asf writer.");
        profile = FindWmProfile(spec.ProfileGuid);
        if (!profile) throw MediaError("The Windows Media profile " + Quoted(spec.ProfileGuid) + " is not known.");
    }
    const bool web = IsWebFormat(format);
    const bool anim = IsAnimFormat(format);
    const char* muxer = asf ? "asf" : web ? WebCodecs(format).Muxer : anim ? AnimMuxer(format) : "avi";
    if (anim) {
        CheckAnimOptions(spec.Anim);
        if (!av_guess_format(muxer, nullptr, nullptr) || !avcodec_find_encoder_by_name(AnimEncoder(format)))
            throw MediaError(std::string("This installation can not write ") + AnimFriendly(format) + " files.");
    }
    if (web) {
        CheckWebOptions(format, spec.Web);
        if (!av_guess_format(muxer, nullptr, nullptr))
            throw MediaError(std::string("This installation can not write ") + (format == TOutputFormat::Mp4 ? "MP4" : "WebM") +
                             " files: it lacks the " + muxer + " writer.");
    }

    AVFormatContext* rawOut = nullptr;
    CheckRc(avformat_alloc_output_context2(&rawOut, nullptr, muxer, spec.FileName.c_str()),
            "Setting up the output file");
    impl->Shared.Out.reset(rawOut);
    AVFormatContext* out = rawOut;
    const bool globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;

    // The time origin of a file's video stream (its first picture), found once
    // per file and stream: the video and the sound share it.
    struct TOrigin {
        int64_t Ticks = 0;
        double Seconds = 0;
    };
    std::map<std::pair<std::string, int>, TOrigin> origins;
    auto movieStart = [&origins](const std::string& file, const AVStream* st) {
        const auto key = std::make_pair(file, st->index);
        auto it = origins.find(key);
        if (it == origins.end()) {
            const int64_t ticks = FirstFrameTicks(file, st->index);
            it = origins.emplace(key, TOrigin{ticks, double(ticks) * av_q2d(st->time_base)}).first;
        }
        return it->second.Seconds;
    };
    // The clock of a file's video stream (the frame clock's rule), found once
    // per file: it turns the span's frames into times for both streams.
    std::map<std::string, TFrameClock> clocks;
    auto clockOf = [&](const std::string& file) -> const TFrameClock* {
        auto it = clocks.find(file);
        if (it == clocks.end()) {
            TInputFile in = TInputFile::Open(file);
            const int vs = in.FirstVideoStream();
            if (vs < 0) return nullptr;
            const AVStream* st = in.Format->streams[vs];
            movieStart(file, st);
            it = clocks.emplace(file, ListedClock(st, file, origins[{file, vs}].Ticks, clip.Cancel)).first;
        }
        return &it->second;
    };
    // Joined spans: where each starts in the movie, and lies in the output
    // (on the clip rate's grid; a copy's spans last as long as their cuts).
    const bool joined = clip.Ranges.size() > 1;
    std::vector<TCutPoints> joinedCuts;
    double joinedLength = 0;
    if (joined) {
        const TFrameClock* c = clockOf(clip.Source);
        if (copy) {
            for (size_t i = 0; i < clip.Ranges.size(); ++i) {
                const TFrameRange& r = clip.Ranges[i];
                joinedCuts.push_back(i < clip.Cuts.size() && clip.Cuts[i] ? *clip.Cuts[i]
                                                                          : PlanCut(clip.Source, r.First, r.End, clip.Cancel));
                const TCutPoints& cut = joinedCuts.back();
                if (!cut.Plan.CanCopy) throw MediaError("Segment " + std::to_string(i + 1) + ": " + cut.Plan.Why);
                if (cut.Plan.Frames < r.End - r.First)
                    throw MediaError("Segment " + std::to_string(i + 1) + " (frames " + std::to_string(r.First) + " to " +
                                     std::to_string(r.End) + ") reaches past the end of the movie.");
            }
            // Parameter sets in the sample entry only when every span's packets take them.
            for (const auto& cut : joinedCuts)
                if (cut.OwnParameterSetId != joinedCuts.front().OwnParameterSetId)
                    for (auto& k : joinedCuts) k.OwnParameterSetId = -1;
        }
        for (size_t i = 0; i < clip.Ranges.size(); ++i) {
            const TFrameRange& r = clip.Ranges[i];
            TJoinedSpan span;
            span.First = r.First;
            span.End = r.End;
            span.Start = c ? c->TimeOfFrame(r.First) : double(r.First) / clip.FrameRate;
            const double seconds = copy ? double(joinedCuts[i].EndSecondsPts - joinedCuts[i].StartPts) * joinedCuts[i].Clock.Tick()
                                        : double(r.End - r.First) / clip.FrameRate;
            span.OutStart = joinedLength;
            joinedLength += seconds;
            span.OutEnd = joinedLength;
            if (!std::isfinite(span.Start) || span.Start < 0 || !(seconds > 0))
                throw MediaError("The start and end of segment " + std::to_string(i + 1) + " are not usable times.");
            impl->Joined.push_back(span);
        }
    }
    // The picture first, then the sound.
    for (const TMajorType kind : {TMajorType::Video, TMajorType::Audio}) {
        if (kind == TMajorType::Audio && clip.Sound == TRenderClip::TSound::None && !copy) continue;
        if (kind == TMajorType::Audio && anim) continue;  // animations have no sound
        const TRenderClip* src = &clip;
        // The span in seconds from the first picture, clock jumps removed;
        // a movie without pictures counts frames at the clip's rate.
        const TFrameClock* srcClock = clockOf(src->Source);
        const double rateLength = double(src->EndFrame - src->FirstFrame) / src->FrameRate;
        double mediaStart = 0, clipLength = rateLength;
        if (srcClock) {
            mediaStart = srcClock->TimeOfFrame(src->FirstFrame);
            if (srcClock->Variable()) clipLength = srcClock->TimeOfFrame(src->EndFrame) - mediaStart;
        } else if (rateLength > 0) {
            mediaStart = rateLength * double(src->FirstFrame) / double(src->EndFrame - src->FirstFrame);
        }
        if (joined) clipLength = joinedLength;
        if (!std::isfinite(clipLength) || !std::isfinite(mediaStart) || clipLength <= 0 || mediaStart < 0)
            throw MediaError("The clip's start and end are not usable times.");
        impl->ClipLength = std::max(impl->ClipLength, clipLength);

        if (copy && kind == TMajorType::Video) {
            std::optional<TCutPoints> planned;
            if (!clip.Cut && !joined) planned = PlanCut(src->Source, src->FirstFrame, src->EndFrame);
            const TCutPoints& cut = joined ? joinedCuts.front() : clip.Cut ? *clip.Cut : *planned;
            if (!cut.Plan.CanCopy) throw MediaError(cut.Plan.Why);
            impl->CopyVideo = MakeCopyVideo(cut, out);
            KeepStreamDescription(impl->CopyVideo->In.Format->streams[cut.VideoStream], impl->CopyVideo->Stream);
            if (joined) impl->CopyVideo->MoreCuts.assign(joinedCuts.begin() + 1, joinedCuts.end());
            const AVCodecParameters* par = impl->CopyVideo->Stream->codecpar;
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Video, "copy", par->width, par->height, cut.Clock.Fps(), 0, 0});
            continue;
        }
        if (copy && kind == TMajorType::Audio && impl->CopyVideo &&
            ((impl->CopyVideo->Cut.Plan.AudioCopied && !joined) || !impl->CopyVideo->Cut.Plan.HasAudio)) {
            // Sound MP4 takes is copied; a movie without sound gets none.
            if (!impl->CopyVideo->Cut.Plan.HasAudio) continue;
            impl->CopyAudio = MakeCopyAudio(impl->CopyVideo->Cut, out);
            KeepStreamDescription(impl->CopyAudio->In.Format->streams[impl->CopyVideo->Cut.AudioStream], impl->CopyAudio->Stream);
            const AVCodecParameters* par = impl->CopyAudio->Stream->codecpar;
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Audio, "copy", 0, 0, 0, par->sample_rate,
                                                      par->ch_layout.nb_channels});
            continue;
        }
        if (kind == TMajorType::Video) {
            if (profile && !profile->Video.Present) continue;
            auto v = std::make_unique<TVideoPath>();
            v->In = TInputFile::Open(src->Source);
            // The source as it was opened: a change while the clip is made is a failure.
            v->SourceBefore = TSourceState::Of(src->Source.c_str());
            v->StreamIndex = v->In.FirstVideoStream();
            if (v->StreamIndex < 0) throw MediaError("The file " + Quoted(src->Source) + " has no video stream.");
            const AVStream* ist = v->In.Format->streams[v->StreamIndex];
            const AVRational srcRate = OutputFrameRate(ist, src->Source);
            v->SrcRate = srcRate;
            v->DeclaredEnd = DeclaredLength(v->In);
            // A clock that jumps states a length of its raw stamps: the movie lasts as long as its pictures do.
            if (srcClock && srcClock->Jumps()) v->DeclaredEnd = srcClock->SecondsOf(srcClock->List->EndTicks);
            CheckClipLength(clipLength, mediaStart, v->DeclaredEnd);
            // Times count from the first picture, as in the preview.
            v->MovieStart = movieStart(src->Source, ist);
            v->Clock = *srcClock;
            v->Shape = ShapeOfStream(ist);
            v->Dec = std::make_unique<TFrameDecoder>(v->In, v->StreamIndex, v->Clock.FrameTicks, v->Clock.Origin);
            v->MediaStart = mediaStart;
            v->OutRate = srcRate;
            v->OutWidth = clip.Width;
            v->OutHeight = clip.Height;
            if (anim) ShapeAnimVideo(*v, spec.Anim, ist);
            if (v->OutWidth == 0 && v->OutHeight == 0) std::tie(v->OutWidth, v->OutHeight) = SourcePictureSize(ist, v->Shape);
            if (v->OutWidth <= 0 || v->OutHeight <= 0)
                throw MediaError("The frame size " + std::to_string(v->OutWidth) + " x " + std::to_string(v->OutHeight) +
                                 " is not usable.");
            if (profile && profile->Video.FrameRateNum > 0 && profile->Video.FrameRateDen > 0)
                v->OutRate = AVRational{profile->Video.FrameRateNum, profile->Video.FrameRateDen};
            if (profile && profile->Video.Width > 0 && profile->Video.Height > 0) {
                v->OutWidth = profile->Video.Width;
                v->OutHeight = profile->Video.Height;
            }
            v->Slots = std::max<int64_t>(1, std::llround(clipLength * av_q2d(v->OutRate)));
            v->FirstFrame = src->FirstFrame;
            if (joined) {
                // Joined spans follow each other on the output's grid.
                for (auto& span : impl->Joined) {
                    span.FirstSlot = std::llround(span.OutStart * av_q2d(v->OutRate));
                    span.EndSlot = std::max<int64_t>(span.FirstSlot + 1, std::llround(span.OutEnd * av_q2d(v->OutRate)));
                }
                v->Slots = impl->Joined.back().EndSlot;
            } else if (web && v->Clock.Variable()) {
                v->OwnTimes = true;
                v->StartTicks = v->Clock.TicksOfFrame(src->FirstFrame);
                v->Slots = std::max<int64_t>(1, std::min<int64_t>(src->EndFrame, v->Clock.FrameCount(0)) - src->FirstFrame);
            }

            std::string encoderName = "rawvideo", friendly = "uncompressed RGB555";
            if (profile) {
                encoderName = "wmv2";
                friendly = "Windows Media Video 8";
            } else if (web) {
                encoderName = WebCodecs(format).Video;
                friendly = WebCodecs(format).VideoFriendly;
            } else if (anim) {
                encoderName = AnimEncoder(format);
                friendly = AnimFriendly(format);
            } else if (spec.VideoCompressor) {
                encoderName = spec.VideoCompressor->EncoderName();
                friendly = spec.VideoCompressor->FriendlyName();
            }
            const AVCodec* codec = nullptr;
            v->Out.Enc = NewEncoder(encoderName, &codec);
            AVCodecContext* enc = v->Out.Enc.get();
            // Uncompressed AVI is RGB555; a lossless compressor gets the format
            // closest to the source's; a lossy one its first, or RGB555.
            AVPixelFormat pix = AV_PIX_FMT_RGB555LE;
            if (web) {
                pix = AV_PIX_FMT_YUV420P;
            } else if (anim) {
                pix = AnimScaledFormat(format);
            } else if (encoderName != "rawvideo") {
                pix = IsLosslessEncoder(codec) ? ClosestEncoderFormat(codec, static_cast<AVPixelFormat>(ist->codecpar->format),
                                                                      v->OutWidth, v->OutHeight)
                                               : AV_PIX_FMT_NONE;
                if (pix == AV_PIX_FMT_NONE) {
                    pix = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
                    for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p)
                        if (*p == AV_PIX_FMT_RGB555LE) pix = *p;
                }
            }
            const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix);
            if (desc && (((v->OutWidth >> desc->log2_chroma_w) << desc->log2_chroma_w) != v->OutWidth ||
                         ((v->OutHeight >> desc->log2_chroma_h) << desc->log2_chroma_h) != v->OutHeight))
                throw MediaError("The video compressor " + Quoted(friendly) + " can not take a frame size of " +
                                 std::to_string(v->OutWidth) + " x " + std::to_string(v->OutHeight) +
                                 ": choose an even width and height.");
            v->OutFormat = pix;
            TOutputColour colour = ChooseOutputColour(ist->codecpar, pix, codec->id);
            if (web) colour = format == TOutputFormat::Mp4 && spec.Web.KeepSourceColour ? KeptSourceColour(ist->codecpar)
                                                                                         : kWebColour;
            if (anim) colour = AnimColour(format);
            v->OutFullRange = colour.FullRange;
            v->OutMatrix = colour.Matrix;
            enc->color_range = colour.FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
            enc->colorspace = colour.Matrix;
            enc->color_primaries = colour.Primaries;
            enc->color_trc = colour.Transfer;
            enc->width = v->OutWidth;
            enc->height = v->OutHeight;
            enc->pix_fmt = pix;
            enc->time_base = v->OwnTimes ? v->Clock.TimeBase : av_inv_q(v->OutRate);
            enc->framerate = v->OutRate;
            enc->sample_aspect_ratio = AVRational{1, 1};
            enc->thread_count = 0;
            if (globalHeader) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (web) {
                SetUpWebVideoEncoder(enc, format, spec.Web);
                enc->color_range = colour.FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
                enc->colorspace = colour.Matrix;
                enc->color_primaries = colour.Primaries;
                enc->color_trc = colour.Transfer;
                // Each packet lasts one frame, also the last one the file's length ends with
                // (with own times: up to the next picture, set by VideoEncode).
                v->Out.FrameDuration = v->OwnTimes ? 0 : 1;
            } else if (profile) {
                enc->gop_size = std::max(1, static_cast<int>(std::lround(av_q2d(v->OutRate) * 4)));
                if (profile->Video.Quality > 0) {
                    enc->flags |= AV_CODEC_FLAG_QSCALE;
                    enc->global_quality = profile->Video.Quality * FF_QP2LAMBDA;
                } else {
                    enc->bit_rate = profile->Video.BitRate;
                    enc->rc_buffer_size = profile->Video.BitRate * 2;
                    enc->rc_max_rate = profile->Video.BitRate * 3 / 2;
                }
            } else {
                enc->max_b_frames = 0;  // AVI keeps no reordering information
                if (spec.VideoCompressor) {
                    const auto& f = *spec.VideoCompressor;
                    const int kbps = f.OptionValue("bitrate", 0);
                    if (kbps > 0) enc->bit_rate = int64_t(kbps) * 1000;
                    const int q = f.OptionValue("quality", 0);
                    if (q > 0) {
                        enc->flags |= AV_CODEC_FLAG_QSCALE;
                        enc->global_quality = q * FF_QP2LAMBDA;
                    }
                    const int keyint = f.OptionValue("keyint", 0);
                    if (keyint > 0) enc->gop_size = keyint;
                    const int crf = f.OptionValue("crf", -1);
                    if (crf >= 0) av_opt_set_int(enc->priv_data, "crf", crf, 0);
                }
            }
            if (anim) {
                SetUpAnimEncoder(enc, format, spec.Anim);
                v->Out.FrameDuration = 1;
                v->PaletteGif = format == TOutputFormat::Gif;
                v->Anim = spec.Anim;
            }
            OpenEncoder(enc, codec, friendly, "video");
            // A single-threaded encoder uses the other cores by encoding
            // segments of about a second (whole key frame intervals) side by side.
            const unsigned cores = std::thread::hardware_concurrency();
            constexpr int kThreadCaps = AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS;
            if (!profile && !web && !anim && encoderName != "rawvideo" && !(codec->capabilities & kThreadCaps) && cores >= 2 &&
                enc->extradata_size == 0) {
                const int64_t period = std::max(1, enc->keyint_min);
                const int64_t second = std::max<int64_t>({1, std::llround(std::ceil(av_q2d(v->OutRate))), enc->gop_size});
                int64_t frames = (second + period - 1) / period * period;
                // Each worker holds a whole segment of pictures: keep that within bounds.
                const int64_t bytes = std::max(1, av_image_get_buffer_size(pix, v->OutWidth, v->OutHeight, 1));
                const int64_t fit = std::max<int64_t>(1, (int64_t(48) << 20) / bytes / period) * period;
                frames = std::min(frames, fit);
                if (v->Slots > frames) {
                    v->SegmentFrames = frames;
                    const int workers = static_cast<int>(std::min(4u, cores));
                    for (int w = 0; w < workers; ++w)
                        v->Segments.push_back(std::make_unique<TFrameQueue>(static_cast<size_t>(frames) + 1));
                }
            }
            v->Out.Stream = AddStream(out, enc);
            KeepStreamDescription(ist, v->Out.Stream);
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Video, codec->name, v->OutWidth, v->OutHeight,
                                                      av_q2d(v->OutRate), 0, 0});
            impl->Video = std::move(v);
        } else {
            if (profile && !profile->Audio.Present) continue;
            auto a = std::make_unique<TAudioPath>();
            a->In = TInputFile::Open(src->Source);
            a->StreamIndex = a->In.FirstAudioStream();
            if (clip.AudioTrack >= 0) {
                a->StreamIndex = AudioStreamByNumber(a->In.Format.get(), clip.AudioTrack);
                if (a->StreamIndex < 0)
                    throw MediaError("The movie has no audio track " + std::to_string(clip.AudioTrack) + " (it has " +
                                     std::to_string(AudioTrackCount(a->In.Format.get())) +
                                     ", counted from 0).");
            }
            a->HasSource = a->StreamIndex >= 0;
            // A profile that writes only sound would write nothing but silence.
            if (!a->HasSource && profile && !profile->Video.Present)
                throw MediaError("The movie " + Quoted(src->Source) +
                                 " has no sound, and the chosen profile writes only sound: there is nothing to write. "
                                 "Choose a profile with video.");
            const int vs = a->In.FirstVideoStream();
            // MP4, WebM and Windows Media clips of a movie without sound get
            // no sound track (rather than a silent one) beside their pictures.
            if (!a->HasSource && vs >= 0 && (web || asf) && (!profile || profile->Video.Present)) continue;
            if (a->HasSource) {
                a->Dec = std::make_unique<TFrameDecoder>(a->In, a->StreamIndex, 1, AV_NOPTS_VALUE, 1);
                // Audio counts from the same zero as the picture, so both start together.
                a->MovieStart = vs >= 0 ? movieStart(src->Source, a->In.Format->streams[vs])
                                        : a->In.StreamStartSeconds(a->StreamIndex);
            }
            a->MediaStart = mediaStart;
            // The movie's stated length counts when it comes from a picture
            // whose stamps can be trusted; without a picture the sound is the movie.
            if (vs >= 0) {
                OutputFrameRate(a->In.Format->streams[vs], src->Source);
                a->DeclaredEnd = DeclaredLength(a->In);
                if (srcClock && srcClock->Jumps()) a->DeclaredEnd = srcClock->SecondsOf(srcClock->List->EndTicks);
            }
            CheckClipLength(clipLength, mediaStart, a->DeclaredEnd);

            TPcmFormat pcm = clip.Sound == TRenderClip::TSound::Pcm ? clip.Pcm : PcmFormatByIndex(0);
            std::string encoderName = pcm.Bits == 8 ? "pcm_u8" : "pcm_s16le";
            std::string friendly = "PCM";
            int64_t bitRate = 0;
            if (profile) {
                encoderName = "wmav2";
                friendly = "Windows Media Audio 8";
                pcm = TPcmFormat{profile->Audio.SampleRate, static_cast<int16_t>(profile->Audio.Bits),
                                 static_cast<int16_t>(profile->Audio.Channels)};
                bitRate = profile->Audio.BitRate;
            } else if (web) {
                encoderName = WebCodecs(format).Audio;
                friendly = WebCodecs(format).AudioFriendly;
            } else if (spec.AudioCompressor) {
                encoderName = spec.AudioCompressor->EncoderName();
                friendly = spec.AudioCompressor->FriendlyName();
                const int kbps = spec.AudioCompressor->OptionValue("bitrate", 0);
                if (kbps > 0) bitRate = int64_t(kbps) * 1000;
            }
            const AVCodec* codec = nullptr;
            a->Out.Enc = NewEncoder(encoderName, &codec);
            AVCodecContext* enc = a->Out.Enc.get();
            enc->sample_rate = ClosestSampleRate(codec, pcm.SampleRate);
            av_channel_layout_default(&enc->ch_layout, pcm.Channels);
            enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
            if (web) {
                SetUpWebAudioEncoder(enc, format, spec.Web, a->HasSource ? a->In.Format->streams[a->StreamIndex]->codecpar : nullptr);
                a->Priming = format == TOutputFormat::Mp4 ? TAudioPath::TPriming::EditList
                                                               : TAudioPath::TPriming::CodecDelay;
            }
            enc->time_base = AVRational{1, enc->sample_rate};
            if (bitRate > 0) enc->bit_rate = bitRate;
            if (globalHeader) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            OpenEncoder(enc, codec, friendly, "audio");
            a->TotalSamples = std::max<int64_t>(1, std::llround(clipLength * enc->sample_rate));
            a->Out.Stream = AddStream(out, enc);
            if (a->HasSource) KeepStreamDescription(a->In.Format->streams[a->StreamIndex], a->Out.Stream);
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Audio, codec->name, 0, 0, 0, enc->sample_rate,
                                                      enc->ch_layout.nb_channels});
            impl->Audio = std::move(a);
        }
    }
    if (copy && !impl->CopyVideo) throw MediaError("A copy needs the movie's pictures.");
    if (!impl->Video && !impl->Audio && !impl->CopyVideo)
        throw MediaError("There is nothing to write: the output has no stream for the clip.");
    // Until the sources show where the movie ends, its stated length is the
    // best guess at how much of the clip there is.
    double expected = impl->ClipLength;
    if (impl->Video && impl->Video->DeclaredEnd > 0)
        expected = std::min(expected, std::max(impl->Video->DeclaredEnd - impl->Video->MediaStart, 1.0 / av_q2d(impl->Video->OutRate)));
    else if (!impl->Video && impl->Audio && impl->Audio->DeclaredEnd > 0)
        expected = std::min(expected, std::max(impl->Audio->DeclaredEnd - impl->Audio->MediaStart, 0.1));
    if (impl->CopyVideo) {
        const TCutPoints& cut = impl->CopyVideo->Cut;
        expected = double(cut.EndSecondsPts - cut.StartPts) * cut.Clock.Tick();
        if (joined) expected = joinedLength;
    }
    impl->Length = expected;
    impl->PlannedLength = expected;
    impl->ClipFrames = impl->CopyVideo ? impl->CopyVideo->AllFrames() : clip.EndFrame - clip.FirstFrame;
    if (joined && !impl->CopyVideo) {
        impl->ClipFrames = 0;
        for (const auto& r : clip.Ranges) impl->ClipFrames += r.End - r.First;
    }
    if (impl->Video) {
        impl->Shared.Queues = {&impl->Video->Decoded, &impl->Video->Scaled};
        for (auto& q : impl->Video->Segments) impl->Shared.Queues.push_back(q.get());
    }

    // The movie's creation time and title go with its clips.
    KeepDescription(impl->Video ? impl->Video->In.Format.get()
                    : impl->CopyVideo ? impl->CopyVideo->In.Format.get()
                    : impl->Audio ? impl->Audio->In.Format.get()
                                  : nullptr,
                    out);
    AVDictionary* options = nullptr;
    struct TOptionsFree {
        AVDictionary*& D;
        ~TOptionsFree() { av_dict_free(&D); }
    } optionsFree{options};
    // MP4: the index goes before the data once the file is finished, so that it plays while it downloads.
    if (format == TOutputFormat::Mp4) CheckRc(av_dict_set(&options, "movflags", "+faststart", 0), "Setting up the output file");
    if (anim) SetAnimMuxerOptions(&options, format, spec.Anim);
    // Everything is accepted: only now create the file.
    // The clip is written under a temporary name and takes the chosen one
    // when it is finished (Finish); an old file of that name stays as it is
    // until then.
    try {
        impl->Shared.Output = TStagedFile(spec.FileName);
    } catch (const std::runtime_error& e) {
        throw MediaError(e.what());
    }
    // The writer opens the file again by this name to move the MP4 index
    // to the front.
    av_freep(&out->url);
    out->url = av_strdup(impl->Shared.Output.WritePath().c_str());
    if (!out->url) throw MediaError("Out of memory while setting up the output file.");
    int rc = avio_open(&out->pb, out->url, AVIO_FLAG_WRITE);
    if (rc < 0) throw MediaError("The file " + Quoted(spec.FileName) + " can not be created: " + AvErrorText(rc) + ".");
    rc = avformat_write_header(out, &options);
    if (rc >= 0 && out->pb->error < 0) rc = out->pb->error;
    if (rc < 0) {
        avio_closep(&out->pb);
        impl->Shared.Output.Discard();
        throw MediaError("Writing the header of " + Quoted(spec.FileName) + " failed: " + AvErrorText(rc) + ".");
    }
    return std::unique_ptr<TRenderGraph>(new TRenderGraph(std::move(impl)));
}

}  // namespace media
