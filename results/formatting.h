// Text forms of times, durations and sizes, file name helpers, and the
// conversions between the stored time format (FILETIME: 100-ns units since
// 1 January 1601 UTC) and Unix time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/result_codes.h"
#include "platform/text.h"

namespace selvane {

// FILETIME of the Unix epoch.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

// Seconds since the Unix epoch (rounded down) and the nanoseconds within that second.
void FileTimeToUnix(uint64_t fileTime, int64_t& seconds, uint32_t& nanoseconds);
// FILETIME of a Unix time; 0 for a time before 1601, the largest value past the range.
uint64_t UnixToFileTime(int64_t seconds, uint32_t nanoseconds = 0);

// "year-month-day hh:mm:ss" (month and day without leading zero) of the time as
// stored, with no time zone conversion; with convertToLocal the stored time is
// taken as UTC and shown in the local time zone. Empty for a time out of range.
std::string FormatFileTime(uint64_t fileTime, bool convertToLocal = false);

// "%d Hour %d Min", "%d Min %d Sec" or "%d Sec".
std::string FormatDuration(int64_t seconds);

// "1.50 KB", "2.00 GB", "1023 Bytes": two decimals from 1 KiB on, binary units.
std::string FormatSize(int64_t bytes);

// The part after the last "/" or "\" ; empty for an empty path.
std::string FileNameOfPath(std::string_view path);

// The text after the last "." of name; kInvalidParameter when it has none.
ResultCode GetExtension(std::string_view name, std::string& extension);

// Text at the edge of a stored or shown UTF-16 form.
inline std::u16string ToWide(std::string_view text) { return Utf8ToUtf16(text); }
inline std::string ToNarrow(std::u16string_view text) { return Utf16ToUtf8(text); }

}  // namespace selvane
