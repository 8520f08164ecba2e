// Common services: the settings store, the text helpers and the shell actions.
#pragma once

#include "platform/DesktopOpener.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>

class QWidget;
class THive;

// ---------------------------------------------------------------- settings store

// Error kind of the settings store; what() is the message shown to the user.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ini-style access to the per-user hive below one root key. Every read and
// write goes to the hive at once (no cache). Section reads of missing
// sections or values return the default and create nothing.
class TMyRegistry {
public:
    // Opens (creating when missing) the key at the trimmed path. Paths
    // beginning with "\" are taken from the top of the user's hive.
    explicit TMyRegistry(const QString& keyPath);
    ~TMyRegistry();
    TMyRegistry(const TMyRegistry&) = delete;
    TMyRegistry& operator=(const TMyRegistry&) = delete;

    const QString& RootPath() const { return FRootPath; }

    QString ReadString(const QString& section, const QString& name, const QString& def);
    void WriteString(const QString& section, const QString& name, const QString& value);
    int32_t ReadInteger(const QString& section, const QString& name, int32_t def);
    void WriteInteger(const QString& section, const QString& name, int32_t value);
    bool ReadBool(const QString& section, const QString& name, bool def);
    void WriteBool(const QString& section, const QString& name, bool value);

    // The 8-byte binary date value in the root key itself. Read raises
    // "Failed to get data for '%s'" or "Invalid data type for '%s'".
    double ReadRootDate(const QString& name);
    void WriteRootDate(const QString& name, double value);

    // The hive below, for components that keep keys of their own (the
    // recent-files list). Never null while RootPath() is not empty.
    THive* Hive() const { return FHive.get(); }

private:
    QString FRootPath;
    std::shared_ptr<THive> FHive;
};

// The one program-wide store; the main window creates it first and frees it last.
extern TMyRegistry* SettingsStore;

// ---------------------------------------------------------------- text helpers

QString TwoDigits(uint16_t n);
QString TimecodeText(long double seconds);
QString TimeLeftText(long double days);
QString TimeStampName();

// ---------------------------------------------------------------- shell actions

// Each hands its request to the desktop opener; a request that fails goes to
// the opener's failure handler (SayDesktopFailures in common/Prompts.h).
void ExploreFolder(const QString& path);
void PlayInMediaPlayer(const QString& file);
// Opens local files and folders, http(s) and mailto: addresses; anything else
// is refused and gives false.
bool ShellOpen(const QString& target);
// What to tell the user when the desktop could not carry out a request.
QString DesktopFailureText(const TDesktopRequest& request);
bool ChooseFolder(QWidget* owner, const QString& prompt, QString& folder);
int32_t DigitsToInt(const QString& text);  // raises std::invalid_argument past 32 bits
QString ReplaceExtension(const QString& name, const QString& ext);
QString StripExtension(const QString& name);
QString NewGuidText();
bool IsNtPlatform();
