#include <cstdio>
#include <cstring>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/scan_targets.h"
#include "engine/byte_reader.h"
#include "engine/signatures/identify.h"
#include "engine/signatures/signature_table.h"
#include "platform/file_handle.h"

namespace selvane::cli {

const char* const kIdentifyHelp =
    "Usage: selvane identify FILE... [--json]\n"
    "\n"
    "Runs the content recognition of the deep scan on existing files: for each\n"
    "FILE, the kind of file that begins at its first byte, the extension a file\n"
    "carved from a disk would get, and the length the deep scan would carve. A\n"
    "length that differs from the file's size shows where carving would cut the\n"
    "file short or run past it. Handy to check what a deep scan makes of a file\n"
    "before looking for it on a disk.\n"
    "\n"
    "Options:\n"
    "  --json   one JSON object per file: file, size, kind, extension, length\n"
    "           (kind, extension and length are null when not recognised; length\n"
    "           is null for kinds that are recognised but not carved)\n"
    "\n"
    "Exit codes: 0 every file recognised, 1 some file not recognised, 2 usage\n"
    "error, 3 some file cannot be read.\n"
    "\n"
    "Example:\n"
    "  selvane identify ~/rescued/others/*\n";

namespace {

const char* KindName(CarveType type) {
  switch (type) {
    case CarveType::kWordDocument: return "Word document";
    case CarveType::kWordPackage: return "Word document (Office Open XML)";
    case CarveType::kCompoundFile: return "OLE compound file";
    case CarveType::kExcelWorkbook: return "Excel workbook";
    case CarveType::kExcelPackage: return "Excel workbook (Office Open XML)";
    case CarveType::kPowerPoint: return "PowerPoint presentation";
    case CarveType::kPowerPointPackage: return "PowerPoint presentation (Office Open XML)";
    case CarveType::kOfficePackage: return "Office Open XML document";
    case CarveType::kPdf: return "PDF document";
    case CarveType::kDiskImageBackup: return "disk image backup";
    case CarveType::kJpeg: return "JPEG picture";
    case CarveType::kMpegAudio: return "MPEG audio";
    case CarveType::kMp3: return "MP3 audio";
    case CarveType::kMidi: return "MIDI music";
    case CarveType::kSmaf: return "SMAF ringtone";
    case CarveType::kMpeg: return "MPEG video";
    case CarveType::k3gpp: return "3GPP video";
    case CarveType::kQuickTime: return "QuickTime video";
    case CarveType::kMp4: return "MP4 video";
    case CarveType::kMatroska: return "Matroska video";
    case CarveType::kTransportStream: return "MPEG transport stream";
    case CarveType::kWave: return "WAVE audio";
    case CarveType::kAvi: return "AVI video";
    case CarveType::kRealMedia: return "RealMedia";
    case CarveType::kAsf: return "Windows Media (ASF)";
    case CarveType::kMonkeysAudio: return "Monkey's Audio";
    case CarveType::kSwf: return "Flash movie";
    case CarveType::kFlv: return "Flash video";
    case CarveType::kPsd: return "Photoshop picture";
    case CarveType::kBmp: return "BMP picture";
    case CarveType::kPng: return "PNG picture";
    case CarveType::kGif: return "GIF picture";
    case CarveType::kTiff: return "TIFF picture";
    case CarveType::kCabinet: return "Cabinet archive";
    case CarveType::kSevenZip: return "7-Zip archive";
    case CarveType::kZip: return "ZIP archive";
    case CarveType::kGzip: return "gzip archive";
    case CarveType::kRar: return "RAR archive";
    case CarveType::kPst: return "Outlook mail store";
    case CarveType::kSqlite: return "SQLite database";
    case CarveType::kDbx: return "Outlook Express mail store";
    case CarveType::kExecutable: return "Windows program";
    case CarveType::kDynamicLibrary: return "Windows library";
    case CarveType::kDriver: return "Windows driver";
    case CarveType::kFla: return "Flash source";
    case CarveType::kTrueType: return "TrueType font";
    case CarveType::kIcon: return "Windows icon";
    case CarveType::kBdavStream: return "Blu-ray transport stream";
    case CarveType::kMxf: return "MXF video";
    case CarveType::kNone: break;
  }
  return "unknown";
}

// The sectors of a file; a last partial sector is read with zeros after the
// file's end, so a file of any length can be measured.
class FileSectorSource final : public SectorSource {
 public:
  FileSectorSource(const FileHandle& file, uint64_t size) : file_(file), size_(size) {}
  uint32_t SectorSize() const override { return 512; }
  uint64_t TotalSectors() const override { return (size_ + 511) / 512; }
  ResultCode Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t& sectorsRead) const override {
    sectorsRead = 0;
    if (first > TotalSectors() || count > TotalSectors() - first) return kInvalidParameter;
    const size_t bytes = size_t{count} * 512;
    std::memset(buffer, 0, bytes);
    const uint64_t offset = first * 512;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(bytes, size_ - std::min(size_, offset)));
    size_t done = 0;
    while (done < wanted) {
      const ssize_t n = file_.ReadAt(buffer + done, wanted - done, offset + done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done < wanted) {
      sectorsRead = static_cast<uint32_t>(done / 512);
      return kReadFault;
    }
    sectorsRead = count;
    return kSuccess;
  }

