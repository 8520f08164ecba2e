#include "media/FilterGraph.h"

#include "media/AvPtr.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

namespace media {

namespace {

struct InOutDeleter {
    void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutDeleter>;

std::string Ratio(AVRational r) {
    return std::to_string(r.num) + "/" + std::to_string(r.den);
}

}  // namespace

TFilterGraph::TFilterGraph(TFilterGraph&&) noexcept = default;
TFilterGraph& TFilterGraph::operator=(TFilterGraph&&) noexcept = default;
TFilterGraph::~TFilterGraph() = default;

TFilterGraph TFilterGraph::Build(const char* sourceFilter, const std::string& sourceArgs,
                                 const char* sinkFilter, const std::string& chain) {
    TFilterGraph g;
    g.FGraph.reset(avfilter_graph_alloc());
    if (!g.FGraph) throw std::bad_alloc();
    // Filters run on the calling thread: the callers are already job threads,
    // and a graph's own threads would escape their lowered priority.
    g.FGraph->nb_threads = 1;
    CheckRc(avfilter_graph_create_filter(&g.FSource, avfilter_get_by_name(sourceFilter), "in",
                                         sourceArgs.c_str(), nullptr, g.FGraph.get()),
            "Filter source");
    CheckRc(avfilter_graph_create_filter(&g.FSink, avfilter_get_by_name(sinkFilter), "out",
                                         nullptr, nullptr, g.FGraph.get()),
            "Filter sink");

    // The chain's open input is fed by our source, its open output feeds our sink.
    InOutPtr outputs(avfilter_inout_alloc());
    InOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs) throw std::bad_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = g.FSource;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = g.FSink;
    if (!outputs->name || !inputs->name) throw std::bad_alloc();
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const std::string text = chain.empty() ? (sinkFilter[0] == 'a' ? "anull" : "null") : chain;
    int rc = avfilter_graph_parse_ptr(g.FGraph.get(), text.c_str(), &in, &out, nullptr);
    InOutPtr leftIn(in), leftOut(out);
    if (rc < 0) throw MediaError("The filter chain \"" + text + "\" is not valid: " + AvErrorText(rc));
    rc = avfilter_graph_config(g.FGraph.get(), nullptr);
    if (rc < 0) throw MediaError("The filter chain \"" + text + "\" cannot be set up: " + AvErrorText(rc));
    return g;
}

TFilterGraph TFilterGraph::Video(const TVideoFilterInput& in, const std::string& chain) {
    const AVRational sar = in.SampleAspect.num > 0 ? in.SampleAspect : AVRational{1, 1};
    std::string args = "video_size=" + std::to_string(in.Width) + "x" + std::to_string(in.Height) +
                       ":pix_fmt=" + std::to_string(int(in.Format)) +
                       ":time_base=" + Ratio(in.TimeBase) + ":pixel_aspect=" + Ratio(sar);
    if (in.FrameRate.num > 0) args += ":frame_rate=" + Ratio(in.FrameRate);
    return Build("buffer", args, "buffersink", chain);
}

TFilterGraph TFilterGraph::Audio(const TAudioFilterInput& in, const std::string& chain) {
    char layout[128] = {0};
    if (av_channel_layout_describe(&in.Layout, layout, sizeof layout) < 0)
        throw MediaError("The sound's channel layout cannot be described.");
    const AVRational tb = in.TimeBase.num > 0 ? in.TimeBase : AVRational{1, in.SampleRate};
    const char* fmt = av_get_sample_fmt_name(in.Format);
    if (!fmt || in.SampleRate <= 0) throw MediaError("The sound's format is not known.");
    const std::string args = "time_base=" + Ratio(tb) + ":sample_rate=" + std::to_string(in.SampleRate) +
                             ":sample_fmt=" + fmt + ":channel_layout=" + layout;
    return Build("abuffer", args, "abuffersink", chain);
}

void TFilterGraph::Push(const AVFrame* frame) {
    // KEEP_REF: the graph takes its own reference to the caller's buffers.
    CheckRc(av_buffersrc_add_frame_flags(FSource, const_cast<AVFrame*>(frame), AV_BUFFERSRC_FLAG_KEEP_REF),
            "Filtering a frame");
}

void TFilterGraph::Finish() {
    CheckRc(av_buffersrc_add_frame_flags(FSource, nullptr, 0), "Finishing the filters");
}

TFilterGraph::TPull TFilterGraph::Pull(AVFrame* out) {
    av_frame_unref(out);
    const int rc = av_buffersink_get_frame(FSink, out);
    if (rc == AVERROR(EAGAIN)) return TPull::Again;
    if (rc == AVERROR_EOF) return TPull::End;
    CheckRc(rc, "Taking a filtered frame");
    return TPull::Frame;
}

void TFilterGraph::SetAudioFrameSize(int samples) {
    av_buffersink_set_frame_size(FSink, unsigned(samples));
}

AVRational TFilterGraph::OutputTimeBase() const { return av_buffersink_get_time_base(FSink); }
int TFilterGraph::OutputWidth() const { return av_buffersink_get_w(FSink); }
int TFilterGraph::OutputHeight() const { return av_buffersink_get_h(FSink); }
int TFilterGraph::OutputFormat() const { return av_buffersink_get_format(FSink); }
int TFilterGraph::OutputSampleRate() const { return av_buffersink_get_sample_rate(FSink); }

}  // namespace media
