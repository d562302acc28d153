// Type names of found files: grouping records by normalised extension for the
// type branches of the result tree, and the icon of a result row.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results/scan_log_record.h"

namespace selvane {

// Type name of a file: its extension lowered, with variants folded onto one name
// ("jpeg" -> "jpg", "docx" -> "doc", ...); "unknow" without an extension.
std::string NormalisedTypeName(std::string_view fileName);

// Normalised type name -> the records of that type, in the order they came.
using TypeGroups = std::map<std::string, std::vector<ScanLogRecord>, std::less<>>;

// Empties groups and fills it from records.
void GroupByType(std::span<const ScanLogRecord> records, TypeGroups& groups);

// Icon of a row relative to the skin, "FileIcon/<name>.png": by type ("folder"
// for folder rows, else the file's extension) and whether the file is intact.
std::string FileIconPath(std::string_view type, bool intact);

}  // namespace selvane
