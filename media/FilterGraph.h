// An owned libavfilter graph with one input and one output: frames are pushed
// into a buffer (or abuffer) source and pulled out of a buffersink, through a
// filter chain given as text, e.g. "atempo=2.0", "palettegen" or
// "zscale=t=linear,tonemap=hable,zscale=p=bt709:t=bt709:m=bt709,format=yuv420p".
// Private to media/: include only from media/*.cpp and other media-private headers.
#pragma once

#include <cstdint>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include <memory>
#include <string>

namespace media {

// What the source hands to the graph: the first frame's properties.
struct TVideoFilterInput {
    int Width = 0;
    int Height = 0;
    AVPixelFormat Format = AV_PIX_FMT_NONE;
    AVRational TimeBase{1, 1};
    AVRational SampleAspect{0, 1};   // 0/1: unknown, taken as square
    AVRational FrameRate{0, 1};      // 0/1: unknown
    // The colour description (primaries, transfer, matrix, range) is not set
    // here: it travels with each pushed frame, which is where zscale and
    // tonemap read it.
};

struct TAudioFilterInput {
    int SampleRate = 0;
    AVSampleFormat Format = AV_SAMPLE_FMT_NONE;
    AVChannelLayout Layout{};        // copied; the caller keeps its own
    AVRational TimeBase{0, 1};       // 0/1: 1/SampleRate
};

class TFilterGraph {
public:
    // Builds and configures the graph; throws MediaError with the reason when
    // the chain does not parse or its filters cannot be linked.
    static TFilterGraph Video(const TVideoFilterInput& in, const std::string& chain);
    static TFilterGraph Audio(const TAudioFilterInput& in, const std::string& chain);

    TFilterGraph(TFilterGraph&&) noexcept;
    TFilterGraph& operator=(TFilterGraph&&) noexcept;
    ~TFilterGraph();

    // Hands one frame to the graph; the caller keeps its frame (the graph takes
    // its own reference). Throws MediaError on a filter's error.
    void Push(const AVFrame* frame);
    // Tells the graph no more frames come, so filters that look at the whole
    // input (palettegen, reverse) give their output.
    void Finish();

    enum class TPull { Frame, Again, End };
    // Takes the next filtered frame into out (unreferenced first). Again: the
    // graph needs more input; End: it is finished after Finish().
    TPull Pull(AVFrame* out);

    // Audio only: every pulled frame then holds exactly this many samples
    // (the last one fewer), as encoders with a fixed frame size need.
    void SetAudioFrameSize(int samples);

    // The sink's negotiated output.
    AVRational OutputTimeBase() const;
    int OutputWidth() const;
    int OutputHeight() const;
    int OutputFormat() const;        // AVPixelFormat or AVSampleFormat
    int OutputSampleRate() const;

private:
    struct TGraphDeleter {
        void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
    };
    TFilterGraph() = default;
    static TFilterGraph Build(const char* sourceFilter, const std::string& sourceArgs,
                              const char* sinkFilter, const std::string& chain);

    std::unique_ptr<AVFilterGraph, TGraphDeleter> FGraph;
    AVFilterContext* FSource = nullptr;   // owned by the graph
    AVFilterContext* FSink = nullptr;     // owned by the graph
};

}  // namespace media
