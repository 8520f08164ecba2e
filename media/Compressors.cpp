#include "media/Compressors.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cctype>

namespace media {

namespace {

struct TCatalogueEntry {
    const char* FriendlyName;
    const char* Encoder;
    std::vector<TCompressorOption> Options;
};

TCompressorOption Opt(const char* key, const char* caption, int min, int max, int def) {
    return TCompressorOption{key, caption, min, max, def, def};
}

const std::vector<TCatalogueEntry>& VideoCatalogue() {
    static const std::vector<TCatalogueEntry> list = {
        {"Cinepak by Radius", "cinepak", {}},
        {"Motion JPEG", "mjpeg", {Opt("quality", "Quality (2 best .. 31)", 2, 31, 3)}},
        {"MPEG-4 Part 2", "mpeg4",
         {Opt("bitrate", "Bit rate (kbps)", 32, 20000, 800), Opt("keyint", "Key frame interval", 1, 600, 12)}},
        {"Microsoft MPEG-4 Video Codec V2", "msmpeg4v2",
         {Opt("bitrate", "Bit rate (kbps)", 32, 20000, 800), Opt("keyint", "Key frame interval", 1, 600, 12)}},
        {"Microsoft MPEG-4 Video Codec V3", "msmpeg4",
         {Opt("bitrate", "Bit rate (kbps)", 32, 20000, 800), Opt("keyint", "Key frame interval", 1, 600, 12)}},
        {"Microsoft Video 1", "msvideo1", {}},
        {"Huffyuv", "huffyuv", {}},
        {"FFV1 lossless", "ffv1", {}},
        {"Ut Video", "utvideo", {}},
        {"Zip Motion Blocks Video (ZMBV)", "zmbv", {}},
        {"H.264 (x264)", "libx264",
         {Opt("crf", "Quality (0 lossless .. 51)", 0, 51, 23), Opt("keyint", "Key frame interval", 1, 600, 250)}},
    };
    return list;
}

const std::vector<TCatalogueEntry>& AudioCatalogue() {
    static const std::vector<TCatalogueEntry> list = {
        {"MPEG Layer-3", "libmp3lame", {Opt("bitrate", "Bit rate (kbps)", 32, 320, 128)}},
        {"MPEG Layer-2", "mp2", {Opt("bitrate", "Bit rate (kbps)", 32, 384, 192)}},
        {"AC-3", "ac3", {Opt("bitrate", "Bit rate (kbps)", 64, 640, 192)}},
        {"IMA ADPCM", "adpcm_ima_wav", {}},
        {"Microsoft ADPCM", "adpcm_ms", {}},
        {"CCITT A-Law", "pcm_alaw", {}},
        {"CCITT u-Law", "pcm_mulaw", {}},
        {"PCM", "pcm_s16le", {}},
    };
    return list;
}

const std::vector<TCatalogueEntry>& Catalogue(TCompressorCategory c) {
    return c == TCompressorCategory::Video ? VideoCatalogue() : AudioCatalogue();
}

std::string Lower(std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

}  // namespace

TCompressorFilter::TCompressorFilter(TCompressorCategory category, std::string friendlyName, std::string encoder,
                                     std::vector<TCompressorOption> options)
    : FCategory(category), FFriendlyName(std::move(friendlyName)), FEncoder(std::move(encoder)),
      FOptions(std::move(options)) {}

bool TCompressorFilter::SetOption(const std::string& key, int value) {
    for (auto& o : FOptions)
        if (o.Key == key) {
            o.Value = std::clamp(value, o.Min, o.Max);
            return true;
        }
    return false;
}

int TCompressorFilter::OptionValue(const std::string& key, int def) const {
    for (const auto& o : FOptions)
        if (o.Key == key) return o.Value;
    return def;
}

TSysDevEnum::TSysDevEnum(TCompressorCategory category) : FCategory(category) {
    for (const auto& e : Catalogue(category)) {
        if (!avcodec_find_encoder_by_name(e.Encoder)) continue;
        std::string name = e.FriendlyName;
        if (name.size() > 255) name.resize(255);
        FNames.push_back(name);
        FEncoders.push_back(e.Encoder);
    }
}

std::string TSysDevEnum::FriendlyName(int i) const {
    return i >= 0 && i < Count() ? FNames[static_cast<size_t>(i)] : std::string();
}

std::string TSysDevEnum::EncoderName(int i) const {
    return i >= 0 && i < Count() ? FEncoders[static_cast<size_t>(i)] : std::string();
}

int TSysDevEnum::IndexOf(const std::string& friendlyName) const {
    const std::string key = Lower(friendlyName);
    for (int i = 0; i < Count(); ++i)
        if (Lower(FNames[static_cast<size_t>(i)]) == key) return i;
    return -1;
}

int TSysDevEnum::IndexOfEncoder(const std::string& encoder) const {
    const std::string key = Lower(encoder);
    for (int i = 0; i < Count(); ++i)
        if (Lower(FEncoders[static_cast<size_t>(i)]) == key) return i;
    return -1;
}

TCompressorFilterPtr TSysDevEnum::Bind(int i) const {
    if (i < 0 || i >= Count()) return nullptr;
    for (const auto& e : Catalogue(FCategory))
        if (FEncoders[static_cast<size_t>(i)] == e.Encoder)
            return std::make_shared<TCompressorFilter>(FCategory, FNames[static_cast<size_t>(i)], e.Encoder, e.Options);
    return nullptr;
}

TCompressorFilterPtr BindCompressorByName(TCompressorCategory category, const std::string& friendlyName) {
    TSysDevEnum list(category);
    return list.Bind(list.IndexOf(friendlyName));
}

TCompressorFilterPtr BindCompressorByNameOrEncoder(TCompressorCategory category, const std::string& name) {
    TSysDevEnum list(category);
    const int i = list.IndexOf(name);
    return list.Bind(i >= 0 ? i : list.IndexOfEncoder(name));
}

}  // namespace media
