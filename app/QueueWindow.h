// The queue of clip jobs in the main window: the Files menu's "Add to queue"
// (the open movie, its segments or marked range, the mode with its settings
// and an output name chosen in the save dialog, as one queued job) and
// "Queue..." (this window), which lists the jobs with their state and
// starts, stops, removes and reorders them. The jobs run one after another
// (convert/JobQueue.h) while the main window stays usable; the queue is kept
// in the settings hive. Window thread only.
#pragma once

#include "convert/JobQueue.h"

#include <QWidget>
#include <memory>

class QAction;
class QLabel;
class QTreeWidget;
class QPushButton;
class TMainForm;

class TQueueWindow : public QWidget {
    Q_OBJECT
public:
    // A window of its own, owned by the main window, which gets the items.
    explicit TQueueWindow(TMainForm& form);
    ~TQueueWindow() override;

    QTreeWidget* lvJobs = nullptr;
    QPushButton *btStart = nullptr, *btStop = nullptr, *btRemove = nullptr, *btUp = nullptr, *btDown = nullptr;
    QAction *actAddToQueue = nullptr, *actShowQueue = nullptr;

    TJobQueue& Queue() { return *FQueue; }

    // "Add to queue": false when nothing was queued (no movie, no range, a
    // mode that makes images, or the save dialog cancelled).
    bool AddCurrent();
    // The buttons, on the selected job.
    void StartSelected();
    void StopRunning();
    void RemoveSelected();
    void MoveSelected(int by);

    // The state column of a job: "waiting", "running 40%", "done",
    // "stopped", "failed: " + the sentence.
    static QString StateText(const TQueuedJob& job);

private:
    void ShowJobs();
    void ShowProgress(int index);
    void UpdateButtons();
    int Selected() const;

    TMainForm& FForm;
    std::unique_ptr<TJobQueue> FQueue;
};
