// The one place through which the program creates files for the user
// (recovered files, folders, preview copies, disk images). Names that come from
// a disk are untrusted: they are made safe before they touch the file system,
// and nothing is ever written outside the folder it is meant for.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_handle.h"
#include "platform/result_codes.h"

namespace selvane {

// A name from disk made safe as one path component: "/", NUL and control
// characters replaced, "." and ".." and empty names replaced, cut to 255 bytes
// at a character boundary (keeping the extension), and still recognisable.
std::string SanitizeName(std::string_view nameFromDisk);

// folder + "/" + SanitizeName(name): always a direct child of folder.
std::string JoinBelow(const std::string& folder, std::string_view nameFromDisk);

// Creates the folder and its missing parents; refuses "." and ".." components.
ResultCode CreateFolders(const std::string& folder);

// Creates (or truncates) the file at path for writing, with its missing parent
// folders. Refuses a path with a "." or ".." component (kInvalidParameter),
// never follows a symbolic link in the last component and writes only regular
// files (kAccessDenied otherwise).
ResultCode CreateOutputFile(const std::string& path, FileHandle& out);

// True when `path` is `folder` or lies below it (after resolving what exists).
bool IsBelow(const std::string& path, const std::string& folder);

}  // namespace selvane
