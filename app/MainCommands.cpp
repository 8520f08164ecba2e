// Handlers of the main window whose commands live in other folders. Each is
// replaced by its owner's code as it lands (conversion: convert/, captures and
// the snapshot: capture/, update check, e-mail, web site and About: support/).
#include "app/Main.h"

#include <QLabel>
#include <QTimer>

void TMainForm::CreateImageForm() {}
void TMainForm::DestroyImageForm() {}
void TMainForm::Capturethisframe1Click() {
    if (MovieInfo.FrameRate == 0 || lbBusy->isVisible())
        return;
}
void TMainForm::sbExecuteClick() {}
void TMainForm::Checkupdateautomatically1Click() {}
void TMainForm::Checkupdate1Click() {}
void TMainForm::Emailsupport1Click() {}
void TMainForm::Website1Click() {}
void TMainForm::About1Click() {}
void TMainForm::TimerUpdateTimer() { TimerUpdate->stop(); }
QString TMainForm::WebsiteCaption() { return QStringLiteral("Website: www.framewhisk.example"); }
