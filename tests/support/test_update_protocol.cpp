// The update protocol without a window: the request as it goes over the
// wire, the response rules, the version order and the date rule.
#include "support/SupportInfo.h"
#include "support/UpdateProtocol.h"
#include "LocalHttpServer.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QByteArray UpdateBody(const QByteArray& name, const QByteArray& version, const QByteArray& notes = {}) {
    return name + "\r\n" + version + "\r\nhttp://site.example/\r\nhttp://site.example/download\r\n" + notes;
}

}  // namespace

TEST(UpdateRequest, RequestLineAndHeadersByteForByte) {
    TLocalHttpServer server;
    server.Replies = {TLocalHttpServer::Reply(200, "ok")};
    const QByteArray url = BuildUpdateUrl(server.Base("/"), "Framewhisk", "1.3", "{0C5E7A3B-1111-4C2D-9E8F-00AA11BB22CC}");
    const THttpResult result = HttpGetUpdateInfo(url);
    ASSERT_TRUE(result.Ok) << result.Error.toStdString();
    EXPECT_EQ(result.Body, "ok");
    ASSERT_EQ(server.Requests().size(), 1);
    // The default base ends in "/", so the path starts with two slashes; the
    // braces of the identifier go as they are.
    const QByteArray expected = "GET //Framewhisk/UpdateInfo.php?currentversion=1.3&id={0C5E7A3B-1111-4C2D-9E8F-00AA11BB22CC} HTTP/1.1\r\n"
                                "Host: 127.0.0.1:" + QByteArray::number(server.Port()) + "\r\n"
                                "Accept: text/html, */*\r\n"
                                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                                "\r\n";
    EXPECT_EQ(server.Requests()[0], expected);
}

