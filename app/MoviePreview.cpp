// The main window's side of the open movie: probing a file into MovieInfo,
// the position track bar, the preview and the position text.
#include "app/Main.h"
#include "app/SegmentsPanel.h"

#include "app/Playback.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "media/MovieReader.h"
#include "mru/MruUnit.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Nearest integer, ties to even (the default rounding mode).
int64_t RoundHalfEven(double v) { return static_cast<int64_t>(std::nearbyint(v)); }

uint16_t ToDim(int64_t v) {
    return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, std::numeric_limits<uint16_t>::max()));
}

uint16_t AreaDim(int v) { return ToDim(v); }

}  // namespace

TPreviewSize FitPreviewSize(uint16_t aw, uint16_t ah, int32_t vw, int32_t vh) {
    if (vw <= 0 || vh <= 0)
        return {};
    int64_t w = 0;
    int64_t h = 0;
    if (aw >= vw && ah >= vh) {
        // A movie that fits is shown at its own size, never enlarged.
        w = vw;
        h = vh;
    } else if (static_cast<double>(ah) / vh > static_cast<double>(aw) / vw) {
        w = aw;
        h = RoundHalfEven(static_cast<double>(int64_t{aw} * vh) / vw);
    } else {
        h = ah;
        w = RoundHalfEven(static_cast<double>(int64_t{ah} * vw) / vh);
    }
    return {ToDim(w), ToDim(h)};
}

TPreviewSize TMainForm::FitPreviewSize(uint16_t aw, uint16_t ah) const {
    return ::FitPreviewSize(aw, ah, MovieInfo.FrameWidth, MovieInfo.FrameHeight);
}

bool TMainForm::OpenMovie(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;

    // The file is probed aside: a file that is no usable movie leaves the
    // window as it was, with the movie open before (if any) fully usable.
    TMovieInfo probed;
    probed.FileName = path;
    media::TMovieReader reader;
    reader.Open(QFile::encodeName(path).toStdString());  // a file it cannot read shows no video stream
    for (int i = 0; i < reader.StreamCount() && !probed.HasAudio; ++i)
        probed.HasAudio = reader.StreamType(i) == media::TMajorType::Audio;
    const media::TMovieFacts facts = reader.Facts();
    // The video stream's own length, as the file states or measures it; a
    // rate of 0, NaN or infinity makes no usable movie; an unknown length
    // counts as 0.
    const double length = reader.StreamLength(facts.VideoStream);
    const double rate = facts.FrameRate;
    if (facts.VideoStream < 0 || !(std::isfinite(rate) && rate > 0)) {
        ShowMessage(QStringLiteral("Can not find the video stream in ") + path);
        return false;
    }
    probed.StreamLength = std::isfinite(length) && length > 0 ? length : 0;
    probed.FrameRate = rate;
    probed.FrameTimes = facts.FrameTimes;
    // The track bar holds 32-bit positions.
    probed.FrameCount = std::clamp<int64_t>(facts.FrameCount, 0, std::numeric_limits<int32_t>::max());
    probed.MediaType = facts.MediaType;
    probed.FrameWidth = probed.MediaType.Width;
    probed.FrameHeight = probed.MediaType.Height;
    // A video track that gives no picture at all (no frames, or none that
    // decodes) is no movie either; its first picture at the preview's size
    // tells.
    // (A window not laid out yet has no area: a small one stands in.)
    const TPreviewSize firstSize =
        ::FitPreviewSize(AreaDim(std::max(pBackground1->width(), 160)), AreaDim(std::max(pBackground1->height(), 120)),
                         probed.FrameWidth, probed.FrameHeight);
    media::TMovieReader::TPictureRequest request;
    request.Width = firstSize.Width;
    request.Height = firstSize.Height;
    media::TRgbPicture first;
    if (firstSize.Width == 0 || firstSize.Height == 0 || !reader.PictureAt(request, first) || first.Empty()) {
        ShowMessage(QStringLiteral("No picture can be decoded from the video stream in ") + path);
        return false;
    }

    odMovie.FileName = path;
    MovieInfo = std::move(probed);
    SourceFolder = QFileInfo(path).absolutePath() + QLatin1Char('/');
    SetCommandsEnabled(Files1, true);
    SetCommandsEnabled(Edit1, true);
    SB1Panels[2]->setText(QStringLiteral("Filename: ") + MovieInfo.FileName);
    // A notice belongs to the movie it was about.
    lbNotice->clear();
    lbNotice->setVisible(false);

    // The preview reads the movie with a decoder of its own.
    PreviewWorker->Cancel();
    FPreviewPending = false;
    FShownPosition = -1;
    FRequestedPosition = -1;
    PreviewWorker->Open(QFile::encodeName(path).toStdString());
    SegmentsPanel->MovieClosing();
    tbPosition->setMaximum(static_cast<int>(MovieInfo.FrameCount));
    tbPosition->setMinimum(0);
    tbPosition->SetSelStart(0);
    tbPosition->SetSelEnd(tbPosition->maximum());
    tbPosition->SetPosition(0);
    sbExecute->setEnabled(true);
    tbPosition->setEnabled(true);
    sbLocStart->setEnabled(true);
    sbLocEnd->setEnabled(true);
    tbPositionChange();

    MostRecentFiles->AddFile(MovieInfo.FileName);
    SavePreferences();
    SB1Panels[1]->setText(QStringLiteral("Duration: ") + TimecodeText(MovieInfo.StreamLength));
    SegmentsPanel->MovieOpened(path);
    if (auto* playback = findChild<TPlayback*>()) playback->MovieOpened();
    MovieShown();
    TimelineMovieOpened();
    return true;
}

