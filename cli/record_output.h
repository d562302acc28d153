// How found files and folders are printed: one JSON object per record (JSON
// Lines, for programs; the fields are described in selvane(1)) or one line
// of text per record (for people).
#pragma once

#include <cstdint>
#include <string>

#include "results/scan_log_record.h"

namespace selvane::cli {

// {"scan":7,"name":"IMG_1.JPG","path":"/DCIM/IMG_1.JPG","folder":false,"size":123,
//  "category":"photo","type":"jpg","intact":true,"engine":"fat","created":"…Z",
//  "modified":"…Z","accessed":null,"record":12}
std::string RecordJson(const ScanLogRecord& record, const std::string& path, uint64_t scanNumber);

// "photo      1.21 MB  2019-07-01 12:00  intact   /DCIM/IMG_1.JPG"
std::string RecordLine(const ScanLogRecord& record, const std::string& path);

// ISO 8601 UTC text of a FILETIME ("2024-05-01T12:30:00Z"); empty for 0.
std::string IsoTime(uint64_t fileTime);

// Name of the engine that wrote a record ("ntfs", "fat", ...).
const char* EngineName(uint32_t engineCode);

}  // namespace selvane::cli
