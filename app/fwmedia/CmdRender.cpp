// fwmedia render and compressors: the clip renderer with a console host, and
// the compressor lists as the output settings dialog shows them.
#include "app/fwmedia/Commands.h"
#include "app/fwmedia/ShareOptions.h"

#include "convert/OutputSettings.h"
#include "convert/RenderClip.h"
#include "media/Compressors.h"
#include "media/MovieReader.h"
#include "media/ClipJob.h"
#include "media/RenderEngine.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

namespace {

std::atomic<bool> gStop{false};
extern "C" void OnInterrupt(int) { gStop = true; }

// Prints what the window would show, one line per change.
class TConsoleHost : public TRenderClipHost {
public:
    TOutputSettings Settings;
    const TOutputSettings& OutputSettings() override { return Settings; }
    bool StopRequested() override { return gStop; }
    void ProcessMessages() override {}
    void SetBusyCaption(const QString& caption) override { Print(FBusy, caption); }
    void SetBusyVisible(bool) override {}
    void SetTimeLeftCaption(const QString& caption) override { Print(FTimeLeft, caption); }
    void SetTimeLeftVisible(bool) override {}
    bool ShowPreviewWhenClipping() override { return false; }
    void SetTrackBarPosition(int32_t) override {}
    void SetHourglass(bool) override {}
    void ShowFailure(const QString& message, const QString& reason) override {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        if (!reason.isEmpty()) std::fprintf(stderr, "%s\n", reason.toUtf8().constData());
    }
    void ShowNotice(const QString& text) override {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        std::fflush(stderr);
    }
    void Pause(int) override {}  // nothing on screen to settle

private:
    QString FBusy, FTimeLeft;
    static void Print(QString& last, const QString& caption) {
        if (caption == last || caption.isEmpty()) return;
        last = caption;
        std::printf("%s\n", caption.toUtf8().constData());
        std::fflush(stdout);
    }
};

bool ParseInt(const std::string& text, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == 0;
}

// A frame number as START and END take it: decimal digits, 0 .. 2^31 - 1 (the
// track bar's range). Returns "" or the sentence saying what is wrong.
std::string ParseFrameNumber(const std::string& text, const char* what, int32_t& value) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::string(what) + " must be a frame number (a whole number), not \"" + text + "\".";
    const size_t first = std::min(digits.find_first_not_of('0'), digits.size());
    const std::string significant = digits.substr(first);
    if (negative && !significant.empty()) return std::string(what) + " must not be negative (" + text + ").";
    if (significant.size() > 10 || (significant.size() == 10 && std::stoll(significant) > kMax))
        return std::string(what) + " must be at most " + std::to_string(kMax) + ", not " + text + ".";
    value = significant.empty() ? 0 : static_cast<int32_t>(std::stoll(significant));
    return "";
}

// "There is no video compressor "x"." and the names to choose from.
void PrintCompressorChoices(media::TCompressorCategory category, const char* kind, const std::string& name) {
    std::fprintf(stderr, "There is no %s compressor \"%s\". The choices are (either name):\n", kind, name.c_str());
    const media::TSysDevEnum devices(category);
    for (int i = 0; i < devices.Count(); ++i)
        std::fprintf(stderr, "  %s (%s)\n", devices.FriendlyName(i).c_str(), devices.EncoderName(i).c_str());
}

int RenderUsage() {
    std::fprintf(stderr,
                 "usage: fwmedia render SOURCE OUTPUT START END [--profile GUID] [--width W --height H]\n"
                 "         [--audio-format N] [--no-audio] [--avi [--video-compressor NAME] [--audio-compressor NAME]]\n"
                 "       fwmedia render SOURCE OUTPUT START END --mp4|--webm [--crf N] [--preset P]\n"
                 "         [--audio-bitrate KBPS] [--no-audio] [--width W --height H]\n"
                 "         (MP4: H.264 CRF 0..51, preset ultrafast..placebo, AAC; WebM: VP9 CRF 0..63, preset = cpu-used\n"
                 "         0..8, Opus; the frame size is the source's unless --width and --height are given)\n"
                 "       fwmedia render SOURCE OUTPUT START END --copy\n"
                 "         (MP4 with the source's own H.264 or HEVC pictures and its sound, re-encoded only around\n"
                 "         the cut; other sources are re-encoded as --mp4 does, with a notice saying why)\n"
                 "       fwmedia render SOURCE OUTPUT --range A:B [--range C:D ...] [--split] [options as above]\n"
                 "         (segments in place of START END, frames A to B - 1 each, joined in order into OUTPUT;\n"
                 "         --split: one file per segment, OUTPUT-01, -02 ..., none of which may exist yet)\n");
    std::fprintf(stderr, "%s", ShareUsage());
    return 2;
}

