#include <gtest/gtest.h>
#include "media/MediaDetector.h"
TEST(Smoke, DetectorWithoutFileHasNoStreams) {
    media::TMediaDetector d;
    EXPECT_EQ(d.get_OutputStreams(), 0);
}
