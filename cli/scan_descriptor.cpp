#include "cli/scan_descriptor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/file_handle.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"

namespace selvane::cli {
namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

uint64_t Number(const std::string& text) {
  uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string Hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Values are single lines: a line break in a path would end the value early.
std::string OneLine(std::string value) {
  std::replace(value.begin(), value.end(), '\n', ' ');
  std::replace(value.begin(), value.end(), '\r', ' ');
  return value;
}

std::string Trimmed(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string ScanDescriptor::Kind() const {
  if (target.image) return "image";
  if (!target.imagePath.empty()) return "image-partition";
  return target.partition != 0 || target.firstSector != 0 ? "partition" : "drive";
}

ResultCode WriteScanDescriptor(const ScanDescriptor& d) {
  std::ostringstream text;
  text << "# Selvane scan: what was scanned, for listing and recovering without scanning again\n";
  text << "source=" << OneLine(d.source) << "\n";
  text << "kind=" << d.Kind() << "\n";
  if (!d.target.imagePath.empty()) text << "image=" << OneLine(d.target.imagePath) << "\n";
  if (!d.target.devicePath.empty()) text << "device=" << OneLine(d.target.devicePath) << "\n";
  text << "label=" << OneLine(d.target.label) << "\n";
  text << "partition=" << d.target.partition << "\n";
  text << "first_sector=" << d.target.firstSector << "\n";
  text << "sector_count=" << d.target.sectorCount << "\n";
  text << "sector_size=" << d.target.sectorSize << "\n";
  text << "volume=" << d.target.sourceId << "\n";
  text << "mode=" << (d.mode == ScanMode::Fast ? "fast" : "deep") << "\n";
  text << "started=" << d.started << "\n";
  text << "state=" << d.state << "\n";
  text << "files=" << d.files << "\n";
  text << "folders=" << d.folders << "\n";
  text << "fingerprint=" << Hex(d.fingerprint) << "\n";
  for (const std::string& log : d.logs) text << "log=" << OneLine(log) << "\n";
  const std::string bytes = text.str();

  const std::string path = Trimmed(d.folder) + "/" + kDescriptorName;
  const std::string temporary = path + ".tmp";
  FileHandle file;
  if (ResultCode rc = OpenFile(temporary, OpenMode::CreateAlways, file); rc != kSuccess) return rc;
  if (ResultCode rc = WriteAll(file, bytes.data(), bytes.size()); rc != kSuccess) {
    file.Close();
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return rc;
  }
  file.Close();
  std::error_code ec;
  fs::rename(temporary, path, ec);
  return ec ? ResultFromErrno(ec.value(), true) : kSuccess;
}

bool ReadScanDescriptor(const std::string& folder, ScanDescriptor& out) {
  const std::string path = Trimmed(folder) + "/" + kDescriptorName;
  FileHandle file;
  if (OpenFile(path, OpenMode::ReadOnly, file) != kSuccess) return false;
  uint64_t size = 0;
  if (file.Size(size) != kSuccess || size > (1u << 20)) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size && file.ReadAt(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(size)) return false;

  std::map<std::string, std::string> values;
  std::istringstream lines(bytes);
  std::string line, kind;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "log")
      out.logs.push_back(value);
    else
      values[key] = value;
  }
  out.described = true;
  out.source = values["source"];
  kind = values["kind"];
  out.target.image = kind == "image";
  out.target.imagePath = values["image"];
  out.target.devicePath = values["device"];
  out.target.label = values["label"];
  out.target.partition = static_cast<uint32_t>(Number(values["partition"]));
  out.target.firstSector = Number(values["first_sector"]);
  out.target.sectorCount = Number(values["sector_count"]);
  out.target.sectorSize = static_cast<uint32_t>(Number(values["sector_size"]));
  if (out.target.sectorSize == 0) out.target.sectorSize = 512;
  out.target.sourceId = static_cast<uint16_t>(Number(values["volume"]));
  out.mode = values["mode"] == "fast" ? ScanMode::Fast : ScanMode::Professional;
  out.started = values["started"];
  out.state = values["state"];
  out.files = Number(values["files"]);
  out.folders = Number(values["folders"]);
  out.fingerprint = std::strtoull(values["fingerprint"].c_str(), nullptr, 16);
  // Sources of kinds this version does not know are not reopened.
  if (kind != "image" && kind != "image-partition" && kind != "drive" && kind != "partition") return false;
  if ((kind == "image" || kind == "image-partition") && out.target.imagePath.empty()) return false;
  if ((kind == "drive" || kind == "partition") && out.target.devicePath.empty()) return false;
  return true;
}

std::vector<ScanDescriptor> ListScans() {
  std::vector<ScanDescriptor> scans;
  CScanHistory& history = CScanHistory::Instance();
  const std::string root = history.Root();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      continue;
    if (!entry.is_directory(ec) || name.size() > 18) continue;
    ScanDescriptor d;
    d.number = Number(name);
    d.folder = entry.path().string() + "/";
    if (!ReadScanDescriptor(d.folder, d)) {
      d = ScanDescriptor{};
      d.number = Number(name);
      d.folder = entry.path().string() + "/";
      // A deep scan the history remembers: its source and how far it got.
      for (const ScanHistoryEntry& e : history.Entries()) {
        if (Trimmed(e.folder) != Trimmed(d.folder)) continue;
        d.mode = ScanMode::Professional;
        d.state = e.walk.runLength == 0 ? "finished" : "stopped";
        d.files = e.walk.filesFound;
        if (!e.imagePath.empty()) {
          d.source = e.imagePath;
          d.target.image = true;
          d.target.imagePath = e.imagePath;
        } else {
          d.source = "drive " + std::to_string(e.driveNumber) + " sectors " + std::to_string(e.firstSector) + "+" +
                     std::to_string(e.sectorCount);
        }
      }
      if (d.source.empty()) d.source = "?";
    }
    d.logs = {};
    for (const std::string& log : LogFilesIn(d.folder)) d.logs.push_back(fs::path(log).filename().string());
    scans.push_back(std::move(d));
  }
  std::sort(scans.begin(), scans.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
  return scans;
}

bool FindScan(uint64_t number, ScanDescriptor& out) {
  for (ScanDescriptor& d : ListScans())
    if (d.number == number) {
      out = std::move(d);
      return true;
    }
  return false;
}

std::vector<std::string> LogFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file(ec) || name.empty() || name[0] == '.' || EndsWith(name, "_Relation") ||
        EndsWith(name, "_DirInfo"))
      continue;
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string NowIso() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace selvane::cli
