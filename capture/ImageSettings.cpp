#include "capture/ImageSettings.h"

#include "capture/CaptureBatch.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

TImageForm::TImageForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Image capture settings"));

    gbImageType = new QGroupBox(QStringLiteral("Picture type "), this);
    cbImageType = new QComboBox(gbImageType);
    cbImageType->setEditable(false);
    cbImageType->addItems({QStringLiteral("GIF image"), QStringLiteral("JPG image"), QStringLiteral("BMP image"),
                           QStringLiteral("PNG image")});
    cbImageType->setCurrentIndex(media::ptJpg);
    (new QVBoxLayout(gbImageType))->addWidget(cbImageType);

    gbQuantity = new QGroupBox(QStringLiteral("Quantity"), this);
    lbThreeFrames = new QLabel(QStringLiteral("Three frames"), gbQuantity);
    lbAllFrames = new QLabel(QStringLiteral("All frames"), gbQuantity);
    tbQuantity = new QSlider(Qt::Horizontal, gbQuantity);
    tbQuantity->setRange(1, 100);
    tbQuantity->setValue(9);
    tbQuantity->setSingleStep(1);
    tbQuantity->setPageStep(10);
    tbQuantity->setTickInterval(1);
    tbQuantity->setTickPosition(QSlider::TicksAbove);
    auto* quantity = new QGridLayout(gbQuantity);
    quantity->addWidget(lbThreeFrames, 0, 0, Qt::AlignLeft);
    quantity->addWidget(lbAllFrames, 0, 1, Qt::AlignRight);
    quantity->addWidget(tbQuantity, 1, 0, 1, 2);

    NBPictParam = new QStackedWidget(this);
    NBPictParam->addWidget(new QWidget(NBPictParam));  // GIF: nothing to set
    gbJpgQuality = QualityGroup(QStringLiteral("Jpg quality "), tbJpgQuality, 24, 9);
    NBPictParam->addWidget(gbJpgQuality);
    NBPictParam->addWidget(new QWidget(NBPictParam));  // BMP: nothing to set
    gbPNGQuality = QualityGroup(QStringLiteral("PNG quality "), tbPNGQuality, 9, 9);
    NBPictParam->addWidget(gbPNGQuality);

    lbSamples = new QLabel(QStringLiteral("Samples"), this);
    seSample = new QSpinBox(this);
    seSample->setRange(3, 999999);
    seSample->setSingleStep(1);
    seSample->setValue(3);
    // An ordinary number box: typed or stepped, held within its limits.
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);

    auto* top = new QGridLayout;
    top->addWidget(gbImageType, 0, 0);
    top->addWidget(NBPictParam, 0, 1, 2, 1);
    top->addWidget(gbQuantity, 1, 0);
    top->setColumnStretch(0, 5);
    top->setColumnStretch(1, 4);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lbSamples);
    bottom->addWidget(seSample);
    bottom->addStretch();
    bottom->addWidget(btnOk);
    bottom->addWidget(btnCancel);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(bottom);
    setFixedSize(405, 220);

    connect(cbImageType, &QComboBox::currentIndexChanged, this, [this] { cbImageTypeChange(); });
    connect(tbQuantity, &QSlider::valueChanged, this, [this] { tbQuantityChange(); });
    connect(seSample, &QSpinBox::valueChanged, this, [this] { seSampleChange(); });
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    NBPictParam->setCurrentIndex(cbImageType->currentIndex());
    seSampleChange();
}

QGroupBox* TImageForm::QualityGroup(const QString& caption, QSlider*& bar, int maximum, int position) {
    auto* group = new QGroupBox(caption, NBPictParam);
    bar = new QSlider(Qt::Horizontal, group);
    bar->setRange(0, maximum);
    bar->setValue(position);
    bar->setTickPosition(QSlider::TicksAbove);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Small, low"), group), 0, 0, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("Large, good"), group), 0, 1, Qt::AlignRight);
    grid->addWidget(bar, 1, 0, 1, 2);
    return group;
}

uint16_t TImageForm::PictureType() const { return static_cast<uint16_t>(cbImageType->currentIndex()); }
int TImageForm::JpegQualityStep() const { return tbJpgQuality->value(); }
int TImageForm::PngQualityStep() const { return tbPNGQuality->value(); }

void TImageForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TImageForm::FormShow() {
    NBPictParam->setCurrentIndex(cbImageType->currentIndex());
    ProposeSampleCount();
}

void TImageForm::cbImageTypeChange() { NBPictParam->setCurrentIndex(cbImageType->currentIndex()); }

void TImageForm::tbQuantityChange() { ProposeSampleCount(); }

void TImageForm::ProposeSampleCount() {
    const int64_t n = ProposedSampleCount(tbQuantity->value(), tbQuantity->maximum(),
                                          static_cast<int64_t>(RangeEnd) - RangeStart);
    // The spin edit keeps every value within its limits 3..999,999.
    seSample->setValue(static_cast<int>(std::clamp<int64_t>(n, seSample->minimum(), seSample->maximum())));
    seSampleChange();
}

void TImageForm::seSampleChange() {
    SampleCount = seSample->value();
    gbQuantity->setTitle(QStringLiteral("Quantity: %1 images").arg(SampleCount));
}