int UsageError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return RenderUsage();
}

// Takes "--range A:B" (any number) and "--split" out of the arguments. With
// ranges, the first one's frames stand in the place of START END, so the
// options are read as for one range. Returns "" or what is wrong.
std::string TakeRanges(const TArgs& in, TArgs& out, std::vector<media::TFrameRange>& ranges, bool& split) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (i >= 2 && in[i] == "--split") {
            split = true;
        } else if (i >= 2 && in[i] == "--range") {
            if (i + 1 >= in.size()) return "--range takes A:B (frames A to B - 1).";
            const std::string& text = in[++i];
            const size_t colon = text.find(':');
            if (colon == std::string::npos) return "--range takes A:B (frames A to B - 1), not \"" + text + "\".";
            int32_t a = 0, b = 0;
            for (const std::string& error : {ParseFrameNumber(text.substr(0, colon), "A of --range A:B", a),
                                             ParseFrameNumber(text.substr(colon + 1), "B of --range A:B", b)})
                if (!error.empty()) return error;
            if (b <= a) return "--range " + text + ": B must be greater than A (the range holds A to B - 1).";
            ranges.push_back({a, b});
        } else {
            out.push_back(in[i]);
        }
    }
    if (split && ranges.empty()) return "--split goes with --range.";
    if (!ranges.empty()) {
        if (out.size() < 2) return "Give SOURCE and OUTPUT before the options.";
        out.insert(out.begin() + 2, {std::to_string(ranges[0].First), std::to_string(ranges[0].End)});
    }
    return "";
}

}  // namespace

