// The configuration dialog of a compressor ("Set" in the output settings):
// one row per setting the bound filter exposes (bit rate, quality, key frame
// interval...), each a number within the setting's range. OK and Apply()
// write the values into the filter object, which the renderer reads for the
// job; Cancel leaves the filter as it was. GUI thread only.
#pragma once

#include "media/Compressors.h"

#include <QDialog>
#include <vector>

class QPushButton;
class QSpinBox;

class TEncoderSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // `filter` must outlive the dialog.
    TEncoderSettingsDlg(media::TCompressorFilter& filter, QWidget* owner);

    // One spin box per option, in the filter's order (objectName = the key).
    std::vector<QSpinBox*> Editors;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnDefaults = nullptr;

    // Writes the edited values into the filter.
    void Apply();
    // Puts every editor back to its option's default.
    void RestoreDefaults();

private:
    media::TCompressorFilter& FFilter;
};
