// The stored date-time value: days since 30 December 1899 as a double, the
// time of day as the fraction (local time, as the clock shows it).
#pragma once

#include <QDateTime>

// Local clock time -> date-time value.
double DateTimeFromClock(const QDateTime& when);
// Date-time value -> local clock time.
QDateTime ClockFromDateTime(double days);
// The current local time as a date-time value.
double NowDateTime();
