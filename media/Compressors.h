// The compressors an AVI file can hold: FFmpeg's encoders grouped into a video
// and an audio category, each entry with a friendly name, in a fixed order.
// Only encoders that the linked FFmpeg has are listed.
//
// Binding an entry makes a new TCompressorFilter: the encoder choice plus the
// settings a user may change for one job (shown by the window's "Set"
// dialog). The renderer reads the settings when it opens the encoder.
// No FFmpeg and no Qt type here.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace media {

enum class TCompressorCategory { Video, Audio };

// One setting of an encoder: an integer within [Min, Max].
struct TCompressorOption {
    std::string Key;      // stable name: "bitrate" (kbps), "quality", "keyint", "crf"
    std::string Caption;  // label for a dialog, e.g. "Bit rate (kbps)"
    int Min = 0;
    int Max = 0;
    int Default = 0;
    int Value = 0;
};

class TCompressorFilter {
public:
    TCompressorFilter(TCompressorCategory category, std::string friendlyName, std::string encoder,
                      std::vector<TCompressorOption> options);

    TCompressorCategory Category() const { return FCategory; }
    const std::string& FriendlyName() const { return FFriendlyName; }
    const std::string& EncoderName() const { return FEncoder; }  // FFmpeg encoder name

    // The settings worth changing; empty when the encoder has none.
    const std::vector<TCompressorOption>& Options() const { return FOptions; }
    bool HasOptions() const { return !FOptions.empty(); }
    // Sets a setting, clamped to its range; false for an unknown key.
    bool SetOption(const std::string& key, int value);
    // The current value, or def when the encoder has no such setting.
    int OptionValue(const std::string& key, int def) const;

private:
    TCompressorCategory FCategory;
    std::string FFriendlyName;
    std::string FEncoder;
    std::vector<TCompressorOption> FOptions;
};

using TCompressorFilterPtr = std::shared_ptr<TCompressorFilter>;

// The installed compressors of one category (the system device enumerator's
// stand-in). The list is fixed at construction.
class TSysDevEnum {
public:
    explicit TSysDevEnum(TCompressorCategory category);

    int Count() const { return static_cast<int>(FNames.size()); }
    // Friendly name of entry i (at most 255 characters); "" out of range.
    std::string FriendlyName(int i) const;
    // FFmpeg encoder of entry i; "" out of range.
    std::string EncoderName(int i) const;
    // Index of the entry with this friendly name (case-insensitive), or -1.
    int IndexOf(const std::string& friendlyName) const;
    // Index of the entry with this FFmpeg encoder name (case-insensitive), or -1.
    int IndexOfEncoder(const std::string& encoder) const;
    // A new filter object for entry i with default settings; nullptr out of range.
    TCompressorFilterPtr Bind(int i) const;

private:
    TCompressorCategory FCategory;
    std::vector<std::string> FNames;
    std::vector<std::string> FEncoders;
};

// Binds the compressor of the category with this friendly name
// (case-insensitive); nullptr when there is none.
TCompressorFilterPtr BindCompressorByName(TCompressorCategory category, const std::string& friendlyName);
// The same, also taking the FFmpeg encoder's name ("mjpeg", "libx264"),
// case-insensitive; a friendly name wins over an encoder name.
TCompressorFilterPtr BindCompressorByNameOrEncoder(TCompressorCategory category, const std::string& name);

}  // namespace media
