// The settings dialog, the "Writing images" dialog and the two window
// commands, headless, with scripted prompts and a recording desktop opener.
#include "capture/CaptureCommands.h"
#include "capture/ImageSettings.h"
#include "capture/ProgressDlg.h"
#include "common/JobSignals.h"
#include "media/MovieReader.h"
#include "platform/DesktopOpener.h"
#include "source/MovieInfo.h"
#include "ImageReaders.h"
#include "ScriptedPrompts.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QKeyEvent>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/resource.h>

namespace fs = std::filesystem;
using media::ptBmp;
using media::ptGif;
using media::ptJpg;
using media::ptPng;

namespace {

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the shown progress dialog until it closes; `tick` is called every
// millisecond meanwhile.
TModalResult RunUntilClosed(QDialog& dialog, std::function<void()> tick = {}) {
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    if (tick) {
        QObject::connect(&poll, &QTimer::timeout, tick);
        poll.start(1);
    }
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a hung batch fails instead of hanging
    if (dialog.isVisible()) loop.exec();
    return dialog.result() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
}

// The number of the file the dialog shows (0 before the first).
int ShownFileNumber(const TProgressForm& progress) {
    bool ok = false;
    const int n = progress.lbFileName->text().mid(1, 8).toInt(&ok);
    return ok ? n : 0;
}

// Holds the batch's job when it names file `number` (on the job's thread,
// before that file is handed to the writer) until Release(): the dialog then
// shows that name while the job waits, as a user's click comes while a name
// shows. Released at the latest when it goes.
class TJobHold {
public:
    TJobHold(TProgressForm& progress, int number) {
        QObject::connect(
            progress.JobSignals, &TJobSignals::notice, progress.JobSignals,
            [this, number](const media::TJobNotice& n) {
                if (n.Kind != media::TJobNotice::Writing || QString::fromStdString(n.Text).mid(1, 8).toInt() != number)
                    return;
                std::unique_lock lock(Mutex);
                Changed.wait_for(lock, std::chrono::seconds(60), [this] { return Released; });
            },
            Qt::DirectConnection);
    }
    ~TJobHold() { Release(); }
    void Release() {
        {
            std::lock_guard lock(Mutex);
            Released = true;
        }
        Changed.notify_all();
    }

private:
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Released = false;
};

// Runs the event loop until `run` (a snapshot under way) is gone.
void WaitUntilGone(QObject* run) {
    ASSERT_NE(run, nullptr);
    QEventLoop loop;
    QObject::connect(run, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a hung snapshot fails instead of hanging
    loop.exec();
}

}  // namespace

TEST(ImageForm, StartsWithTheInitialChoices) {
    TImageForm form;
    EXPECT_EQ(form.windowTitle(), "Image capture settings");
    EXPECT_EQ(form.PictureType(), ptJpg);
    EXPECT_EQ(form.cbImageType->count(), 4);
    EXPECT_EQ(form.cbImageType->itemText(3), "PNG image");
    EXPECT_EQ(form.tbQuantity->value(), 9);
    EXPECT_EQ(form.JpegQualityStep(), 9);
    EXPECT_EQ(form.PngQualityStep(), 9);
    EXPECT_EQ(form.tbJpgQuality->maximum(), 24);
    EXPECT_EQ(form.tbPNGQuality->maximum(), 9);
    EXPECT_EQ(form.seSample->minimum(), 3);
    EXPECT_EQ(form.seSample->maximum(), 999999);
    EXPECT_EQ(form.lbThreeFrames->text(), "Three frames");
    EXPECT_EQ(form.lbAllFrames->text(), "All frames");
    EXPECT_EQ(form.lbSamples->text(), "Samples");
}

// The proposal as the spin edit shows it, and the caption that follows it.
TEST(ImageForm, ProposedCountsAndCaption) {
    TImageForm form;
    const int positions[] = {1, 2, 9, 50, 75, 76, 99, 100};
    struct { int L; int n[8]; } rows[] = {
        {10000, {3, 16, 70, 354, 462, 9298, 9999, 10000}},
        {1000, {3, 16, 70, 354, 462, 930, 1000, 1000}},
        {101, {3, 16, 70, 101, 101, 94, 101, 101}},
        {60, {3, 3, 8, 42, 55, 56, 60, 60}},
        {2, {3, 3, 3, 3, 3, 3, 3, 3}},
    };
    for (const auto& r : rows) {
        form.RangeStart = 1000;
        form.RangeEnd = 1000 + r.L;
        for (int i = 0; i < 8; ++i) {
            form.tbQuantity->setValue(positions[i]);
            form.ProposeSampleCount();
            EXPECT_EQ(form.seSample->value(), r.n[i]) << "L=" << r.L << " p=" << positions[i];
            EXPECT_EQ(form.SampleCount, r.n[i]);
            EXPECT_EQ(form.gbQuantity->title(), QString("Quantity: %1 images").arg(r.n[i]));
        }
    }
    // Moving the bar proposes at once; stepping the count by hand is not capped.
    form.RangeStart = 0;
    form.RangeEnd = 60;
    form.tbQuantity->setValue(50);
    EXPECT_EQ(form.SampleCount, 42);
    form.seSample->stepBy(30);
    EXPECT_EQ(form.SampleCount, 72);
    EXPECT_EQ(form.gbQuantity->title(), "Quantity: 72 images");

    // The count can be typed; what is beyond the limits is not taken.
    struct {
        const char* Typed;
        int Count;
    } typed[] = {{"250", 250}, {"1", 72}, {"5000000", 500000}, {"12x", 12}};
    for (const auto& t : typed) {
        form.seSample->setValue(72);
        form.seSample->findChild<QLineEdit*>()->selectAll();
        QTest::keyClicks(form.seSample, t.Typed);
        form.seSample->interpretText();
        QTest::keyClick(form.seSample, Qt::Key_Tab);
        EXPECT_EQ(form.SampleCount, t.Count) << t.Typed;
    }
}

TEST(ImageForm, PictureTypeShowsItsQualityPage) {
    TImageForm form;
    form.tbJpgQuality->setValue(3);
    form.tbPNGQuality->setValue(1);
    const int pages[] = {0, 1, 2, 3};
    for (int type = 0; type < 4; ++type) {
        form.cbImageType->setCurrentIndex(type);
        EXPECT_EQ(form.NBPictParam->currentIndex(), pages[type]);
    }
    EXPECT_EQ(form.NBPictParam->currentWidget(), form.gbPNGQuality);
    form.cbImageType->setCurrentIndex(ptJpg);
    EXPECT_EQ(form.NBPictParam->currentWidget(), form.gbJpgQuality);
    EXPECT_EQ(form.JpegQualityStep(), 3);
    EXPECT_EQ(form.PngQualityStep(), 1);
}

// A count stepped by hand lasts until the dialog shows again.
TEST(ImageForm, ShowingAgainProposesAgain) {
    TScriptedPromptsInstaller prompts;
    TImageForm form;
    form.RangeStart = 0;
    form.RangeEnd = 1000;
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& f = static_cast<TImageForm&>(d);
        EXPECT_EQ(f.SampleCount, 70);
        f.seSample->stepBy(5);
        return TModalResult::Ok;
    });
    prompts->ModalHandlers.push_back([](QDialog& d) {
        EXPECT_EQ(static_cast<TImageForm&>(d).SampleCount, 70);
        return TModalResult::Cancel;
    });
    EXPECT_EQ(Prompts().ExecModal(form), TModalResult::Ok);
    EXPECT_EQ(form.SampleCount, 75);
    EXPECT_EQ(Prompts().ExecModal(form), TModalResult::Cancel);
}

class CaptureCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        MovieDir = testmovie::MakeTempDir("fw-capture-ui-movie");
        MoviePath = MovieDir + "/count.avi";
        testmovie::TMovieSpec spec;
        spec.Frames = 101;
        testmovie::MakeTestMovie(MoviePath, spec);
    }
    static void TearDownTestSuite() { fs::remove_all(MovieDir); }

    void SetUp() override {
        Dir = testmovie::MakeTempDir("fw-capture-ui");
        Movie.FileName = QString::fromStdString(MoviePath);
        media::TMovieReader reader;
        ASSERT_TRUE(reader.Open(MoviePath)) << reader.LastError();
        ASSERT_EQ(reader.Facts().VideoStream, 0);
        Movie.FrameRate = reader.Facts().FrameRate;
        Movie.FrameWidth = 160;
        Movie.FrameHeight = 120;
        Prompts->DefaultAnswer = TModalResult::Ok;  // error boxes have one OK button
        auto opener = std::make_unique<TRecordingDesktopOpener>();
        Opener = opener.get();
        PreviousOpener = SetDesktopOpener(std::move(opener));
        Host.Owner = nullptr;
        Host.ImageForm = &Form;
        Host.Movie = &Movie;
        Host.RangeStart = 0;
        Host.RangeEnd = 100;
        Host.LoadPreferences = [this] { Calls << "load"; };
        Host.SavePreferences = [this] { Calls << "save"; };
        Host.ImageFolder = [this] {
            Calls << "folder";
            return ImageFolder;
        };
        ImageFolder = QString::fromStdString(Dir) + "/";
    }
    void TearDown() override {
        SetDesktopOpener(std::move(PreviousOpener));
        if (!HasFailure()) fs::remove_all(Dir);
    }
    // The settings dialog answers OK with this type and count.
    void ChooseSettings(uint16_t type, int count) {
        Prompts->ModalHandlers.push_back([type, count](QDialog& d) {
            auto& f = static_cast<TImageForm&>(d);
            f.cbImageType->setCurrentIndex(type);
            f.seSample->setValue(count);
            return TModalResult::Ok;
        });
    }
    QStringList Explored() const {
        QStringList list;
        for (const auto& r : Opener->Requests)
            if (r.Action == TDesktopAction::Explore) list << r.Target;
        return list;
    }

    static std::string MovieDir, MoviePath;
    std::string Dir;
    TScriptedPromptsInstaller Prompts;
    TMovieInfo Movie;
    TImageForm Form;
    TCaptureHost Host;
    QString ImageFolder;
    QStringList Calls;
    TRecordingDesktopOpener* Opener = nullptr;
    std::unique_ptr<TDesktopOpener> PreviousOpener;
};
std::string CaptureCommands::MovieDir, CaptureCommands::MoviePath;