 private:
  const FileHandle& file_;
  uint64_t size_;
};

struct Identified {
  CarveType type = CarveType::kNone;
  std::string extension;
  bool measured = false;
  uint64_t length = 0;
};

ResultCode IdentifyFile(const std::string& path, uint64_t& size, Identified& out) {
  FileHandle file;
  if (ResultCode rc = OpenFile(path, OpenMode::ReadOnly, file); rc != kSuccess) return rc;
  if (ResultCode rc = file.Size(size); rc != kSuccess) return rc;
  if (size == 0) return kSuccess;
  const FileSectorSource source(file, size);
  std::vector<uint8_t> sector(512);
  uint32_t read = 0;
  if (ResultCode rc = source.Read(0, 1, sector.data(), read); rc != kSuccess) return rc;

  CarveContext context;
  context.source = &source;
  context.sectorSize = 512;
  out.type = DetectFileStart(ByteReader(sector), context);
  if (out.type == CarveType::kNone) return kSuccess;
  if (const SignatureRow* row = FirstRowOfType(out.type)) out.extension = std::string(row->extension);
  CarveContext measuring;
  CarvedFile carved;
  if (IdentifyCarvedFile(measuring, source, sector, 0, CarveProgress{}, carved) == kSuccess) {
    out.measured = true;
    out.length = carved.length;
  }
  return kSuccess;
}

}  // namespace

int RunIdentify(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  std::string error;
  if (!ParseArguments(args, {"--json"}, {}, parsed, error)) return UsageError("identify", error);
  if (parsed.positional.empty()) return UsageError("identify", "name at least one FILE");
  const bool json = parsed.Has("--json");
  bool unreadable = false, unknown = false;
  for (const std::string& path : parsed.positional) {
    uint64_t size = 0;
    Identified found;
    if (ResultCode rc = IdentifyFile(path, size, found); rc != kSuccess) {
      std::fprintf(stderr, "selvane identify: %s\n", OpenErrorText(path, rc).c_str());
      unreadable = true;
      continue;
    }
    const bool recognised = found.type != CarveType::kNone;
    unknown = unknown || !recognised;
    if (json) {
      JsonObject object;
      object.Add("file", path).Add("size", size);
      if (recognised)
        object.Add("kind", KindName(found.type)).Add("extension", found.extension);
      else
        object.AddRaw("kind", "null").AddRaw("extension", "null");
      if (found.measured)
        object.Add("length", found.length);
      else
        object.AddRaw("length", "null");
      std::printf("%s\n", object.str().c_str());
    } else if (!recognised) {
      std::printf("%s: not recognised (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(size));
    } else if (!found.measured) {
      std::printf("%s: %s, .%s, recognised but not carved (%llu bytes)\n", path.c_str(), KindName(found.type),
                  found.extension.c_str(), static_cast<unsigned long long>(size));
    } else {
      std::printf("%s: %s, .%s, %llu bytes carved%s\n", path.c_str(), KindName(found.type), found.extension.c_str(),
                  static_cast<unsigned long long>(found.length),
                  found.length == size ? " (the whole file)"
                                       : (" of " + std::to_string(size)).c_str());
    }
  }
  std::fflush(stdout);
  if (unreadable) return kExitSourceUnreadable;
  return unknown ? kExitNothingFound : kExitOk;
}

}  // namespace selvane::cli
