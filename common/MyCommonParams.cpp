#include "common/MyCommonParams.h"

#include "common/DateTime.h"
#include "platform/DesktopOpener.h"
#include "platform/Hive.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUrl>
#include <QUuid>
#include <cmath>
#include <cstring>
#include <limits>

TMyRegistry* SettingsStore = nullptr;

// ---------------------------------------------------------------- settings store

namespace {

// Blanks and control characters, as the store trims its path.
QString TrimBlanksAndControls(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= 32)
        ++first;
    while (last > first && text[last - 1].unicode() <= 32)
        --last;
    return text.mid(first, last - first);
}

QString Formatted(const char* pattern, const QString& argument) {
    return QString::fromLatin1(pattern).arg(argument);
}

[[noreturn]] void Raise(const char* pattern, const QString& argument) {
    throw ERegistryException(Formatted(pattern, argument).toStdString());
}

// Decimal text with an optional sign (leading blanks allowed) -> 32-bit
// integer; nothing for anything else, empty text and overflow included.
std::optional<int32_t> ParseInt32(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    if (i >= text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(value);
}

}  // namespace

TMyRegistry::TMyRegistry(const QString& keyPath) : FRootPath(TrimBlanksAndControls(keyPath)) {
    if (FRootPath.isEmpty())
        return;
    FHive = THive::UserHive();
    // A root key that cannot be created is not reported here: reads then give
    // their defaults and the first write raises the store's error.
    FHive->CreateKey(FRootPath);
}

TMyRegistry::~TMyRegistry() = default;

namespace {

QString SectionKey(const QString& root, const QString& section) {
    return THive::NormaliseKey(root) + QLatin1Char('\\') + section;
}

}  // namespace

QString TMyRegistry::ReadString(const QString& section, const QString& name, const QString& def) {
    if (!FHive)
        return def;
    const QString key = SectionKey(FRootPath, section);
    if (!FHive->KeyExists(key))
        return def;
    const auto value = FHive->ReadValue(key, name);
    if (!value)
        return def;
    if (value->Data.isEmpty())
        return QString();
    if (value->Type != THiveValueType::Text && value->Type != THiveValueType::ExpandText)
        Raise("Invalid data type for '%1'", name);
    const qsizetype nul = value->Data.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? value->Data : value->Data.left(nul));
}

void TMyRegistry::WriteString(const QString& section, const QString& name, const QString& value) {
    const QString key = SectionKey(FRootPath, section);
    if (!FHive || !FHive->CreateKey(key))
        Raise("Failed to create key %1", section);
    if (!FHive->WriteValue(key, name, THiveValueType::Text, value.toUtf8()))
        Raise("Failed to set data for '%1'", name);
}

int32_t TMyRegistry::ReadInteger(const QString& section, const QString& name, int32_t def) {
    // Through the text read: a value of another type raises its error, and a
    // missing one gives a text that is not a number, hence the default.
    const QString text = ReadString(section, name, QString());
    return ParseInt32(text).value_or(def);
}

void TMyRegistry::WriteInteger(const QString& section, const QString& name, int32_t value) {
    WriteString(section, name, QString::number(value));
}

bool TMyRegistry::ReadBool(const QString& section, const QString& name, bool def) {
    return ReadInteger(section, name, def ? 1 : 0) != 0;
}

