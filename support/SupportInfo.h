// The maker's addresses, the program's name and version as the support
// commands and the update check send them, the error report's mail address,
// the silent abort, and the processor speed text. No window here.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <exception>
#include <functional>

// What the main window passes to the update check and the About box shows.
extern const char* const ProgramName;     // "Framewhisk"
extern const char* const ProgramVersion;  // "1.3"

extern const char* const SupportAddress;      // support e-mail ("E-mail support", About box)
extern const char* const ErrorReportAddress;  // where error reports go
extern const char* const WebsiteAddress;      // the maker's web site (an http address)

// The silent abort: ends the operation in progress after the user has been
// told. The application's top-level handler discards it without a message.
class EAbortSilently : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// For the top-level handler: runs `action`; an EAbortSilently leaving it is
// discarded. True when the action ran to its end, false when it was aborted.
// Other exceptions pass through.
bool RunDiscardingSilentAbort(const std::function<void()>& action);

// "mailto:" + ErrorReportAddress + "?subject=Error report&body=" + the report
// lines, each followed by "%0A"; the message goes in unescaped.
QString ErrorReportMailto(const QString& message);

// "mailto:" + SupportAddress + "?subject=" + the main window's caption, unescaped.
QString SupportMailto(const QString& mainCaption);

// "Website: " + the host of WebsiteAddress (the Help menu item's caption).
QString WebsiteCaption();

// Help menu commands: a new e-mail to support; the web site in the browser.
// The desktop's answer is not checked.
void EmailSupport(const QString& mainCaption);
void OpenWebsite();

// The processor clock from the text of /proc/cpuinfo: the first "cpu MHz"
// value rounded to whole MHz, as "2400 MHz"; empty when there is none or it
// is not a positive number.
QString CpuSpeedFromCpuInfo(const QByteArray& cpuinfo);
// The same for this machine; empty when /proc/cpuinfo cannot be read.
QString CpuSpeedText();