TEST_F(CaptureCommands, BatchWritesIntoATimeStampedFolderAndOpensIt) {
    ChooseSettings(ptPng, 3);
    TProgressForm* seen = nullptr;
    Prompts->ModalHandlers.push_back([&](QDialog& d) {
        seen = static_cast<TProgressForm*>(&d);
        EXPECT_EQ(d.windowTitle(), "Writing images");
        const TModalResult r = RunUntilClosed(d);
        EXPECT_EQ(seen->ProgressBar1->maximum(), 3);
        EXPECT_EQ(seen->ProgressBar1->value(), 2);
        EXPECT_EQ(seen->lbFileName->text(), "B00000003.png");
        return r;
    });
    const QString folder = CaptureImages(Host);
    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(ImageFolder) + "\\d{11}/$").match(folder).hasMatch())
        << folder.toStdString();
    EXPECT_EQ(Calls, (QStringList{"load", "folder", "save"}));
    EXPECT_EQ(Listing(folder.toStdString()),
              (std::vector<std::string>{"B00000001.png", "B00000002.png", "B00000003.png"}));
    const TDecodedImage img = ReadPng(folder.toStdString() + "B00000003.png");
    EXPECT_EQ(testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height), 66);
    EXPECT_EQ(Explored(), QStringList{folder});
    EXPECT_TRUE(Prompts->Texts().isEmpty());
}

