#include "media/MediaDetector.h"
#include "media/AvPtr.h"
// Placeholder until the detector lands.
namespace media {
struct TMediaDetector::TImpl { std::string File, Error; };
TMediaDetector::TMediaDetector() : Impl(std::make_unique<TImpl>()) {}
TMediaDetector::~TMediaDetector() = default;
bool TMediaDetector::put_Filename(const std::string& path) { Impl->File = path; return false; }
const std::string& TMediaDetector::Filename() const { return Impl->File; }
int TMediaDetector::get_OutputStreams() const { return 0; }
bool TMediaDetector::put_CurrentStream(int) { return false; }
int TMediaDetector::get_CurrentStream() const { return -1; }
TMajorType TMediaDetector::get_StreamType() const { return TMajorType::Unknown; }
double TMediaDetector::get_StreamLength() const { return 0; }
double TMediaDetector::get_FrameRate() const { return 0; }
TMediaTypeInfo TMediaDetector::get_StreamMediaType() const { return {}; }
bool TMediaDetector::GetBitmapBits(double, std::size_t*, uint8_t*, int, int) { return false; }
const std::string& TMediaDetector::LastError() const { return Impl->Error; }
TMediaDetector::TStats TMediaDetector::Stats() const { return {}; }
}  // namespace media
