// Tests of the FILETIME conversions: calendar fields over the whole range, and local time.
#include "platform/QvPlatform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

FILETIME FromTicks(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

[[maybe_unused]] uint64_t Ticks(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

}  // namespace

TEST(QvTime, FileTimeToSystemTimeTable) {
    const struct {
        const char* label;
        uint64_t ticks;
        WORD year, month, day, weekday, hour, minute, second, ms;
    } rows[] = {
        {"zero is 1601-01-01, a Monday", 0, 1601, 1, 1, 1, 0, 0, 0, 0},
        {"last day of 1601", 314496000000000ULL, 1601, 12, 31, 1, 0, 0, 0, 0},
        {"1900 is no leap year", 94405824000000000ULL, 1900, 3, 1, 4, 0, 0, 0, 0},
        {"Unix epoch", 116444736000000000ULL, 1970, 1, 1, 4, 0, 0, 0, 0},
        {"2000 is a leap year", 125963423999990000ULL, 2000, 2, 29, 2, 23, 59, 59, 999},
        {"2001 with milliseconds", 126256467067000000ULL, 2001, 2, 3, 6, 4, 5, 6, 700},
        {"2100 end of year", 157784112000000000ULL, 2100, 12, 31, 5, 12, 0, 0, 0},
        {"largest valid value", 0x7FFFFFFFFFFFFFFFULL, 30828, 9, 14, 4, 2, 48, 5, 477},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const FILETIME ft = FromTicks(row.ticks);
        SYSTEMTIME st;
        ASSERT_TRUE(qvp::FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(st.wYear, row.year);
        EXPECT_EQ(st.wMonth, row.month);
        EXPECT_EQ(st.wDay, row.day);
        EXPECT_EQ(st.wDayOfWeek, row.weekday);
        EXPECT_EQ(st.wHour, row.hour);
        EXPECT_EQ(st.wMinute, row.minute);
        EXPECT_EQ(st.wSecond, row.second);
        EXPECT_EQ(st.wMilliseconds, row.ms);
    }
    const FILETIME tooBig = FromTicks(0x8000000000000000ULL);
    SYSTEMTIME st;
    EXPECT_FALSE(qvp::FileTimeToSystemTime(&tooBig, &st));
    EXPECT_EQ(qvp::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(QvTime, SystemTimeIsNow) {
    SYSTEMTIME st;
    qvp::GetSystemTime(&st);
    const std::time_t now = std::time(nullptr);
    std::tm utc;
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    EXPECT_EQ(st.wYear, utc.tm_year + 1900);
    if (st.wDay == utc.tm_mday) {  // not across midnight between the two reads
        EXPECT_EQ(st.wMonth, utc.tm_mon + 1);
        EXPECT_EQ(st.wDayOfWeek, utc.tm_wday);
    }
}

#if !defined(_WIN32)
namespace {

// Sets TZ for the test and restores it afterwards.
class TzGuard {
public:
    explicit TzGuard(const char* tz) {
        if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzGuard() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

int64_t LocalShiftHours(uint64_t ticks) {
    const FILETIME utc = FromTicks(ticks);
    FILETIME local;
    EXPECT_TRUE(qvp::FileTimeToLocalFileTime(&utc, &local));
    return (static_cast<int64_t>(Ticks(local)) - static_cast<int64_t>(ticks)) / (3600LL * 10000000LL);
}

}  // namespace

TEST(QvTime, LocalTimeUsesTheOffsetInForceAtThatInstant) {
    const uint64_t january = 133497936000000000ULL;  // 2024-01-15 12:00 UTC
    const uint64_t july = 133643088000000000ULL;     // 2024-07-01 12:00 UTC
    {
        TzGuard tz("UTC0");
        EXPECT_EQ(LocalShiftHours(january), 0);
        EXPECT_EQ(LocalShiftHours(july), 0);
    }
    {
        TzGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(LocalShiftHours(january), 1);
        EXPECT_EQ(LocalShiftHours(july), 2) << "summer time applies to a summer file time";
    }
    {
        TzGuard tz("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(LocalShiftHours(january), -5);
        EXPECT_EQ(LocalShiftHours(july), -4);
    }
}
#endif