TEST(UpdateRequest, AddressIsJoinedAsItIs) {
    struct Case { QString Base, Id; QByteArray Url; };
    const Case cases[] = {
        {"http://a.example/", "", "http://a.example//Framewhisk/UpdateInfo.php?currentversion=1.3&id="},
        {"http://a.example/svc", "{X}", "http://a.example/svc/Framewhisk/UpdateInfo.php?currentversion=1.3&id={X}"},
        // Bytes that cannot appear in a request line are encoded, nothing else.
        {"http://a.example", "a b#c", "http://a.example/Framewhisk/UpdateInfo.php?currentversion=1.3&id=a%20b%23c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildUpdateUrl(c.Base, "Framewhisk", "1.3", c.Id), c.Url) << c.Base.toStdString();
}

TEST(UpdateRequest, HostHeaderNamesThePortOnlyWhenNotDefault) {
    EXPECT_EQ(HostHeaderOf("http://update.example/x"), "update.example");
    EXPECT_EQ(HostHeaderOf("http://update.example:80/x"), "update.example");
    EXPECT_EQ(HostHeaderOf("http://update.example:8080/x"), "update.example:8080");
    EXPECT_EQ(HostHeaderOf("https://update.example/x"), "update.example");
    EXPECT_EQ(HostHeaderOf("not an address"), "");
}

TEST(UpdateRequest, NonSuccessStatusesFail) {
    for (int status : {301, 302, 404, 500}) {
        TLocalHttpServer server;
        server.Replies = {TLocalHttpServer::Reply(status, UpdateBody("Framewhisk", "9.9"))};
        const THttpResult result = HttpGetUpdateInfo(BuildUpdateUrl(server.Base(), "Framewhisk", "1.3", ""));
        EXPECT_FALSE(result.Ok) << status;
        EXPECT_EQ(result.Status, status);
        EXPECT_TRUE(result.Body.isEmpty());
    }
}

TEST(UpdateRequest, RedirectIsNotFollowed) {
    TLocalHttpServer target;
    target.Replies = {TLocalHttpServer::Reply(200, UpdateBody("Framewhisk", "9.9"))};
    TLocalHttpServer server;
    server.Replies = {TLocalHttpServer::Reply(302, "", "Location: " + target.Base("/moved").toLatin1() + "\r\n")};
    const THttpResult result = HttpGetUpdateInfo(BuildUpdateUrl(server.Base(), "Framewhisk", "1.3", ""));
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(server.Requests().size(), 1);
    EXPECT_TRUE(target.Requests().isEmpty());
}

TEST(UpdateRequest, BodyOverTheLimitFails) {
    TLocalHttpServer server;
    const QByteArray big = UpdateBody("Framewhisk", "9.9", QByteArray(MaxUpdateBodyBytes, 'x'));
    const QByteArray exact = QByteArray(MaxUpdateBodyBytes, 'y');
    server.Replies = {TLocalHttpServer::Reply(200, big), TLocalHttpServer::Reply(200, exact)};
    const QByteArray url = BuildUpdateUrl(server.Base(), "Framewhisk", "1.3", "");
    EXPECT_FALSE(HttpGetUpdateInfo(url).Ok);
    const THttpResult atLimit = HttpGetUpdateInfo(url);
    EXPECT_TRUE(atLimit.Ok);
    EXPECT_EQ(atLimit.Body.size(), MaxUpdateBodyBytes);
}

TEST(UpdateRequest, OversizedBodyWithoutLengthFails) {
    TLocalHttpServer server;
    // No Content-Length: the body runs until the connection closes.
    server.Replies = {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(3 * MaxUpdateBodyBytes, 'z')};
    EXPECT_FALSE(HttpGetUpdateInfo(BuildUpdateUrl(server.Base(), "Framewhisk", "1.3", "")).Ok);
}

TEST(UpdateRequest, ServerThatNeverAnswersEndsWithinTheLimit) {
    TLocalHttpServer server;
    server.NeverAnswer = true;
    const THttpResult result = HttpGetUpdateInfo(BuildUpdateUrl(server.Base(), "Framewhisk", "1.3", ""), 500ms);
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(server.Requests().size(), 1);
}

TEST(UpdateRequest, NothingListeningFails) {
    int port = 0;
    {
        TLocalHttpServer gone;
        port = gone.Port();
    }
    const THttpResult result = HttpGetUpdateInfo(BuildUpdateUrl(QString("http://127.0.0.1:%1/").arg(port), "Framewhisk", "1.3", ""));
    EXPECT_FALSE(result.Ok);
}

TEST(UpdateRequest, OnlyHttpIsSpoken) {
    EXPECT_FALSE(HttpGetUpdateInfo("file:///etc/passwd").Ok);
    EXPECT_FALSE(HttpGetUpdateInfo("ftp://127.0.0.1/x").Ok);
}

TEST(UpdateResponse, LineSplitting) {
    struct Case { QByteArray Body; QList<QByteArray> Lines; };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\n\nb\r\r\n", {"a", "", "b", ""}},
        {"a\n\r", {"a", ""}},
        {"\r\n", {""}},
        {" x \t\r\n\xE9", {" x \t", "\xE9"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitResponseLines(c.Body), c.Lines) << c.Body.toStdString();
}

TEST(UpdateResponse, ValidityRules) {
    struct Case { QByteArray Body; bool Valid; };
    const Case cases[] = {
        {UpdateBody("Framewhisk", "1.3"), true},
        {UpdateBody("FRAMEWHISK", "1.3"), true},
        {UpdateBody("framewhisk", "1.3"), true},
        {UpdateBody("Framewhisk ", "1.3"), false},
        {UpdateBody(" Framewhisk", "1.3"), false},
        {UpdateBody("Framewhisk2", "1.3"), false},
        {"Framewhisk\r\n1.3\r\nhttp://a.example/\r\n", false},  // three lines
        {"Framewhisk\n1.3\nhttp://a.example/\nhttp://b.example/", true},  // exactly four
        {"", false},
        {"<html><body>Not found</body></html>", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseUpdateResponse(c.Body, "Framewhisk").has_value(), c.Valid) << c.Body.toStdString();
}

TEST(UpdateResponse, FieldsAndMemo) {
    const auto response = ParseUpdateResponse(UpdateBody("Framewhisk", "1.4", "First\r\n\r\nSecond\r\n\r\n\r\n"), "Framewhisk");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->LatestVersion, "1.4");
    EXPECT_EQ(response->SiteUrl, "http://site.example/");
    EXPECT_EQ(response->DownloadUrl, "http://site.example/download");
    EXPECT_TRUE(response->AddressesAccepted);
    // Trailing blank notes go; the blank line between notes stays.
    EXPECT_EQ(UpdateMemoLines(*response), (QStringList{"Version 1.4", "", "First", "", "Second"}));

    const auto four = ParseUpdateResponse(UpdateBody("Framewhisk", "1.3"), "Framewhisk");
    ASSERT_TRUE(four);
    EXPECT_EQ(UpdateMemoLines(*four), QStringList{"Version 1.3"});

    const auto spaces = ParseUpdateResponse(UpdateBody("Framewhisk", "1.3", "note\r\n  \r\n"), "Framewhisk");
    ASSERT_TRUE(spaces);
    EXPECT_EQ(UpdateMemoLines(*spaces), (QStringList{"Version 1.3", "", "note", "  "}));
}

TEST(UpdateResponse, NotesInUtf8OrLatin1) {
    const auto response = ParseUpdateResponse(UpdateBody("Framewhisk", "1.4", "caf\xC3\xA9\r\ncaf\xE9"), "Framewhisk");
    ASSERT_TRUE(response);
    EXPECT_EQ(UpdateMemoLines(*response), (QStringList{"Version 1.4", "", QString::fromUtf8("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9")}));
}

TEST(UpdateResponse, AddressesMustBeWebAddresses) {
    struct Case { QByteArray Site, Download; bool Accepted; };
    const Case cases[] = {
        {"http://a.example/", "https://b.example/get", true},
        {"HTTPS://a.example", "http://b.example:8080/x?y=1", true},
        {"file:///etc/", "http://b.example/", false},
        {"http://a.example/", "file:///home/user/.bashrc", false},
        {"http://a.example/", "/usr/bin/xterm", false},
        {"javascript:alert(1)", "http://b.example/", false},
        {"http://a.example/", "mailto:x@b.example", false},
        {"http://", "http://b.example/", false},
        {"http://a.example/ x", "http://b.example/", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        const auto response = ParseUpdateResponse("Framewhisk\n1.4\n" + c.Site + "\n" + c.Download + "\nnote", "Framewhisk");
        ASSERT_TRUE(response) << c.Site.toStdString();
        EXPECT_EQ(response->AddressesAccepted, c.Accepted) << c.Site.toStdString() << " " << c.Download.toStdString();
    }
}

TEST(UpdateVersion, ByteWiseOrder) {
    struct Case { QByteArray Latest, Current; bool Newer; };
    const Case cases[] = {
        {"1.3", "1.3", false},
        {"1.4", "1.3", true},
        {"1.10", "1.3", false},
        {"1.3.1", "1.3", true},
        {"1.3", "1.3.1", false},
        {"2.0", "1.3", true},
        {"", "1.3", false},
        {"1.3", "", true},
        {"1.3\xE9", "1.3z", true},  // bytes compare unsigned
        {"1.3 beta", "1.3", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsNewerVersion(c.Latest, c.Current), c.Newer) << c.Latest.toStdString() << " vs " << c.Current.toStdString();
}

TEST(UpdateDates, GapInWholeDays) {
    const double today = 45000;
    struct Case { std::optional<double> Last; int Gap; };
    const Case cases[] = {
        {std::nullopt, 30},
        {today, 0},
        {today - 29, 29},
        {today - 30, 30},
        {today - 4000, 30},
        {today + 3, -3},
        {std::numeric_limits<double>::quiet_NaN(), 30},
        {std::numeric_limits<double>::infinity(), 30},
        {-1e300, 30},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UpdateGapDays(c.Last, today), c.Gap) << (c.Last ? *c.Last : -1);
}

TEST(SupportTexts, ErrorReportMailtoIsComposedExactly) {
    const QString mailto = ErrorReportMailto("TWMFBase.GetProfileByIdx: Error Idx is 27");
    EXPECT_TRUE(mailto.startsWith(QString("mailto:") + ErrorReportAddress + "?subject=")) << mailto.toStdString();
    EXPECT_TRUE(mailto.endsWith("?subject=Error report&body=Dear author,%0A%0A%0AAn error has been encountered with the message:"
                                "TWMFBase.GetProfileByIdx: Error Idx is 27%0A")) << mailto.toStdString();
    EXPECT_NE(QString(ErrorReportAddress), QString(SupportAddress));
}

TEST(SupportTexts, SupportMailAndWebsite) {
    EXPECT_EQ(SupportMailto("Framewhisk - Convert video"), QString("mailto:") + SupportAddress + "?subject=Framewhisk - Convert video");
    EXPECT_EQ(WebsiteCaption(), "Website: www.quillmont.example");
    EXPECT_TRUE(IsWebAddress(WebsiteAddress));
    EXPECT_TRUE(IsWebAddress(DefaultUpdateSite));
    EXPECT_TRUE(QString(DefaultUpdateSite).endsWith('/'));
    EXPECT_NE(QString(DefaultUpdateSite), QString(WebsiteAddress));
}

TEST(SupportTexts, CpuSpeedFromCpuInfo) {
    struct Case { QByteArray Text; QString Speed; };
    const Case cases[] = {
        {"processor\t: 0\nmodel name\t: X\ncpu MHz\t\t: 2400.000\ncache size\t: 1 KB\n", "2400 MHz"},
        {"cpu MHz\t\t: 2399.5\n", "2400 MHz"},
        {"cpu MHz\t\t: 1796.212\nprocessor\t: 1\ncpu MHz\t\t: 3000.000\n", "1796 MHz"},  // processor 0
        {"processor\t: 0\nBogoMIPS\t: 50.00\n", ""},  // no clock (ARM)
        {"cpu MHz\t\t: unknown\n", ""},
        {"cpu MHz\t\t: -5\n", ""},
        {"", ""},
        {"cpu MHz: 800\n", "800 MHz"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CpuSpeedFromCpuInfo(c.Text), c.Speed) << c.Text.toStdString();
}

TEST(SupportTexts, SilentAbortIsDiscardedOthersPass) {
    EXPECT_TRUE(RunDiscardingSilentAbort([] {}));
    EXPECT_FALSE(RunDiscardingSilentAbort([] { throw EAbortSilently(); }));
    EXPECT_THROW(RunDiscardingSilentAbort([] { throw std::runtime_error("x"); }), std::runtime_error);
}
