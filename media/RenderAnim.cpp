#include "media/RenderAnim.h"

#include "media/EncoderChoice.h"
#include "media/FilterGraph.h"
#include "media/RenderGraph.h"

#include <cstdlib>
#include <optional>

namespace media {

bool IsAnimFormat(TOutputFormat f) { return f == TOutputFormat::Gif || f == TOutputFormat::WebP; }
const char* AnimMuxer(TOutputFormat f) { return f == TOutputFormat::Gif ? "gif" : "webp"; }
const char* AnimEncoder(TOutputFormat f) { return f == TOutputFormat::Gif ? "gif" : "libwebp_anim"; }
const char* AnimFriendly(TOutputFormat f) { return f == TOutputFormat::Gif ? "animated GIF" : "animated WebP"; }

void CheckAnimOptions(const TAnimOptions& o) {
    if (o.Fps < 5 || o.Fps > 30)
        throw MediaError("An animation's frame rate is 5 to 30 frames per second, not " + std::to_string(o.Fps) + ".");
    if (o.WebPQuality < 0 || o.WebPQuality > 100)
        throw MediaError("A WebP animation's quality is 0 to 100, not " + std::to_string(o.WebPQuality) + ".");
}

AVPixelFormat AnimScaledFormat(TOutputFormat f) { return f == TOutputFormat::Gif ? AV_PIX_FMT_BGRA : AV_PIX_FMT_YUV420P; }

TOutputColour AnimColour(TOutputFormat f) {
    if (f == TOutputFormat::Gif) return TOutputColour{true, AVCOL_SPC_RGB, AVCOL_PRI_BT709, AVCOL_TRC_IEC61966_2_1};
    // libwebp's decoder turns its YUV into RGB by BT.601 at video range.
    return TOutputColour{false, AVCOL_SPC_BT470BG, AVCOL_PRI_BT709, AVCOL_TRC_IEC61966_2_1};
}

void ShapeAnimVideo(TVideoPath& v, const TAnimOptions& o, const AVStream* ist) {
    v.OutRate = AVRational{o.Fps, 1};
    const auto [w, h] = SourcePictureSize(ist, v.Shape);
    v.OutWidth = w;
    v.OutHeight = h;
    if (o.Width > 0 && w > 0) {
        v.OutWidth = o.Width;
        v.OutHeight = std::max(2, int(std::lround(double(o.Width) * double(h) / double(w) / 2)) * 2);
    }
    v.OutWidth = std::max(2, v.OutWidth / 2 * 2);
    v.OutHeight = std::max(2, v.OutHeight / 2 * 2);
    if (v.OutWidth > 16383 || v.OutHeight > 16383)
        throw MediaError("An animation is at most 16383 pixels wide and high; " + std::to_string(v.OutWidth) + " x " +
                         std::to_string(v.OutHeight) + " is too big.");
}

void SetUpAnimEncoder(AVCodecContext* enc, TOutputFormat f, const TAnimOptions& o) {
    enc->max_b_frames = 0;
    if (f == TOutputFormat::Gif) {
        enc->pix_fmt = AV_PIX_FMT_PAL8;
        return;
    }
    av_opt_set_double(enc->priv_data, "quality", o.WebPQuality, 0);
    av_opt_set_int(enc->priv_data, "lossless", 0, 0);
    // Key frames as the command line's libwebp_anim places them (at most every gop_size frames).
    enc->gop_size = 12;
}

void SetAnimMuxerOptions(AVDictionary** options, TOutputFormat f, const TAnimOptions& o) {
    // GIF: 0 loops for ever, -1 plays once. WebP: 0 for ever, else that many times.
    const char* loop = o.Loop ? "0" : f == TOutputFormat::Gif ? "-1" : "1";
    CheckRc(av_dict_set(options, "loop", loop, 0), "Setting up the output file");
}

std::string GifPaletteChain(const TAnimOptions& o) {
    const char* dither = o.Dither == TAnimOptions::TDither::None    ? "none"
                         : o.Dither == TAnimOptions::TDither::Bayer ? "bayer:bayer_scale=2"
                                                                    : "sierra2_4a";
    return std::string("split[a][b];[b]palettegen=stats_mode=full[p];[a][p]paletteuse=dither=") + dither;
}

bool SceneChanged(const AVFrame* a, const AVFrame* b) {
    if (a->width != b->width || a->height != b->height) return true;
    const int stepX = std::max(1, a->width / 64), stepY = std::max(1, a->height / 36);
    int64_t sum = 0, n = 0;
    for (int y = 0; y < a->height; y += stepY) {
        const uint8_t* pa = a->data[0] + ptrdiff_t(y) * a->linesize[0];
        const uint8_t* pb = b->data[0] + ptrdiff_t(y) * b->linesize[0];
        for (int x = 0; x < a->width; x += stepX) {
            for (int c = 0; c < 3; ++c) sum += std::abs(int(pa[4 * x + c]) - int(pb[4 * x + c]));
            n += 3;
        }
    }
    // A cut changes most pixels a lot; motion within a scene a few, or many a little.
    return n > 0 && sum > 40 * n;
}

// The GIF's encoder: the scaled frames of one span (the clip, a scene, or as
// many as kGifSpanBytes holds) go into a palette graph; when the span ends its
// palette is made and its frames come out mapped to it, in order, and are
// encoded. Frames count as done when they are encoded.
void TRenderGraph::TImpl::VideoEncodeGif() {
    auto& v = *Video;
    AVCodecContext* enc = v.Out.Enc.get();
    const std::string chain = GifPaletteChain(v.Anim);
    TVideoFilterInput input;
    input.Width = v.OutWidth;
    input.Height = v.OutHeight;
    input.Format = AV_PIX_FMT_BGRA;
    input.TimeBase = enc->time_base;
    input.FrameRate = v.OutRate;
    const int64_t frameBytes = int64_t(v.OutWidth) * v.OutHeight * 4;
    std::optional<TFilterGraph> graph;
    int64_t spanBytes = 0;
    AvFramePtr mapped = MakeFrame();
    auto pull = [&] {
        for (;;) {
            const TFilterGraph::TPull got = graph->Pull(mapped.get());
            if (got != TFilterGraph::TPull::Frame) return;
            mapped->pts = av_rescale_q(mapped->pts, graph->OutputTimeBase(), enc->time_base);
            mapped->pict_type = AV_PICTURE_TYPE_NONE;
            v.Out.Encode(Shared, mapped.get());
            ++v.FramesEncoded;
        }
    };
    auto endSpan = [&] {
        if (!graph) return;
        graph->Finish();
        pull();
        graph.reset();
        spanBytes = 0;
    };
    AvFramePtr f, previous;
    while (v.Scaled.Pop(f)) {
        const bool cut = v.Anim.PalettePerScene && previous && SceneChanged(previous.get(), f.get());
        if (cut || spanBytes + frameBytes > kGifSpanBytes) endSpan();
        if (!graph) graph = TFilterGraph::Video(input, chain);
        graph->Push(f.get());
        spanBytes += frameBytes;
        ++v.FramesWorked;
        pull();
        previous = std::move(f);
    }
    if (Shared.Failed) throw TAborted{};
    endSpan();
    v.Out.Encode(Shared, nullptr);
    v.Done = true;
}

}  // namespace media
