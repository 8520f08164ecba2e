#include "media/PcmFormat.h"

namespace media {

namespace {
constexpr TPcmFormat kPcmFormats[kPcmFormatCount] = {
    {44100, 16, 2}, {44100, 16, 1}, {44100, 8, 2}, {44100, 8, 1},
    {22050, 16, 2}, {22050, 16, 1}, {22050, 8, 2}, {22050, 8, 1},
};
}  // namespace

TPcmFormat PcmFormatByIndex(int index) {
    if (index < 0 || index >= kPcmFormatCount) index = 0;
    return kPcmFormats[index];
}

}  // namespace media
