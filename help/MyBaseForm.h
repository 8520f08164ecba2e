// The base main window: routes the program's help requests to the help
// viewer while the window exists, and closes every help window when the
// window is closed from its frame.
#pragma once

#include <QMainWindow>

class QCloseEvent;

// Help commands of the application (the WinHelp command set).
enum THelpCommand : uint16_t {
    HELP_CONTEXT = 1,
    HELP_CONTENTS = 3,
    HELP_CONTEXTPOPUP = 8,
    HELP_SETPOPUP_POS = 13,
    HELP_KEY = 257,
};

// Name of the dynamic property that gives a widget a help context number.
inline constexpr const char* kHelpContextProperty = "HelpContext";

class TD6MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TD6MainForm(QWidget* parent = nullptr);
    ~TD6MainForm() override;

    // The help bundle named by the application's help file is in the program.
    bool HtmlHelpAvailable() const { return FHtmlHelpAvailable; }

    // The window's help context; -1 (the default) opens the contents.
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int context) { FHelpContext = context == 0 ? -1 : context; }

    void ShowHelpContents();
    void ShowHelpIndex();

    // The application help command handler. HELP_CONTEXT climbs from the
    // focused widget to the first with a help context and shows that topic
    // (the contents for -1); HELP_CONTENTS, HELP_CONTEXTPOPUP,
    // HELP_SETPOPUP_POS and HELP_KEY show nothing; any other command is passed
    // on (passOn set). Always true.
    bool HandleHelpCommand(uint16_t command, uint32_t data, bool& passOn);

    // A close request from the window frame (close box, window menu,
    // Alt+F4): closes every help window, then the window itself. True when
    // the window closed.
    bool WMClose();

protected:
    // A close that comes from the window system (spontaneous) closes the
    // help windows first; the program's own close() does not.
    void closeEvent(QCloseEvent* event) override;

private:
    void CloseHelpWindows();

    bool FHtmlHelpAvailable = false;
    int FHelpContext = -1;
};
