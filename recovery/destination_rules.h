// Where a recovered file goes: the category folder below the chosen
// destination, a name that does not exist there yet, and the separator count
// by which an engine tells the depth of a folder it recovers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "results/scan_log_record.h"

namespace selvane {

// "photo", "audio", "video", "document", "archive" or "others" by the name's
// extension, testing the lists in that order ("song.rm" is audio).
std::string_view CategoryFolderOf(std::string_view name);

// The destination as the recovery uses it: the chosen folder without a
// trailing "/" (so "/" becomes "" and paths below it still start with "/").
std::string DestinationText(std::string_view chosenFolder);

// Number of "/" among all characters of path but the last.
int32_t CountSeparators(std::string_view path);

// path itself when nothing exists there; otherwise "<folder><title>(n)<ext>"
// with the smallest n = 1, 2, ... that names nothing.
std::string MakeUniquePath(const std::string& path);

// destination/<category folder>/<sanitised name>, made unique. With the
// record's original folders ("Photos/2019/", as the scan log gives them), they
// are recreated below the category folder, each name made safe:
// destination/photo/Photos/2019/<name>.
std::string RecoveryPathOf(const std::string& destination, const ScanLogRecord& record,
                           std::string_view originalFolders = {});

}  // namespace selvane