TEST_F(CaptureCommands, NothingWithoutAMovieOrWhileBusyOrOnCancel) {
    Host.Busy = true;
    EXPECT_EQ(CaptureImages(Host), "");
    Host.Busy = false;
    Movie.FrameRate = 0;
    EXPECT_EQ(CaptureImages(Host), "");
    Movie.FrameRate = 25;
    Prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Cancel; });
    EXPECT_EQ(CaptureImages(Host), "");
    EXPECT_TRUE(Calls.isEmpty());
    EXPECT_TRUE(Opener->Requests.empty());
    EXPECT_EQ(Prompts->RecordsOf(TPromptKind::Modal).size(), 1u);
}

// "Stop" (like Esc and the close box) ends the batch before the next fetch.
TEST_F(CaptureCommands, StopKeepsTheFilesWrittenSoFar) {
    ChooseSettings(ptBmp, 50);
    TCaptureResult result;
    int shownAtClick = 0;
    Prompts->ModalHandlers.push_back([&](QDialog& d) {
        auto& progress = static_cast<TProgressForm&>(d);
        TJobHold hold(progress, 2);
        const TModalResult r = RunUntilClosed(d, [&] {
            if (!shownAtClick && ShownFileNumber(progress) >= 2) {
                shownAtClick = ShownFileNumber(progress);
                progress.btnStop->click();
                hold.Release();
            }
        });
        result = progress.Result();
        return r;
    });
    const QString folder = CaptureImages(Host);
    EXPECT_EQ(result.End, TCaptureResult::Stopped);
    ASSERT_GE(shownAtClick, 2);
    ASSERT_LT(shownAtClick, 50);
    // The click is seen before the next fetch: no file after the one shown.
    const auto files = Listing(folder.toStdString());
    ASSERT_EQ(files.size(), static_cast<size_t>(shownAtClick));
    EXPECT_EQ(files.back(), MakeFileName("B", shownAtClick, "bmp").toStdString());
    EXPECT_EQ(Explored(), QStringList{folder});
}

TEST_F(CaptureCommands, EscAndCloseBoxStopToo) {
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way ? "close box" : "Esc");
        ChooseSettings(ptBmp, 50);
        TCaptureResult result;
        int shownAtClick = 0;
        Prompts->ModalHandlers.push_back([&](QDialog& d) {
            auto& progress = static_cast<TProgressForm&>(d);
            TJobHold hold(progress, 3);
            const TModalResult r = RunUntilClosed(d, [&] {
                if (shownAtClick || ShownFileNumber(progress) < 3) return;
                shownAtClick = ShownFileNumber(progress);
                if (way == 0) {
                    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                    QApplication::sendEvent(&progress, &esc);
                } else {
                    progress.close();
                }
                hold.Release();
            });
            result = progress.Result();
            return r;
        });
        const QString folder = CaptureImages(Host);
        EXPECT_EQ(result.End, TCaptureResult::Stopped);
        EXPECT_EQ(Listing(folder.toStdString()).size(), static_cast<size_t>(shownAtClick));
        EXPECT_LT(shownAtClick, 50);
        // Two batches within one 86.4 ms step would share the folder name.
        QThread::msleep(100);
    }
}

// Closed before its timer fired: the batch never begins, later either.
TEST_F(CaptureCommands, ClosedBeforeTheBatchBegins) {
    ChooseSettings(ptJpg, 3);
    Prompts->ModalHandlers.push_back([](QDialog& d) {
        d.reject();
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        return TModalResult::Cancel;
    });
    const QString folder = CaptureImages(Host);
    EXPECT_FALSE(fs::exists(folder.toStdString()));
}