void TMyRegistry::WriteBool(const QString& section, const QString& name, bool value) {
    WriteString(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

double TMyRegistry::ReadRootDate(const QString& name) {
    const auto value = FHive ? FHive->ReadValue(FRootPath, name) : std::nullopt;
    if (!value || value->Data.size() > qsizetype(sizeof(double)))
        Raise("Failed to get data for '%1'", name);
    if (value->Type != THiveValueType::Binary || value->Data.size() != qsizetype(sizeof(double)))
        Raise("Invalid data type for '%1'", name);
    unsigned char bytes[8];
    std::memcpy(bytes, value->Data.constData(), 8);
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | bytes[i];
    double date;
    std::memcpy(&date, &bits, sizeof date);
    return date;
}

void TMyRegistry::WriteRootDate(const QString& name, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray data(8, '\0');
    for (int i = 0; i < 8; ++i)
        data[i] = char((bits >> (8 * i)) & 0xff);
    if (!FHive || !FHive->WriteValue(FRootPath, name, THiveValueType::Binary, data))
        Raise("Failed to set data for '%1'", name);
}

// ---------------------------------------------------------------- text helpers

namespace {

struct TTimeOfDay {
    int Hours, Minutes, Seconds, Milliseconds;
};

// Splits a date-time value into its time of day, rounded to the nearest
// millisecond (ties to even); whole days are dropped.
TTimeOfDay SplitTime(double days) {
    constexpr double MsPerDay = 86400000.0;
    double total = std::nearbyint(days * MsPerDay);  // the default rounding mode: ties to even
    if (!std::isfinite(total))
        total = 0;
    total = std::fmod(total, MsPerDay);
    if (total < 0)
        total += MsPerDay;
    auto ms = int64_t(total);
    TTimeOfDay t;
    t.Hours = int(ms / 3600000);
    ms %= 3600000;
    t.Minutes = int(ms / 60000);
    ms %= 60000;
    t.Seconds = int(ms / 1000);
    t.Milliseconds = int(ms % 1000);
    return t;
}

}  // namespace

QString TwoDigits(uint16_t n) {
    QString text = QString::number(n);
    while (text.size() < 2)
        text.prepend(QLatin1Char('0'));
    return text;
}

QString TimecodeText(long double seconds) {
    const TTimeOfDay t = SplitTime(double(seconds / 86400.0L));
    // The last field holds hundredths although it says "ms".
    return QStringLiteral("%1h:%2m:%3s:%4ms")
        .arg(t.Hours)
        .arg(TwoDigits(uint16_t(t.Minutes)), TwoDigits(uint16_t(t.Seconds)),
             TwoDigits(uint16_t(t.Milliseconds / 10)));
}

QString TimeLeftText(long double days) {
    const TTimeOfDay t = SplitTime(double(days));
    if (t.Hours > 0)
        return QStringLiteral("%1 hour %2 minutes").arg(t.Hours).arg(t.Minutes);
    return QStringLiteral("less than %1 minute").arg(t.Minutes + 1) +
           (t.Minutes != 0 ? QStringLiteral("s") : QString());
}

QString TimeStampName() {
    return QString::number(int64_t(std::nearbyint(NowDateTime() * 1000000.0)));
}

// ---------------------------------------------------------------- shell actions

void ExploreFolder(const QString& path) {
    // One character at a time, not one folder at a time: a missing
    // "/data/Videos/" ends at an existing "/data/Video".
    QString folder = path;
    while (!QFileInfo(folder).isDir()) {
        if (folder.size() < 2)
            return;
        folder.chop(1);
    }
    LaunchOnDesktop({TDesktopAction::Explore, folder});
}

void PlayInMediaPlayer(const QString& file) { LaunchOnDesktop({TDesktopAction::Play, file}); }

namespace {

// Types whose associated program runs them instead of showing them.
bool IsRunnableType(const QString& file) {
    static const char* const runnable[] = {
        "application/x-executable",         "application/x-sharedlib",
        "application/x-pie-executable",     "application/x-shellscript",
        "application/x-desktop",            "application/x-ms-dos-executable",
        "application/x-msdownload",         "application/vnd.microsoft.portable-executable",
        "application/x-msi",                "application/x-ms-shortcut",
        "application/x-java-archive",       "application/x-java-jnlp-file",
        "application/x-executable-script",  "application/x-perl",
        "text/x-python",                    "text/x-python3",
        "application/x-appimage",           "application/vnd.appimage",
        "application/x-bat",                "application/x-csh",
    };
    QMimeDatabase mimes;
    const QMimeType byName = mimes.mimeTypeForFile(file, QMimeDatabase::MatchExtension);
    const QMimeType byContent = mimes.mimeTypeForFile(file, QMimeDatabase::MatchContent);
    for (const char* name : runnable) {
        const QString type = QString::fromLatin1(name);
        if (byName.inherits(type) || byContent.inherits(type))
            return true;
    }
    return false;
}

// An existing folder, or an existing regular file that is a document (no
// execute permission, not a type the desktop would run).
std::optional<QString> OpenableLocalPath(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    const QString absolute = info.absoluteFilePath();
    if (info.isDir())
        return absolute;
    if (!info.isFile())
        return std::nullopt;  // device, pipe, socket
    const auto execute = QFileDevice::ExeUser | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    if (info.permissions() & execute)
        return std::nullopt;
    if (IsRunnableType(absolute))
        return std::nullopt;
    return absolute;
}

}  // namespace

QString DesktopFailureText(const TDesktopRequest& request) {
    switch (request.Action) {
    case TDesktopAction::Explore:
        return QStringLiteral("No file manager could be started to show the folder %1.").arg(request.Target);
    case TDesktopAction::Play:
        return QStringLiteral("No media player could be started to play %1.").arg(request.Target);
    case TDesktopAction::Open:
        break;
    }
    const QUrl url(request.Target);
    const QString scheme = request.Target.startsWith(QLatin1Char('/')) ? QString() : url.scheme().toLower();
    if (scheme == QLatin1String("mailto"))
        return QStringLiteral("No e-mail program could be started. Please write to %1.").arg(url.path());
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return QStringLiteral("No web browser could be started to open %1.").arg(request.Target);
    return QStringLiteral("No program could be started to open %1.").arg(request.Target);
}

bool ShellOpen(const QString& target) {
    if (target.isEmpty())
        return false;
    for (const QChar c : target) {
        if (c.unicode() < 32 || c.unicode() == 127)
            return false;  // no line breaks or control characters in anything handed on
    }
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+):"));
    const QRegularExpressionMatch match = scheme.match(target);
    if (!target.startsWith(QLatin1Char('/')) && match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        const QUrl url(target, QUrl::StrictMode);
        if (name == QLatin1String("http") || name == QLatin1String("https")) {
            if (!url.isValid() || url.host().isEmpty())
                return false;
            return LaunchOnDesktop({TDesktopAction::Open, url.toString(QUrl::FullyEncoded)});
        }
        if (name == QLatin1String("mailto")) {
            const QUrl mail(target, QUrl::TolerantMode);
            if (!mail.isValid())
                return false;
            return LaunchOnDesktop({TDesktopAction::Open, mail.toString(QUrl::FullyEncoded)});
        }
        if (name == QLatin1String("file")) {
            if (!url.isValid() || !url.isLocalFile() || (!url.host().isEmpty() && url.host() != QLatin1String("localhost")))
                return false;
            const auto local = OpenableLocalPath(url.toLocalFile());
            return local && LaunchOnDesktop({TDesktopAction::Open, *local});
        }
        return false;
    }
    // A local path; made absolute so that it can never pass for an option.
    const auto local = OpenableLocalPath(target);
    return local && LaunchOnDesktop({TDesktopAction::Open, *local});
}

int32_t DigitsToInt(const QString& text) {
    QString digits;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    }
    if (digits.isEmpty())
        return 0;
    int64_t value = 0;
    for (const QChar c : digits) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > std::numeric_limits<int32_t>::max())
            throw std::invalid_argument(Formatted("'%1' is not a valid integer value", digits).toStdString());
    }
    return int32_t(value);
}

QString ReplaceExtension(const QString& name, const QString& ext) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot >= 0 && name.indexOf(QLatin1Char('/'), dot) < 0 && name.indexOf(QLatin1Char(':'), dot) < 0;
    return (hasExtension ? name.left(dot) : name) + QLatin1Char('.') + ext;
}

QString StripExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.left(dot);
}

QString NewGuidText() {
    const QUuid id = QUuid::createUuid();
    if (id.isNull())
        return QString();
    return id.toString(QUuid::WithBraces).toUpper();
}

bool IsNtPlatform() { return true; }
