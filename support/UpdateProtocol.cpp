#include "support/UpdateProtocol.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <cmath>
#include <curl/curl.h>
#include <future>
#include <memory>
#include <mutex>

const char* const DefaultUpdateSite = "http://update.quillmont.example/";

namespace {

struct TCurlDeleter { void operator()(CURL* h) const { curl_easy_cleanup(h); } };
struct TSlistDeleter { void operator()(curl_slist* l) const { curl_slist_free_all(l); } };
struct TUrlDeleter { void operator()(CURLU* u) const { curl_url_cleanup(u); } };
struct TCurlTextDeleter { void operator()(char* p) const { curl_free(p); } };
using TCurlPtr = std::unique_ptr<CURL, TCurlDeleter>;
using TSlistPtr = std::unique_ptr<curl_slist, TSlistDeleter>;
using TUrlPtr = std::unique_ptr<CURLU, TUrlDeleter>;
using TCurlText = std::unique_ptr<char, TCurlTextDeleter>;

void EnsureCurlGlobal() {
    // curl_global_init is not thread-safe; do it once, before any handle.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Appends `text` to the list; false when curl could not allocate.
bool AppendHeader(TSlistPtr& list, const QByteArray& text) {
    curl_slist* grown = curl_slist_append(list.get(), text.constData());
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

struct TUrlParts {
    QByteArray Scheme, Host;
    std::optional<long> Port;  // only when the address names one
};

std::optional<TUrlParts> ParseUrl(const QByteArray& url) {
    EnsureCurlGlobal();
    TUrlPtr handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.constData(), 0) != CURLUE_OK)
        return std::nullopt;
    auto part = [&](CURLUPart what, QByteArray& out) {
        char* raw = nullptr;
        CURLUcode rc = curl_url_get(handle.get(), what, &raw, 0);
        TCurlText owned(raw);
        if (rc == CURLUE_OK && raw)
            out = QByteArray(raw);
        return rc;
    };
    TUrlParts parts;
    if (part(CURLUPART_SCHEME, parts.Scheme) != CURLUE_OK || part(CURLUPART_HOST, parts.Host) != CURLUE_OK)
        return std::nullopt;
    QByteArray port;
    if (part(CURLUPART_PORT, port) == CURLUE_OK) {
        bool ok = false;
        long value = port.toLong(&ok);
        if (!ok)
            return std::nullopt;
        parts.Port = value;
    }
    return parts;
}

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    struct TSink { QByteArray* Body; qsizetype Max; };
    auto* sink = static_cast<TSink*>(user);
    const size_t bytes = size * count;
    if (static_cast<qsizetype>(bytes) > sink->Max - sink->Body->size())
        return 0;  // over the limit: curl ends the transfer with a write error
    sink->Body->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

bool IsAsciiLetterFoldedEqual(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; };
    for (qsizetype i = 0; i < a.size(); ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

QString NoteText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

}  // namespace

QByteArray BuildUpdateUrl(const QString& base, const QString& appName,
                          const QString& version, const QString& id) {
    const QByteArray joined = (base + "/" + appName + "/UpdateInfo.php?currentversion=" + version + "&id=" + id).toUtf8();
    QByteArray url;
    url.reserve(joined.size());
    for (char ch : joined) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f || c == '#') {
            static const char hex[] = "0123456789ABCDEF";
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        } else {
            url += ch;
        }
    }
    return url;
}

QByteArray HostHeaderOf(const QByteArray& url) {
    const auto parts = ParseUrl(url);
    if (!parts)
        return {};
    QByteArray host = parts->Host;
    const long defaultPort = parts->Scheme.compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80;
    if (parts->Port && *parts->Port != defaultPort)
        host += ':' + QByteArray::number(*parts->Port);
    return host;
}

bool IsWebAddress(const QString& address) {
    if (!address.startsWith("http://", Qt::CaseInsensitive) && !address.startsWith("https://", Qt::CaseInsensitive))
        return false;
    for (QChar c : address)
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    const auto parts = ParseUrl(address.toLatin1());
    return parts && !parts->Host.isEmpty();
}

