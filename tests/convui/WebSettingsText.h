// The MP4 / WebM clip choices as one line, for failure messages.
#pragma once

#include "convert/OutputSettings.h"

#include <QString>
#include <string>

inline std::string Describe(const TWebSettings& s) {
    return QStringLiteral("{%1, %2x%3, crf %4, '%5', audio %6 @%7}")
        .arg(s.FrameSizeIndex)
        .arg(s.Width)
        .arg(s.Height)
        .arg(s.Crf)
        .arg(s.Preset)
        .arg(s.WithAudio)
        .arg(s.AudioKbps)
        .toStdString();
}
