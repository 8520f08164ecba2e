// What describes the movie, carried into the clips: the chosen sound track,
// and the creation time, title and language tags. Private to media/.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

namespace media {

// The stream index of the movie's audio track `number` (its audio streams
// counted from 0 in file order, attached pictures aside); -1 when it has no such track.
int AudioStreamByNumber(const AVFormatContext* in, int number);
// How many audio tracks the movie has.
int AudioTrackCount(const AVFormatContext* in);

// Copies the movie's creation time and title into the output, and a
// stream's language and title into the stream written from it (either
// stream may be null). Call before the header is written.
void KeepDescription(const AVFormatContext* in, AVFormatContext* out);
void KeepStreamDescription(const AVStream* in, AVStream* out);

}  // namespace media
