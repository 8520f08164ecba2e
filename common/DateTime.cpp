#include "common/DateTime.h"

#include <QTimeZone>
#include <cmath>

namespace {

constexpr double MsPerDay = 86400000.0;

qint64 EpochJulianDay() { return QDate(1899, 12, 30).toJulianDay(); }

}  // namespace

// Before the epoch the whole days count down while the time of day still
// counts up: -1.25 is 29 December 1899, 06:00.
double DateTimeFromClock(const QDateTime& when) {
    if (!when.isValid())
        return 0.0;
    const QDateTime local = when.toLocalTime();
    const double day = double(local.date().toJulianDay() - EpochJulianDay());
    const double fraction = local.time().msecsSinceStartOfDay() / MsPerDay;
    return day < 0 ? day - fraction : day + fraction;
}

QDateTime ClockFromDateTime(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 1e8)
        return {};
    double whole = std::trunc(days);
    double ms = std::nearbyint(std::fabs(days - whole) * MsPerDay);
    if (ms >= MsPerDay) {  // rounding reached the next midnight
        ms -= MsPerDay;
        whole += 1;
    }
    const QDate date = QDate::fromJulianDay(EpochJulianDay() + qint64(whole));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double NowDateTime() { return DateTimeFromClock(QDateTime::currentDateTime()); }