THttpResult HttpGetUpdateInfo(const QByteArray& url, std::chrono::milliseconds timeLimit, qsizetype maxBody) {
    THttpResult result;
    EnsureCurlGlobal();
    const QByteArray host = HostHeaderOf(url);
    if (host.isEmpty()) {
        result.Error = "not an address: " + QString::fromLatin1(url);
        return result;
    }
    TCurlPtr curl(curl_easy_init());
    TSlistPtr headers;
    if (!curl || !AppendHeader(headers, "Host: " + host) || !AppendHeader(headers, "Accept: text/html, */*")
        || !AppendHeader(headers, "User-Agent: Mozilla/3.0 (compatible; Indy Library)")) {
        result.Error = "out of memory";
        return result;
    }
    QByteArray body;
    struct { QByteArray* Body; qsizetype Max; } sink{&body, maxBody};
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // the in-memory cookie engine
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeLimit.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeLimit.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBody));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.Status);
    if (rc != CURLE_OK) {
        result.Error = QString::fromLocal8Bit(errorText[0] ? errorText : curl_easy_strerror(rc));
        return result;
    }
    if (result.Status < 200 || result.Status > 299) {
        result.Error = QString("HTTP status %1").arg(result.Status);
        return result;
    }
    result.Ok = true;
    result.Body = std::move(body);
    return result;
}

THttpResult HttpGetUpdateInfoPumping(const QByteArray& url, std::chrono::milliseconds timeLimit, qsizetype maxBody) {
    auto pending = std::async(std::launch::async, [=] { return HttpGetUpdateInfo(url, timeLimit, maxBody); });
    if (QCoreApplication::instance()) {
        // User input stays queued, so no command can start while the request runs.
        while (pending.wait_for(std::chrono::milliseconds(15)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 15);
    }
    return pending.get();
}

QList<QByteArray> SplitResponseLines(const QByteArray& body) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < body.size()) {
        const char c = body[i];
        if (c == '\n' || c == '\r') {
            lines.append(body.mid(start, i - start));
            i += (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < body.size())
        lines.append(body.mid(start));
    return lines;
}

std::optional<TUpdateResponse> ParseUpdateResponse(const QByteArray& body, const QString& appName) {
    const QList<QByteArray> lines = SplitResponseLines(body);
    if (lines.size() < 4 || !IsAsciiLetterFoldedEqual(lines[0], appName.toUtf8()))
        return std::nullopt;
    TUpdateResponse response;
    response.LatestVersion = lines[1];
    response.SiteUrl = lines[2];
    response.DownloadUrl = lines[3];
    response.Notes = lines.mid(4);
    response.AddressesAccepted = IsWebAddress(QString::fromLatin1(lines[2])) && IsWebAddress(QString::fromLatin1(lines[3]));
    return response;
}

QStringList UpdateMemoLines(const TUpdateResponse& response) {
    QStringList memo;
    memo << "Version " + NoteText(response.LatestVersion) << QString();
    for (const QByteArray& note : response.Notes)
        memo << NoteText(note);
    while (!memo.isEmpty() && memo.last().isEmpty())
        memo.removeLast();
    return memo;
}

bool IsNewerVersion(const QByteArray& latest, const QByteArray& current) {
    const qsizetype common = std::min(latest.size(), current.size());
    for (qsizetype i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(latest[i]);
        const auto b = static_cast<unsigned char>(current[i]);
        if (a != b)
            return a > b;
    }
    return latest.size() > current.size();
}

int UpdateGapDays(std::optional<double> lastCheck, double today) {
    if (!lastCheck || !std::isfinite(*lastCheck))
        return UpdateGapDaysWanted;
    const double gap = std::trunc(today - *lastCheck);
    if (gap >= UpdateGapDaysWanted)
        return UpdateGapDaysWanted;  // also keeps absurd stored dates inside int
    if (gap <= -1e6)
        return -1000000;
    return static_cast<int>(gap);
}
