// The main window's commands whose work lives in other folders: image
// captures and the snapshot (capture/), the update check, e-mail, web site
// and About box (support/). Each handler is a thin call.
#include "app/Main.h"

#include "app/TrackBar.h"
#include "capture/CaptureCommands.h"
#include "capture/ImageSettings.h"
#include "support/About.h"
#include "support/MyCheckUpdate.h"
#include "support/SupportInfo.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

void TMainForm::CreateImageForm() { ImageForm = new TImageForm(this); }

void TMainForm::DestroyImageForm() {
    delete ImageForm;  // a child of the window; freed here, in its place in the destroy order
    ImageForm = nullptr;
}

void TMainForm::Capturethisframe1Click() {
    CaptureThisFrame(MovieInfo, tbPosition->Position(), ConversionUnderWay(), ImageFolder);
}

void TMainForm::Checkupdateautomatically1Click() {
    AutomaticUpdateCheckToggled(Checkupdateautomatically1->isChecked(), *TimerUpdate);
}

void TMainForm::Checkupdate1Click() {
    CheckForUpdate(this, QString::fromLatin1(ProgramVersion), QString::fromLatin1(ProgramName), true);
}

void TMainForm::TimerUpdateTimer() {
    UpdateTimerFired(*TimerUpdate, Checkupdateautomatically1->isChecked(), this);
}

void TMainForm::Emailsupport1Click() { EmailSupport(windowTitle()); }
void TMainForm::Website1Click() { OpenWebsite(); }
void TMainForm::About1Click() { ShowAbout(this); }
