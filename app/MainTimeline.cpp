// The main window's timeline: placed under the track bar, following its
// position and range, moving the position when clicked, and its two parts
// switched on and off from its context menu (the choice is stored).
#include "app/Main.h"
#include "app/TimelineView.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "media/Timeline.h"

#include <QAction>
#include <QVBoxLayout>

namespace {
const QString kTimelineSection = QStringLiteral("Timeline");
}  // namespace

void TMainForm::CreateTimeline() {
    auto* column = qobject_cast<QVBoxLayout*>(centralWidget()->layout());
    tlView = new TTimelineView(centralWidget());
    tlView->SetTrackBar(tbPosition);
    column->insertWidget(column->indexOf(tbPosition->parentWidget()) + 1, tlView);

    connect(tbPosition, &QSlider::valueChanged, tlView, &TTimelineView::SetPosition);
    connect(tbPosition, &TTrackBar::SelectionChanged, tlView, &TTimelineView::SetSelection);
    connect(tlView, &TTimelineView::PositionRequested, this, [this](int frame) {
        if (tbPosition->isEnabled()) tbPosition->SetPosition(frame);
    });

    auto* strip = new QAction(tr("Show the filmstrip"), tlView);
    strip->setObjectName(QStringLiteral("actTimelineStrip"));
    strip->setCheckable(true);
    auto* wave = new QAction(tr("Show the waveform"), tlView);
    wave->setObjectName(QStringLiteral("actTimelineWave"));
    wave->setCheckable(true);
    if (SettingsStore) {
        strip->setChecked(SettingsStore->ReadBool(kTimelineSection, QStringLiteral("Filmstrip"), true));
        wave->setChecked(SettingsStore->ReadBool(kTimelineSection, QStringLiteral("Waveform"), true));
    } else {
        strip->setChecked(true);
        wave->setChecked(true);
    }
    tlView->SetFilmstripShown(strip->isChecked());
    tlView->SetWaveformShown(wave->isChecked());
    connect(strip, &QAction::toggled, this, [this](bool on) {
        tlView->SetFilmstripShown(on);
        if (SettingsStore) SettingsStore->WriteBool(kTimelineSection, QStringLiteral("Filmstrip"), on);
    });
    connect(wave, &QAction::toggled, this, [this](bool on) {
        tlView->SetWaveformShown(on);
        if (SettingsStore) SettingsStore->WriteBool(kTimelineSection, QStringLiteral("Waveform"), on);
    });
    tlView->addAction(strip);
    tlView->addAction(wave);
    tlView->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TMainForm::TimelineMovieOpened() {
    tlView->OpenMovie(MovieInfo.FileName, MovieInfo.FrameCount, MovieInfo.FrameRate,
                      QString::fromStdString(media::TTimelineCache::DefaultFolder()));
    tlView->SetSelection(tbPosition->SelStart(), tbPosition->SelEnd());
    tlView->SetPosition(tbPosition->Position());
}
