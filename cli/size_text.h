// Sizes and durations as a person reads them.
#pragma once

#include <cstdint>
#include <string>

namespace selvane::cli {

// "512 B", "1.5 KiB", "7.45 GiB".
std::string SizeText(uint64_t bytes);

// "42 s", "3 min 5 s", "2 h 10 min".
std::string DurationText(int64_t seconds);

}  // namespace selvane::cli
