// Time texts, the date-time value and the small name and number helpers.
#include "common/DateTime.h"
#include "common/MyCommonParams.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

TEST(TwoDigits, PadsToTwo) {
    const struct {
        uint16_t In;
        const char* Out;
    } cases[] = {{0, "00"}, {7, "07"}, {42, "42"}, {123, "123"}, {65535, "65535"}};
    for (const auto& c : cases)
        EXPECT_EQ(TwoDigits(c.In), c.Out) << c.In;
}

TEST(TimecodeText, Examples) {
    const struct {
        long double Seconds;
        const char* Text;
    } cases[] = {
        {0, "0h:00m:00s:00ms"},
        {90, "0h:01m:30s:00ms"},
        {3725.5, "1h:02m:05s:50ms"},
        {0.125, "0h:00m:00s:12ms"},  // hundredths, cut, not rounded
        {90061, "1h:01m:01s:00ms"},  // 25 h 1 min 1 s: the day wraps
        {86400, "0h:00m:00s:00ms"},
        {59.995, "0h:00m:59s:99ms"},
        {59.9996, "0h:01m:00s:00ms"},  // rounds to the next millisecond count
        {0.0004, "0h:00m:00s:00ms"},
        {86399.999, "23h:59m:59s:99ms"},
        {36000, "10h:00m:00s:00ms"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimecodeText(c.Seconds), c.Text) << double(c.Seconds);
}

TEST(TimecodeText, NonsenseInputDoesNotCrash) {
    EXPECT_EQ(TimecodeText(std::numeric_limits<long double>::infinity()), "0h:00m:00s:00ms");
    EXPECT_EQ(TimecodeText(std::numeric_limits<long double>::quiet_NaN()), "0h:00m:00s:00ms");
    EXPECT_FALSE(TimecodeText(1e300L).isEmpty());
}

TEST(TimeLeftText, Examples) {
    constexpr long double Minute = 1.0L / 1440;
    constexpr long double Second = 1.0L / 86400;
    const struct {
        long double Days;
        const char* Text;
    } cases[] = {
        {0, "less than 1 minute"},
        {59 * Second, "less than 1 minute"},
        {70 * Second, "less than 2 minutes"},
        {59 * Minute + 59 * Second, "less than 60 minutes"},
        {65 * Minute, "1 hour 5 minutes"},
        {121 * Minute, "2 hour 1 minutes"},
        {180 * Minute, "3 hour 0 minutes"},
        {25 * 60 * Minute, "1 hour 0 minutes"},  // wraps after 24 h
        {24 * 60 * Minute, "less than 1 minute"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeLeftText(c.Days), c.Text) << double(c.Days);
}

TEST(TimeStampName, IsTheRoundedClockInMillionthsOfADay) {
    const double before = NowDateTime();
    const QString name = TimeStampName();
    const double after = NowDateTime();
    EXPECT_TRUE(QRegularExpression("^[0-9]{11}$").match(name).hasMatch()) << name.toStdString();
    const double value = name.toDouble();
    EXPECT_GE(value, std::nearbyint(before * 1e6));
    EXPECT_LE(value, std::nearbyint(after * 1e6));
}

TEST(DateTime, DaysSinceTheEndOf1899) {
    const struct {
        QDate Date;
        QTime Time;
        double Days;
    } cases[] = {
        {QDate(1899, 12, 30), QTime(0, 0), 0.0},
        {QDate(1900, 1, 1), QTime(12, 0), 2.5},
        {QDate(1899, 12, 29), QTime(6, 0), -1.25},  // day counts down, time of day up
        {QDate(2024, 1, 1), QTime(18, 0), 45292.75},
    };
    for (const auto& c : cases) {
        const QDateTime clock(c.Date, c.Time);
        EXPECT_DOUBLE_EQ(DateTimeFromClock(clock), c.Days) << c.Date.toString().toStdString();
        EXPECT_EQ(ClockFromDateTime(c.Days), clock) << c.Days;
    }
    EXPECT_FALSE(ClockFromDateTime(std::numeric_limits<double>::quiet_NaN()).isValid());
    // A value a hair before midnight rounds to the next day, not to 24:00.
    EXPECT_EQ(ClockFromDateTime(1.9999999999), QDateTime(QDate(1900, 1, 1), QTime(0, 0)));
}

TEST(DigitsToInt, KeepsOnlyDigits) {
    const struct {
        const char* Text;
        int32_t Value;
    } cases[] = {
        {" 320", 320}, {"1,024", 1024}, {"-5", 5}, {"abc", 0}, {"", 0},
        {"0320", 320}, {"2147483647", 2147483647}, {"x0000000000007", 7}, {"3 2 0 px", 320},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DigitsToInt(QString::fromUtf8(c.Text)), c.Value) << c.Text;
}

TEST(DigitsToInt, BeyondThirtyTwoBitsIsAnError) {
    for (const char* text : {"2147483648", "99999999999", "1,000,000,000,000"}) {
        try {
            DigitsToInt(QString::fromLatin1(text));
            ADD_FAILURE() << "no error for " << text;
        } catch (const std::invalid_argument& e) {
            QString digits = QString::fromLatin1(text);
            digits.remove(QRegularExpression("[^0-9]"));
            EXPECT_EQ(e.what(), "'" + digits.toStdString() + "' is not a valid integer value");
        }
    }
}

TEST(FileNames, ReplaceExtension) {
    const struct {
        const char* Name;
        const char* Ext;
        const char* Out;
    } cases[] = {
        {"/out/clip.avi", "wmv", "/out/clip.wmv"},
        {"/out/clip", "wmv", "/out/clip.wmv"},
        {"/my.dir/clip", "wmv", "/my.dir/clip.wmv"},
        {"clip.", "avi", "clip.avi"},
        {"/out/clip.tar.gz", "avi", "/out/clip.tar.avi"},
        {"a.b:c", "avi", "a.b:c.avi"},  // ":" ends an extension too
        {"", "avi", ".avi"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceExtension(c.Name, c.Ext), c.Out) << c.Name;
}

TEST(FileNames, StripExtension) {
    const struct {
        const char* Name;
        const char* Out;
    } cases[] = {
        {"/out/clip.avi", "/out/clip"},
        {"/my.dir/clip", "/my"},  // the last dot anywhere, folders included
        {"clip", ""},
        {"/out/", ""},
        {"clip.", "clip"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StripExtension(c.Name), c.Out) << c.Name;
}

TEST(NewGuidText, BracedUpperCaseAndNew) {
    const QString a = NewGuidText();
    const QString b = NewGuidText();
    const QRegularExpression form("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$");
    EXPECT_EQ(a.size(), 38);
    EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(form.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, b);
}

TEST(Platform, IsNt) { EXPECT_TRUE(IsNtPlatform()); }

}  // namespace
