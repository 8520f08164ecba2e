// The open movie, as the main window holds it.
#pragma once

#include "media/MediaTypes.h"

#include <QString>
#include <cstdint>
#include <vector>

struct TMovieInfo {
    QString FileName;                                  // full path of the movie
    media::TMediaTypeInfo MediaType;                   // the video stream's media type
    double StreamLength = 0;                           // seconds
    int64_t FrameCount = 0;                            // by the frame clock's rule (TMovieFacts::FrameCount)
    // Where the pictures are not on one grid, the time (seconds) of every
    // frame; empty: frame p is at p / FrameRate (TMovieFacts::FrameTimes).
    std::vector<double> FrameTimes;
    double FrameRate = 0;                              // frames per second; 0: no usable movie
    int32_t FrameWidth = 0;                            // pixels
    int32_t FrameHeight = 0;                           // pixels
    bool HasAudio = false;                             // the file has a sound stream
};