void TMainForm::OpenRecentFile(QObject* sender, const QString& path) {
    if (JobState() != TJobState::Idle)
        return;  // a running job keeps its movie
    if (QFileInfo(path).isFile())
        OpenMovie(path);
    else
        ShowMessage(QStringLiteral("File ") + path + QStringLiteral(" does not exists."));
}

// The preview never decodes on the window's thread: the preview worker
// decodes and hands its pictures back through the event queue.
void TMainForm::tbPositionChange() {
    if (MovieInfo.FrameRate == 0 || !PreviewWorker)
        return;
    const TPreviewSize size = FitPreviewSize(AreaDim(pBackground1->width()), AreaDim(pBackground1->height()));
    const int position = tbPosition->Position();
    // The frame on show at its size stays; only the text may need to change (another unit).
    if (position == FShownPosition && imPreview->pixmap().size() == QSize(size.Width, size.Height) && !FPreviewPending) {
        ShowPositionText(position);
        return;
    }
    FRequestedPosition = position;
    FPreviewPending = true;
    FPreviewRequest = PreviewWorker->Request(position, size.Width, size.Height);
}

void TMainForm::PreviewDelivered(TPreviewWorker::TResult&& result) {
    if (result.Request != FPreviewRequest)
        return;  // the bar has moved on since
    if (result.Exact)
        FPreviewPending = false;
    if (result.Picture.Empty())
        return;  // nothing could be decoded: the picture on show stays
    const media::TRgbPicture& p = result.Picture;
    const QImage frame(p.Rgb.data(), p.Width, p.Height, p.Width * 3, QImage::Format_RGB888);
    imPreview->setPixmap(QPixmap::fromImage(frame.copy()));
    if (result.Exact) {
        FShownPosition = result.Position;
        PreviewBitmap->Width = p.Width;
        PreviewBitmap->Height = p.Height;
        PreviewBitmap->Rgb = std::move(result.Picture.Rgb);
    }
    ShowPositionText(result.Position);
    emit PreviewShown(result.Position, result.Exact);
}

void TMainForm::ShowPositionText(int position) {
    QString text;
    if (Timecode1->isChecked()) {
        // A movie shorter than half a frame has no frames to divide by.
        // A frame of a movie off one grid shows its own time (the end its
        // length); others keep the position's share of the length.
        const auto& times = MovieInfo.FrameTimes;
        const double seconds = !times.empty() ? (position >= 0 && size_t(position) < times.size() ? times[size_t(position)]
                                                                                                 : MovieInfo.StreamLength)
                               : tbPosition->maximum() > 0 ? position * MovieInfo.StreamLength / tbPosition->maximum()
                                                    : position / MovieInfo.FrameRate;
        text = TimecodeText(seconds);
    } else {
        text = QString::number(position);
    }
    SB1Panels[0]->setText(QStringLiteral("Position: ") + text);
}

bool TMainForm::PreviewSettled() const { return !FPreviewPending && !FRefreshQueued; }

void TMainForm::QueuePreviewRefresh() {
    // Position changes arrive faster than frames decode while the bar is
    // dragged: refresh once for the latest position when the queue is idle
    // instead of working through every position on the way.
    if (FRefreshQueued)
        return;
    FRefreshQueued = true;
    QTimer::singleShot(0, this, [this] {
        FRefreshQueued = false;
        // A new position, or the same one again after its frame could not be decoded.
        const int position = tbPosition->Position();
        if (position != FRequestedPosition || (!FPreviewPending && position != FShownPosition)) {
            try {
                tbPositionChange();
            } catch (const std::exception& e) {
                MessageDlg(QString::fromUtf8(e.what()), TMsgDlgType::Error, mbOK);
            }
        }
    });
}

void TMainForm::pBackground1Resize() { tbPositionChange(); }

void TMainForm::Timecode1Click(QAction* sender) {
    if (!sender || sender->isChecked())
        return;
    const bool c = Timecode1->isChecked();
    Timecode1->setChecked(!c);
    FrameNumber1->setChecked(c);
    tbPositionChange();
}
