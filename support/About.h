// The About box: a borderless, always-on-top panel with the program's name,
// version, processor speed, support links and credits. A mouse press on the
// panel, the titles, the version or the icon closes it, and so does a key
// that the memo does not use; the links and the memo keep it open.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QWidget;

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* owner = nullptr);

    void FormShow();       // fills lbVersion and lbCPUSpeed (runs when shown)
    void lbEmailClick();   // new e-mail to support
    void lbWebsiteClick();   // the web site

    QWidget* pAbout;
    QLabel* lbDescriptionShadow;
    QLabel* lbDescription;
    QLabel* lbVersion;
    QLabel* lbProgramNameShadow;
    QLabel* lbProgramName;
    QLabel* imIcon;
    QLabel* lbEmail;
    QLabel* lbWebsite;
    QLabel* lbCPUSpeed;
    QPlainTextEdit* mmCredits;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// "About": shows the box modally (through the prompts seam) and frees it.
void ShowAbout(QWidget* owner);
