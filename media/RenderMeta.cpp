#include "media/RenderMeta.h"

namespace media {

namespace {

bool IsAudioTrack(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

void CopyTag(const AVDictionary* from, AVDictionary** to, const char* key) {
    if (const AVDictionaryEntry* e = av_dict_get(from, key, nullptr, 0)) av_dict_set(to, key, e->value, 0);
}

}  // namespace

int AudioStreamByNumber(const AVFormatContext* in, int number) {
    int n = 0;
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (IsAudioTrack(in->streams[i]) && n++ == number) return int(i);
    return -1;
}

int AudioTrackCount(const AVFormatContext* in) {
    int n = 0;
    for (unsigned i = 0; i < in->nb_streams; ++i) n += IsAudioTrack(in->streams[i]) ? 1 : 0;
    return n;
}

void KeepDescription(const AVFormatContext* in, AVFormatContext* out) {
    if (!in || !out) return;
    CopyTag(in->metadata, &out->metadata, "creation_time");
    CopyTag(in->metadata, &out->metadata, "title");
}

void KeepStreamDescription(const AVStream* in, AVStream* out) {
    if (!in || !out) return;
    CopyTag(in->metadata, &out->metadata, "language");
    CopyTag(in->metadata, &out->metadata, "title");
}

}  // namespace media
