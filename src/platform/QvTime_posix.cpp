// FILETIME conversions: to local time, to calendar fields, and the current system time.
#include "platform/QvPosixSupport.h"

#include <ctime>

namespace qvp {

namespace {

const uint64_t kTicksPerMs = 10000ULL;
const uint64_t kTicksPerSecond = 10000000ULL;
const uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
const int64_t kEpochDeltaSeconds = 11644473600LL;  // 1601-01-01 to 1970-01-01
const uint64_t kMaxTicks = 0x7FFFFFFFFFFFFFFFULL;   // FILETIME values Windows accepts

// Days in a 400-, 100-, 4- and 1-year cycle counted from 1601, the start of a 400-year cycle.
const uint64_t kDays400 = 146097, kDays100 = 36524, kDays4 = 1461, kDays1 = 365;

bool IsLeap(uint64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Year and zero-based day of year of a day count since 1601-01-01, on the proleptic Gregorian
// calendar; plain integer arithmetic, so the whole FILETIME range works whatever time_t is.
void YearAndDay(uint64_t days, uint64_t& year, uint64_t& dayOfYear) {
    const uint64_t q400 = days / kDays400;
    days %= kDays400;
    uint64_t q100 = days / kDays100;
    if (q100 == 4) q100 = 3;  // the last day of a 400-year cycle belongs to its fourth century
    days -= q100 * kDays100;
    const uint64_t q4 = days / kDays4;
    days %= kDays4;
    uint64_t q1 = days / kDays1;
    if (q1 == 4) q1 = 3;  // likewise the leap day closing a 4-year cycle
    days -= q1 * kDays1;
    year = 1601 + 400 * q400 + 100 * q100 + 4 * q4 + q1;
    dayOfYear = days;
}

void MonthAndDay(uint64_t year, uint64_t dayOfYear, WORD& month, WORD& day) {
    static const uint64_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    month = 1;
    for (int m = 0; m < 12; ++m) {
        const uint64_t len = kMonthDays[m] + ((m == 1 && IsLeap(year)) ? 1 : 0);
        if (dayOfYear < len) break;
        dayOfYear -= len;
        ++month;
    }
    day = static_cast<WORD>(dayOfYear + 1);
}

}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime) {
    if (!lpFileTime || !lpSystemTime) return posix::Fail(ERROR_INVALID_PARAMETER);
    const uint64_t ticks = posix::TicksFromFileTime(*lpFileTime);
    if (ticks > kMaxTicks) return posix::Fail(ERROR_INVALID_PARAMETER);
    const uint64_t days = ticks / kTicksPerDay;
    const uint64_t inDay = ticks % kTicksPerDay;
    uint64_t year, dayOfYear;
    YearAndDay(days, year, dayOfYear);
    SYSTEMTIME& st = *lpSystemTime;
    st.wYear = static_cast<WORD>(year);
    MonthAndDay(year, dayOfYear, st.wMonth, st.wDay);
    st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st.wHour = static_cast<WORD>(inDay / (3600 * kTicksPerSecond));
    st.wMinute = static_cast<WORD>(inDay / (60 * kTicksPerSecond) % 60);
    st.wSecond = static_cast<WORD>(inDay / kTicksPerSecond % 60);
    st.wMilliseconds = static_cast<WORD>(inDay / kTicksPerMs % 1000);
    return TRUE;
}

// Uses the offset in force at that instant (DST included), so a file time shows the wall-clock
// time it had when written; Windows applies today's offset instead.
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime) {
    if (!lpFileTime || !lpLocalFileTime) return posix::Fail(ERROR_INVALID_PARAMETER);
    const uint64_t ticks = posix::TicksFromFileTime(*lpFileTime);
    if (ticks > kMaxTicks) return posix::Fail(ERROR_INVALID_PARAMETER);
    const time_t t = static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDeltaSeconds);
    struct tm local;
    if (!localtime_r(&t, &local)) return posix::Fail(ERROR_INVALID_PARAMETER);
    const int64_t offset = static_cast<int64_t>(local.tm_gmtoff) * static_cast<int64_t>(kTicksPerSecond);
    if (offset > 0 && ticks > kMaxTicks - static_cast<uint64_t>(offset)) return posix::Fail(ERROR_INVALID_PARAMETER);
    const int64_t shifted = static_cast<int64_t>(ticks) + offset;
    if (shifted < 0) return posix::Fail(ERROR_INVALID_PARAMETER);
    *lpLocalFileTime = posix::FileTimeFromTicks(static_cast<uint64_t>(shifted));
    return TRUE;
}

void GetSystemTime(SYSTEMTIME* lpSystemTime) {
    if (!lpSystemTime) return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(now.tv_sec) + kEpochDeltaSeconds) * kTicksPerSecond +
                           static_cast<uint64_t>(now.tv_nsec) / 100;
    const FILETIME ft = posix::FileTimeFromTicks(ticks);
    FileTimeToSystemTime(&ft, lpSystemTime);
}

}  // namespace qvp
