#include "convert/AnimSettingsDlg.h"

#include "convert/AnimSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

TAnimSettingsDlg::TAnimSettingsDlg(QWidget* owner, bool gif, const TAnimSettings& settings, double seconds,
                                   int sourceWidth, int sourceHeight)
    : QDialog(owner), FGif(gif), FStart(settings), FSeconds(seconds), FSourceWidth(sourceWidth),
      FSourceHeight(sourceHeight) {
    setObjectName(QStringLiteral("AnimSettingsDlg"));
    setWindowTitle(gif ? QStringLiteral("Animated GIF") : QStringLiteral("Animated WebP"));
    auto* form = new QFormLayout;
    seFps = new QSpinBox(this);
    seFps->setObjectName(QStringLiteral("seFps"));
    seFps->setRange(5, 30);
    seFps->setSuffix(QStringLiteral(" frames per second"));
    seFps->setValue(std::clamp(settings.Fps, 5, 30));
    form->addRow(QStringLiteral("Frame rate:"), seFps);
    seWidth = new QSpinBox(this);
    seWidth->setObjectName(QStringLiteral("seWidth"));
    seWidth->setRange(16, 4096);
    seWidth->setSingleStep(2);
    seWidth->setSuffix(QStringLiteral(" pixels"));
    seWidth->setValue(std::clamp(settings.Width > 0 ? settings.Width : sourceWidth, 16, 4096));
    form->addRow(QStringLiteral("Width:"), seWidth);
    lbHeight = new QLabel(this);
    lbHeight->setObjectName(QStringLiteral("lbHeight"));
    form->addRow(QStringLiteral("Height:"), lbHeight);
    cbLoop = new QCheckBox(QStringLiteral("Play again and again (loop)"), this);
    cbLoop->setObjectName(QStringLiteral("cbLoop"));
    cbLoop->setChecked(settings.Loop);
    form->addRow(QString(), cbLoop);
    if (gif) {
        cbDither = new QComboBox(this);
        cbDither->setObjectName(QStringLiteral("cbDither"));
        cbDither->addItems({QStringLiteral("None (smallest, shows bands)"), QStringLiteral("Bayer (a fine pattern)"),
                            QStringLiteral("Error diffusion (smoothest, largest)")});
        cbDither->setCurrentIndex(std::clamp(settings.Dither, 0, 2));
        form->addRow(QStringLiteral("Dithering:"), cbDither);
        cbPerScene = new QCheckBox(QStringLiteral("A palette for each scene"), this);
        cbPerScene->setObjectName(QStringLiteral("cbPerScene"));
        cbPerScene->setChecked(settings.PalettePerScene);
        form->addRow(QString(), cbPerScene);
    } else {
        seQuality = new QSpinBox(this);
        seQuality->setObjectName(QStringLiteral("seQuality"));
        seQuality->setRange(0, 100);
        seQuality->setValue(std::clamp(settings.Quality, 0, 100));
        form->addRow(QStringLiteral("Quality:"), seQuality);
    }
    lbEstimate = new QLabel(this);
    lbEstimate->setObjectName(QStringLiteral("lbEstimate"));
    form->addRow(QStringLiteral("File size:"), lbEstimate);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);

    const auto update = [this] { UpdateEstimate(); };
    connect(seFps, qOverload<int>(&QSpinBox::valueChanged), this, update);
    connect(seWidth, qOverload<int>(&QSpinBox::valueChanged), this, update);
    if (cbDither) connect(cbDither, qOverload<int>(&QComboBox::currentIndexChanged), this, update);
    if (seQuality) connect(seQuality, qOverload<int>(&QSpinBox::valueChanged), this, update);
    UpdateEstimate();
}

TModalResult TAnimSettingsDlg::Execute() { return Prompts().ExecModal(*this); }

TAnimSettings TAnimSettingsDlg::Settings() const {
    TAnimSettings s = FStart;
    s.Fps = seFps->value();
    s.Width = seWidth->value() / 2 * 2;
    s.Loop = cbLoop->isChecked();
    if (cbDither) s.Dither = cbDither->currentIndex();
    if (cbPerScene) s.PalettePerScene = cbPerScene->isChecked();
    if (seQuality) s.Quality = seQuality->value();
    return s;
}

void TAnimSettingsDlg::UpdateEstimate() {
    const TAnimSettings s = Settings();
    const int height =
        FSourceWidth > 0 ? std::max(2, int(std::lround(double(s.Width) * FSourceHeight / FSourceWidth / 2)) * 2) : 0;
    lbHeight->setText(QStringLiteral("%1 pixels (by the movie's shape)").arg(height));
    lbEstimate->setText(AnimSizeText(EstimatedAnimBytes(FGif, s, FSeconds, FSourceWidth, FSourceHeight)));
}
