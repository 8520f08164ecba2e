// The update check's protocol, without a window: the request address, one
// HTTP GET over libcurl, the response rules, the version order and the date
// rule of the automatic pass. Nothing here touches the settings store.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

// The update site asked when the store holds none (an http address ending in "/").
extern const char* const DefaultUpdateSite;

// Largest response body accepted; a longer one fails the request.
constexpr qsizetype MaxUpdateBodyBytes = 64 * 1024;
// Time limit of the whole exchange (connect, request, body).
constexpr std::chrono::milliseconds UpdateRequestTimeLimit{10000};

// base + "/" + appName + "/UpdateInfo.php?currentversion=" + version + "&id=" + id,
// joined as they are. Only bytes that cannot appear in a request line at all
// (controls, space, '#', non-ASCII) are percent-encoded.
QByteArray BuildUpdateUrl(const QString& base, const QString& appName,
                          const QString& version, const QString& id);

// The Host header value of an address: the host, plus ":" and the port when
// the port is not the scheme's default (80 for http). Empty when the address
// cannot be parsed.
QByteArray HostHeaderOf(const QByteArray& url);

// True for an absolute http:// or https:// address with a host and nothing
// but printable ASCII in it.
bool IsWebAddress(const QString& address);

struct THttpResult {
    bool Ok = false;        // a 2xx status and the whole body within the limits
    long Status = 0;        // the HTTP status, 0 when none arrived
    QByteArray Body;        // the body (empty unless Ok)
    QString Error;          // what went wrong, for diagnosis only
};

// One HTTP/1.1 GET of `url` with the headers Host, Accept "text/html, */*" and
// User-Agent "Mozilla/3.0 (compatible; Indy Library)" in that order. Cookies
// are accepted (in memory), redirects are not followed (a 3xx fails), no
// proxy is used, only http and https are spoken. Blocks the calling thread
// for at most `timeLimit`; safe to call from any thread.
THttpResult HttpGetUpdateInfo(const QByteArray& url,
                              std::chrono::milliseconds timeLimit = UpdateRequestTimeLimit,
                              qsizetype maxBody = MaxUpdateBodyBytes);

// Same request run on a worker thread while the calling (window) thread keeps
// processing events other than user input, so windows repaint while it waits.
THttpResult HttpGetUpdateInfoPumping(const QByteArray& url,
                                     std::chrono::milliseconds timeLimit = UpdateRequestTimeLimit,
                                     qsizetype maxBody = MaxUpdateBodyBytes);

// Lines of a body: a line ends at CR LF, a lone LF or a lone CR; a break at
// the very end adds no empty line. Bytes are kept as they are.
QList<QByteArray> SplitResponseLines(const QByteArray& body);

// A response that names the application: lines 1..4 and the notes.
struct TUpdateResponse {
    QByteArray LatestVersion;   // line 2
    QByteArray SiteUrl;         // line 3
    QByteArray DownloadUrl;     // line 4
    QList<QByteArray> Notes;    // lines 5..last
    // Lines 3 and 4 are both web addresses, so the response may be stored.
    bool AddressesAccepted = false;
};

// Empty when the body has fewer than four lines or line 1 is not `appName`
// with ASCII letters compared case-folded (surrounding spaces count).
std::optional<TUpdateResponse> ParseUpdateResponse(const QByteArray& body, const QString& appName);

// The release notes as shown: "Version " + latest, an empty line, the notes,
// with empty lines dropped from the end. Notes that are not UTF-8 are taken
// as Latin-1.
QStringList UpdateMemoLines(const TUpdateResponse& response);

// Byte-wise order of version texts (unsigned bytes; a prefix sorts first):
// true when `latest` sorts strictly after `current`. "1.10" is not newer than "1.3".
bool IsNewerVersion(const QByteArray& latest, const QByteArray& current);

// Days between the stored date of the last pass and today, in whole days
// (truncated), capped at UpdateGapDaysWanted. A missing or unusable stored
// date counts as a gap of UpdateGapDaysWanted; a future date gives a negative gap.
int UpdateGapDays(std::optional<double> lastCheck, double today);
constexpr int UpdateGapDaysWanted = 30;
