#include "convert/EncoderSettingsDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TEncoderSettingsDlg::TEncoderSettingsDlg(media::TCompressorFilter& filter, QWidget* owner)
    : QDialog(owner), FFilter(filter) {
    setObjectName(QStringLiteral("EncoderSettingsDlg"));
    setWindowTitle(QString::fromStdString(filter.FriendlyName()) + QStringLiteral(" settings"));
    setModal(true);

    auto* form = new QFormLayout;
    for (const media::TCompressorOption& option : filter.Options()) {
        auto* editor = new QSpinBox(this);
        editor->setObjectName(QString::fromStdString(option.Key));
        editor->setRange(option.Min, option.Max);
        editor->setValue(option.Value);
        editor->setToolTip(QStringLiteral("%1 to %2, default %3").arg(option.Min).arg(option.Max).arg(option.Default));
        form->addRow(QString::fromStdString(option.Caption) + QLatin1Char(':'), editor);
        Editors.push_back(editor);
    }

    auto* box = new QDialogButtonBox(this);
    btnOk = box->addButton(QDialogButtonBox::Ok);
    btnCancel = box->addButton(QDialogButtonBox::Cancel);
    btnDefaults = box->addButton(QDialogButtonBox::RestoreDefaults);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnDefaults, &QPushButton::clicked, this, [this] { RestoreDefaults(); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(box);
}

void TEncoderSettingsDlg::Apply() {
    const auto& options = FFilter.Options();
    for (std::size_t i = 0; i < Editors.size() && i < options.size(); ++i)
        FFilter.SetOption(options[i].Key, Editors[i]->value());
}

void TEncoderSettingsDlg::RestoreDefaults() {
    const auto& options = FFilter.Options();
    for (std::size_t i = 0; i < Editors.size() && i < options.size(); ++i)
        Editors[i]->setValue(options[i].Default);
}