int CmdRender(const TArgs& given) {
    TArgs args;
    std::vector<media::TFrameRange> ranges;
    bool split = false;
    if (const std::string error = TakeRanges(given, args, ranges, split); !error.empty()) return UsageError(error);
    if (args.size() < 4) return RenderUsage();
    TShareChoices share;
    if (const std::string error = TakeShareOptions(args, share); !error.empty()) return UsageError(error);
    long width = 320, height = 240, audioFormat = 0;
    int32_t start = 0, end = 0;
    for (const std::string& error : {ParseFrameNumber(args[2], "START", start), ParseFrameNumber(args[3], "END", end)})
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
    if (end <= start) {
        std::fprintf(stderr, "END must be greater than START (frame numbers; the clip holds START to END - 1).\n");
        return 2;
    }
    TConsoleHost host;
    bool avi = false, mp4 = false, webm = false, copy = false, widthGiven = false, heightGiven = false;
    std::string firstChoice;  // the first option besides --copy, which takes none
    std::string videoName, audioName;
    // MP4 and WebM choices, as text until the kind is known.
    std::string crfText, presetText, kbpsText;
    bool crfGiven = false, presetGiven = false, kbpsGiven = false;
    for (size_t i = 4; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string value;
        if (a == "--copy") {
            copy = true;
            continue;
        }
        if (firstChoice.empty()) firstChoice = a;
        if (a == "--profile" && next(value)) host.Settings.WMVSelected = QString::fromStdString(value);
        else if (a == "--width" && next(value) && ParseInt(value, width)) widthGiven = true;
        else if (a == "--height" && next(value) && ParseInt(value, height)) heightGiven = true;
        else if (a == "--audio-format" && next(value) && ParseInt(value, audioFormat)) {}
        else if (a == "--no-audio") host.Settings.WithAudio = false;
        else if (a == "--avi") avi = true;
        else if (a == "--mp4") mp4 = true;
        else if (a == "--webm") webm = true;
        else if (a == "--crf" && next(crfText)) crfGiven = true;
        else if (a == "--preset" && next(presetText)) presetGiven = true;
        else if (a == "--audio-bitrate" && next(kbpsText)) kbpsGiven = true;
        else if (a == "--video-compressor" && next(value)) videoName = value;
        else if (a == "--audio-compressor" && next(value)) audioName = value;
        else return RenderUsage();
    }
    if (copy && !firstChoice.empty())
        return UsageError("--copy takes no other option (" + firstChoice +
                          "): the clip keeps the source's pictures, size and sound.");
    if (width < 0 || width > 65535 || height < 0 || height > 65535 || audioFormat < 0 || audioFormat > 65535)
        return RenderUsage();
    if (int(avi) + int(mp4) + int(webm) + int(share.Format.has_value()) > 1)
        return UsageError("Choose one of --avi, --mp4, --webm, --gif and --webp.");
    if (copy && share.Format) return UsageError("--copy takes no other option: the clip keeps the source's pictures.");
    ApplyShareChoices(share, widthGiven ? width : 0, host.Settings);
    if (copy) width = height = 0;  // re-encoding when it can not copy: the source's size, as --mp4 gives it
    const bool web = mp4 || webm;
    if (!web && (crfGiven || presetGiven || kbpsGiven))
        return UsageError("--crf, --preset and --audio-bitrate go with --mp4 or --webm.");
    if (web) {
        TWebSettings& w = mp4 ? host.Settings.Mp4 : host.Settings.WebM;
        media::TWebOptions options;
        long number = 0;
        if (crfGiven) {
            if (!ParseInt(crfText, number) || number < 0 || number > 1000)
                return UsageError("--crf takes a whole number, not \"" + crfText + "\".");
            options.Crf = static_cast<int>(number);
        }
        if (kbpsGiven) {
            if (!ParseInt(kbpsText, number) || number <= 0 || number > 100000)
                return UsageError("--audio-bitrate takes kilobits per second as a whole number, not \"" + kbpsText + "\".");
            options.AudioKbps = static_cast<int>(number);
        }
        if (presetGiven) {
            if (presetText.empty()) return UsageError("--preset takes a name (MP4) or a digit (WebM).");
            options.Preset = presetText;
        }
        try {
            media::CheckWebOptions(mp4 ? media::TOutputFormat::Mp4 : media::TOutputFormat::WebM, options);
        } catch (const std::exception& e) {
            return UsageError(e.what());
        }
        if (crfGiven) w.Crf = options.Crf;
        if (kbpsGiven) w.AudioKbps = options.AudioKbps;
        if (presetGiven) w.Preset = QString::fromStdString(options.Preset);
        if (!host.Settings.WithAudio) w.WithAudio = false;
        // The source's size unless both are given.
        if (widthGiven != heightGiven || (width == 0) != (height == 0))
            return UsageError("Give both --width and --height (or neither, for the source's size).");
        if (!widthGiven) width = height = 0;
    }
    if (avi) {
        if (!videoName.empty()) {
            host.Settings.VideoCompressor =
                media::BindCompressorByNameOrEncoder(media::TCompressorCategory::Video, videoName);
            if (!host.Settings.VideoCompressor) {
                PrintCompressorChoices(media::TCompressorCategory::Video, "video", videoName);
                return 2;
            }
            videoName = host.Settings.VideoCompressor->FriendlyName();
        }
        if (!audioName.empty()) {
            host.Settings.AudioCompressor =
                media::BindCompressorByNameOrEncoder(media::TCompressorCategory::Audio, audioName);
            if (!host.Settings.AudioCompressor) {
                PrintCompressorChoices(media::TCompressorCategory::Audio, "audio", audioName);
                return 2;
            }
            audioName = host.Settings.AudioCompressor->FriendlyName();
        }
    }
    host.Settings.VideoCompressorName = QString::fromStdString(videoName);
    host.Settings.AudioCompressorName = QString::fromStdString(audioName);

    // The frame rate turns frame numbers into seconds, as the open movie's record does.
    media::TMovieReader reader;
    if (!reader.Open(args[0])) {
        std::fprintf(stderr, "%s\n", reader.LastError().c_str());
        return 1;
    }
    const double frameRate = reader.Facts().FrameRate;
    if (frameRate == 0) {
        std::fprintf(stderr, "%s has no video stream with a usable frame rate.\n", args[0].c_str());
        return 1;
    }

    // What a copy does, planned with the times RenderClip takes; a source it
    // can not read is left for the render to report.
    media::TCopyPlan plan;
    if (copy && ranges.empty()) {
        try {
            plan = media::PlanCopy(args[0], start, end);
        } catch (const std::exception&) {
        }
    }

    const TClipFormat format = share.Format ? *share.Format
                               : copy ? TClipFormat::Copy
                               : mp4 ? TClipFormat::Mp4
                               : webm ? TClipFormat::WebM
                               : avi ? TClipFormat::Avi
                                     : TClipFormat::Wmv;
    std::signal(SIGINT, OnInterrupt);
    // A file size limit (ulimit -f) makes writing fail with a message instead
    // of ending the process, so the unfinished file is cleaned up.
    std::signal(SIGXFSZ, SIG_IGN);
    bool ok = false;
    if (ranges.empty()) {
        ok = RenderClip(host, QString::fromStdString(args[0]), QString::fromStdString(args[1]),
                        static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                        static_cast<uint16_t>(audioFormat), frameRate, start, end, format);
    } else {
        media::TClipJobSpec spec = ClipJobSpec(host.Settings, QString::fromStdString(args[0]),
                                               QString::fromStdString(args[1]), static_cast<uint16_t>(width),
                                               static_cast<uint16_t>(height), static_cast<uint16_t>(audioFormat),
                                               start, end, format, frameRate);
        spec.Ranges = ranges;
        spec.Split = split;
        // Segment files never replace what is there: there is nobody to ask.
        for (size_t i = 0; split && i < ranges.size(); ++i) {
            const std::string name = media::SplitFileName(args[1], i, ranges.size());
            if (std::filesystem::exists(std::filesystem::path(name))) {
                std::fprintf(stderr, "The file %s exists; fwmedia does not replace it. Remove it or choose another OUTPUT.\n",
                             name.c_str());
                std::signal(SIGINT, SIG_DFL);
                return 1;
            }
        }
        ok = RenderClip(host, std::move(spec));
    }
    std::signal(SIGINT, SIG_DFL);
    if (ok && plan.CanCopy)
        std::printf("copy: head %lld, copied %lld, tail %lld frames; audio %s\n",
                    static_cast<long long>(plan.HeadFrames), static_cast<long long>(plan.CopiedFrames),
                    static_cast<long long>(plan.TailFrames),
                    !plan.HasAudio ? "none" : plan.AudioCopied ? "copied" : "re-encoded");
    if (ok && plan.CanCopy && !plan.SampleEntryNote.empty()) std::printf("note: %s\n", plan.SampleEntryNote.c_str());
    if (ok && split) {
        for (size_t i = 0; i < ranges.size(); ++i) {
            const std::string name = media::SplitFileName(args[1], i, ranges.size());
            if (std::filesystem::exists(std::filesystem::path(name))) std::printf("%s %s\n", gStop ? "Stopped; written" : "Written", name.c_str());
        }
    } else if (ok) {
        std::printf("%s %s\n", gStop ? "Stopped; written" : "Written", args[1].c_str());
    }
    return ok ? 0 : 1;
}

int CmdCompressors(const TArgs&) {
    const struct {
        media::TCompressorCategory Category;
        const char* Title;
    } lists[] = {{media::TCompressorCategory::Video, "Video compressors:"},
                 {media::TCompressorCategory::Audio, "Audio compressors:"}};
    for (const auto& l : lists) {
        media::TSysDevEnum devices(l.Category);
        std::printf("%s\n", l.Title);
        for (int i = 0; i < devices.Count(); ++i) {
            std::printf("  %s (%s)", devices.FriendlyName(i).c_str(), devices.EncoderName(i).c_str());
            const auto filter = devices.Bind(i);
            for (const auto& o : filter->Options())
                std::printf("%s %s=%d [%d..%d]", &o == &filter->Options().front() ? " -" : ",", o.Key.c_str(), o.Value,
                            o.Min, o.Max);
            std::printf("\n");
        }
    }
    return 0;
}
