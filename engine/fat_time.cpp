#include "engine/fat_time.h"

namespace selvane {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kSecondsPerDay = 86'400;

bool IsLeapYear(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date (a proleptic Gregorian count).
uint64_t DaysSince1601(uint32_t year, uint32_t month, uint32_t day) {
  const uint64_t y = year - 1601;
  uint64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (uint32_t m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

}  // namespace

uint64_t CalendarToFileTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                            uint32_t second) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return 0;
  if (hour > 23 || minute > 59 || second > 59) return 0;
  const uint64_t seconds = DaysSince1601(year, month, day) * kSecondsPerDay + hour * 3600ull + minute * 60ull + second;
  return seconds * kTicksPerSecond;
}

uint64_t FatDateTimeToFileTime(uint16_t date, uint16_t time) {
  return CalendarToFileTime(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F,
                            2 * (time & 0x1F));
}

uint64_t FatCreationTimeToFileTime(uint16_t date, uint16_t time, uint8_t hundredths) {
  uint64_t value = FatDateTimeToFileTime(date, time);
  if (value == 0) return 0;
  return value + (hundredths / 100) * kTicksPerSecond + (hundredths % 100) * 100'000ull;
}

}  // namespace selvane
