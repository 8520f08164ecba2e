// "Image capture settings": picture type, number of images and quality of the
// capture batch. Created once by the main window and kept for the run, so the
// choices carry over from batch to batch; they are stored nowhere.
#pragma once

#include <QDialog>
#include <cstdint>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QStackedWidget;

class TImageForm : public QDialog {
    Q_OBJECT
public:
    explicit TImageForm(QWidget* parent = nullptr);

    // The clip range as frame numbers; set by the caller before showing.
    int32_t RangeStart = 0;
    int32_t RangeEnd = 0;
    // Always the spin edit's value.
    int32_t SampleCount = 3;

    // The choices, read after the dialog closed with OK.
    uint16_t PictureType() const;  // 0 GIF, 1 JPG, 2 BMP, 3 PNG
    int JpegQualityStep() const;   // 0..24
    int PngQualityStep() const;    // 0..9

    // Proposes SampleCount from the quantity position and the range.
    void ProposeSampleCount();

    QGroupBox* gbImageType;
    QComboBox* cbImageType;
    QGroupBox* gbQuantity;
    QLabel* lbThreeFrames;
    QLabel* lbAllFrames;
    QSlider* tbQuantity;
    QStackedWidget* NBPictParam;
    QGroupBox* gbJpgQuality;
    QSlider* tbJpgQuality;
    QGroupBox* gbPNGQuality;
    QSlider* tbPNGQuality;
    QLabel* lbSamples;
    QSpinBox* seSample;
    QPushButton* btnOk;  // OK
    QPushButton* btnCancel;  // Cancel

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void cbImageTypeChange();
    void tbQuantityChange();
    void seSampleChange();
    QGroupBox* QualityGroup(const QString& caption, QSlider*& bar, int maximum, int position);
};
