// The settings page of the GIF and WebP modes: frame rate (5 to 30), width
// (the height follows the movie's shape and is shown), loop on or off, for the
// GIF its dithering and one palette per scene, for WebP its quality; the file
// size to expect for the clip updates as they change. GUI thread only; shown
// through the prompts seam (Execute).
#pragma once

#include "common/Prompts.h"
#include "convert/OutputSettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

class TAnimSettingsDlg : public QDialog {
    Q_OBJECT
public:
    // seconds: the clip's length; the source's picture size as shown.
    TAnimSettingsDlg(QWidget* owner, bool gif, const TAnimSettings& settings, double seconds, int sourceWidth,
                     int sourceHeight);

    TModalResult Execute();
    TAnimSettings Settings() const;

    QSpinBox* seFps = nullptr;
    QSpinBox* seWidth = nullptr;
    QLabel* lbHeight = nullptr;
    QCheckBox* cbLoop = nullptr;
    QComboBox* cbDither = nullptr;      // GIF: none, Bayer, error diffusion
    QCheckBox* cbPerScene = nullptr;    // GIF
    QSpinBox* seQuality = nullptr;      // WebP
    QLabel* lbEstimate = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void UpdateEstimate();
    bool FGif;
    TAnimSettings FStart;
    double FSeconds;
    int FSourceWidth, FSourceHeight;
};