// The mend: a write error ends the batch with its message and the dialog
// closes; the files already written stay and the folder opens.
TEST_F(CaptureCommands, WriteErrorClosesTheDialogAndOpensTheFolder) {
    ChooseSettings(ptJpg, 6);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    bool closed = false;
    int limitedAt = 0;
    Prompts->ModalHandlers.push_back([&](QDialog& d) {
        auto& progress = static_cast<TProgressForm&>(d);
        TJobHold hold(progress, 2);
        const TModalResult r = RunUntilClosed(d, [&] {
            if (!limitedAt && ShownFileNumber(progress) >= 2) {
                limitedAt = ShownFileNumber(progress);
                rlimit small = old;
                small.rlim_cur = 500;
                setrlimit(RLIMIT_FSIZE, &small);
                hold.Release();
            }
        });
        closed = !progress.isVisible();
        return r;
    });
    const QString folder = CaptureImages(Host);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(closed);
    const auto questions = Prompts->RecordsOf(TPromptKind::Question);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].Type, TMsgDlgType::Error);
    ASSERT_GE(limitedAt, 2);
    ASSERT_LT(limitedAt, 6);
    // The file shown when the disk filled may still have been in writing.
    const auto files = Listing(folder.toStdString());
    ASSERT_TRUE(files.size() == size_t(limitedAt) || files.size() == size_t(limitedAt - 1)) << files.size();
    EXPECT_TRUE(questions[0].Text.startsWith("Can not write file " + folder + MakeFileName("B", files.size() + 1, "jpg")))
        << questions[0].Text.toStdString();
    EXPECT_EQ(ReadJpeg(folder.toStdString() + files.back()).Width, 160);
    EXPECT_EQ(Explored(), QStringList{folder});
}

TEST_F(CaptureCommands, BatchFolderThatCannotBeMade) {
    std::ofstream(Dir + "/plain") << "x";
    ImageFolder = QString::fromStdString(Dir) + "/plain/";
    ChooseSettings(ptGif, 3);
    Prompts->ModalHandlers.push_back([](QDialog& d) { return RunUntilClosed(d); });
    const QString folder = CaptureImages(Host);
    EXPECT_EQ(Prompts->Texts(), QStringList{"Can not create folder " + folder});
    EXPECT_FALSE(fs::exists(folder.toStdString()));
}

TEST_F(CaptureCommands, SnapshotSaysWhereItWent) {
    WaitUntilGone(CaptureThisFrame(Movie, 25, false, ImageFolder));
    ASSERT_EQ(Prompts->Texts().size(), 1);
    const QString text = Prompts->Texts()[0];
    EXPECT_TRUE(QRegularExpression("^Image was saved as " + QRegularExpression::escape(ImageFolder) + "\\d{11}\\.jpg$")
                    .match(text).hasMatch()) << text.toStdString();
    const std::string path = text.mid(QString("Image was saved as ").size()).toStdString();
    const TDecodedImage img = ReadJpeg(path);
    EXPECT_EQ(img.Width, 160);
    EXPECT_EQ(testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height), 25);
}

TEST_F(CaptureCommands, SnapshotErrorsAndGuards) {
    EXPECT_EQ(CaptureThisFrame(Movie, 25, true, ImageFolder), nullptr);  // a conversion runs
    Movie.FrameRate = 0;
    EXPECT_EQ(CaptureThisFrame(Movie, 25, false, ImageFolder), nullptr);  // no movie
    EXPECT_TRUE(Prompts->Records.empty());
    Movie.FrameRate = 25;
    WaitUntilGone(CaptureThisFrame(Movie, 25, false, ImageFolder + "missing/"));
    const auto questions = Prompts->RecordsOf(TPromptKind::Question);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].Type, TMsgDlgType::Error);
    EXPECT_TRUE(questions[0].Text.startsWith("Can not write file " + ImageFolder + "missing/"));
    EXPECT_TRUE(Prompts->RecordsOf(TPromptKind::Message).empty());
}

