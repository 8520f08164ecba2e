// One prompt of the confirmation dialog.
#pragma once

#include <QString>
#include <cstdint>

struct TDialogText {
    uint8_t Kind = 1;  // 1 confirmation (OK, Cancel); 2 information (OK); others act as 1
    QString Key;       // value name under "Dialogs" remembering "Don't show this message again"
    QString Text;      // lines separated by single line feeds
};

// The consent to the automatic update check.
extern const TDialogText AutoUpdateCheckText;
