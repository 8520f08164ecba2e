#include <gtest/gtest.h>
#include "media/MovieReader.h"
TEST(Smoke, ReaderWithoutFileHasNoStreams) {
    media::TMovieReader r;
    EXPECT_FALSE(r.IsOpen());
    EXPECT_EQ(r.StreamCount(), 0);
    EXPECT_EQ(r.Facts().VideoStream, -1);
}
