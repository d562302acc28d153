// FAT date and time words as FILETIME values (100 ns units since 1601-01-01).
// FAT stores local time; it is converted as it stands, without a time zone.
#pragma once

#include <cstdint>

namespace selvane {

inline constexpr uint64_t kFileTime1990 = 0x01B41E2A18D64000ull;  // 1990-01-01 00:00
inline constexpr uint64_t kFileTime2050 = 0x01F7630BE39D8000ull;  // 2050-01-01 00:00

// FILETIME of a calendar date and time; 0 when the fields are no valid date
// (month 0, 30 February, hour 24 …).
uint64_t CalendarToFileTime(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                            uint32_t second);

// Date word: day bits 0-4, month bits 5-8, year 1980 + bits 9-15. Time word:
// seconds / 2 bits 0-4, minutes bits 5-10, hours bits 11-15. 0 when invalid.
uint64_t FatDateTimeToFileTime(uint16_t date, uint16_t time);

// The creation time, with its count of 10 ms units (0-199) added.
uint64_t FatCreationTimeToFileTime(uint16_t date, uint16_t time, uint8_t hundredths);

}  // namespace selvane
