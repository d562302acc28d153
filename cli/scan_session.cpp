#include "cli/scan_session.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "engine/professional_recovery.h"
#include "engine/recovery_factory.h"
#include "platform/drive_registry.h"
#include "platform/file_handle.h"
#include "platform/mounts.h"
#include "platform/user_folders.h"
#include "results/formatting.h"
#include "results/scan_history.h"

namespace selvane::cli {
namespace fs = std::filesystem;

namespace {

// Image sources are numbered from 1001, as the program numbers image files.
constexpr uint16_t kFirstImageNumber = 1001;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Main files of the scan logs in a folder (never their companions), by name.
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

void ReadLogRecords(const std::string& path, std::vector<ScanLogRecord>& out) {
  FileHandle file;
  if (OpenFile(path, OpenMode::ReadOnly, file) != kSuccess) return;
  std::vector<uint8_t> block(kScanLogRecordSize * 200);
  uint64_t offset = 0;
  while (true) {
    const ssize_t n = file.ReadAt(block.data(), block.size(), offset);
    if (n <= 0) break;
    const size_t records = static_cast<size_t>(n) / kScanLogRecordSize;
    for (size_t i = 0; i < records; ++i)
      out.push_back(DecodeRecord(
          std::span<const uint8_t, kScanLogRecordSize>(block.data() + i * kScanLogRecordSize, kScanLogRecordSize)));
    if (records == 0) break;
    offset += records * kScanLogRecordSize;
  }
}

// Whether to continue the earlier deep scan of a volume that the history holds.
bool ShouldResume(const ScanTarget& target, const CProfessionalRecovery& deep, ResumeChoice choice,
                  const char* command) {
  if (choice != ResumeChoice::Ask) return choice == ResumeChoice::Resume;
  const WalkPosition& walk = deep.EarlierScan().walk;
  const bool finished = walk.runLength == 0;
  if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
    std::fprintf(stderr, "%s: %s: an earlier deep scan %s is not resumed (add --resume to go on with it)\n", command,
                 target.label.c_str(), finished ? "(finished)" : "that was stopped");
    return false;
  }
  std::fprintf(stderr, "%s: %s: an earlier deep scan %s (%llu files found). Resume it? [Y/n] ", command,
               target.label.c_str(), finished ? "finished" : "was stopped",
               static_cast<unsigned long long>(walk.filesFound));
  std::fflush(stderr);
  char answer[32] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return answer[0] != 'n' && answer[0] != 'N';
}

}  // namespace

std::vector<ScanTarget> ScanTargetsOf(const SourceSpec& source) {
  std::vector<ScanTarget> targets;
  if (source.kind == SourceKind::Image) {
    ScanTarget t;
    t.label = fs::path(source.path).filename().string();
    t.sourceId = kFirstImageNumber;
    t.image = true;
    // The history knows an image by its path: the same file under any name.
    std::error_code ec;
    const fs::path absolute = fs::absolute(source.imagePath, ec);
    t.imagePath = ec ? source.imagePath : absolute.lexically_normal().string();
    targets.push_back(t);
    return targets;
  }
  const auto partitions = ListPartitions(source.driveName);
  auto partitionTarget = [&](const SysfsPartition& p) {
    ScanTarget t;
    t.label = DevRoot() + "/" + p.name;
    t.sourceId = static_cast<uint16_t>(p.number);
    t.driveNumber = source.driveNumber;
    t.firstSector = p.start512 * 512 / source.sectorSize;
    t.sectorCount = p.size512 * 512 / source.sectorSize;
    return t;
  };
  if (source.kind == SourceKind::Partition) {
    for (const auto& p : partitions)
      if (p.start512 * 512 == source.firstSector * source.sectorSize) {
        ScanTarget t = partitionTarget(p);
        t.label = source.path;
        targets.push_back(t);
        return targets;
      }
  } else {
    for (const auto& p : partitions) targets.push_back(partitionTarget(p));
    if (!targets.empty()) return targets;
  }
  ScanTarget t;
  t.label = source.path;
  t.sourceId = 1;
  t.driveNumber = source.driveNumber;
  t.firstSector = source.firstSector;
  t.sectorCount = source.sectorCount;
  targets.push_back(t);
  return targets;
}

bool ParseScanMode(const std::string& text, ScanMode& mode) {
  if (text == "fast") {
    mode = ScanMode::Fast;
    return true;
  }
  if (text == "deep") {
    mode = ScanMode::Professional;
    return true;
  }
  return false;
}

bool ParseResumeChoice(const ParsedArguments& parsed, ResumeChoice& choice, std::string& error) {
  const bool resume = parsed.Has("--resume"), restart = parsed.Has("--restart");
  if (resume && restart) {
    error = "--resume and --restart exclude each other";
    return false;
  }
  choice = resume ? ResumeChoice::Resume : restart ? ResumeChoice::Restart : ResumeChoice::Ask;
  return true;
}

ScanSession::Status ScanSession::Run(const SourceSpec& source, ScanMode mode, const char* command,
                                     ResumeChoice resume) {
  InstallInterruptHandler();
  ProgressLine line;
  bool cancelled = false;
  for (const ScanTarget& target : ScanTargetsOf(source)) {
    if (InterruptRequested()) {
      cancelled = true;
      break;
    }
    // A fast scan always starts in a fresh scan folder; the deep scan keeps its own.
    if (mode == ScanMode::Fast) CScanHistory::Instance().BeginNewScan();
    std::unique_ptr<IFileRecoveryParse> engine =
        target.image
            ? CreateRecoveryForImage(target.imagePath, target.sourceId, mode)
            : CreateRecoveryForDisk(target.driveNumber, target.firstSector, target.sectorCount, target.sourceId, mode);
    if (!engine) {
      std::fprintf(stderr, "%s: %s: %s\n", command, target.label.c_str(),
                   mode == ScanMode::Fast ? "no NTFS or FAT file system found (or it cannot be read)"
                                          : "it cannot be read");
      continue;
    }
    auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    bool resumed = false;
    if (deep && deep->CanResume()) {
      resumed = ShouldResume(target, *deep, resume, command);
      if (!resumed) deep->DiscardEarlierScan();
    }
    line.Stage(std::string(mode == ScanMode::Fast ? "Scanning " : resumed ? "Resuming the deep scan of "
                                                                          : "Deep scan of ") +
               target.label + (mode == ScanMode::Fast ? " for deleted files" : ""));
    engine->SetCallbacks(
        [&](int32_t percent, int32_t scale, int32_t secondsLeft, uint64_t, uint64_t, uint64_t) -> int32_t {
          if (InterruptRequested()) return kScanStopCode;
          line.Update(percent * scale / 100, secondsLeft);
          return 0;
        },
        nullptr, 100);
    const ResultCode rc = engine->Scan("");
    line.Finish();
    engine->SetCallbacks(nullptr, nullptr, 100);
    // The deep scan knows its own folder (a resumed one, or none after a
    // failed start); a fast scan's is the current one.
    const std::string folder = deep ? deep->ScanFolder() : CScanHistory::Instance().GetScanFolder();
    if (!folder.empty() && std::find(folders_.begin(), folders_.end(), folder) == folders_.end())
      folders_.push_back(folder);
    engines_.push_back({target.sourceId, std::move(engine)});
    if (rc == kScanStopCode) {
      cancelled = true;
      if (deep && deep->LastPosition().runLength != 0)
        std::fprintf(stderr,
                     "%s: stopped; the scan's position is saved. Run the same command with --resume to go on "
                     "from there\n",
                     command);
      else
        std::fprintf(stderr, "%s: cancelled; what was found so far is listed\n", command);
      break;
    }
    if (rc != kSuccess)
      std::fprintf(stderr, "%s: %s: the scan ended early: %s\n", command, target.label.c_str(),
                   ResultMessage(rc).c_str());
  }
  if (cancelled) return Status::Cancelled;
  return engines_.empty() ? Status::NoEngine : Status::Done;
}

std::vector<ScanLogRecord> ScanSession::Records() const {
  std::vector<ScanLogRecord> records;
  for (const std::string& folder : folders_)
    for (const std::string& log : LogFilesIn(folder)) ReadLogRecords(log, records);
  for (const auto& scanned : engines_)
    if (auto* deep = dynamic_cast<CProfessionalRecovery*>(scanned.engine.get())) deep->RemoveCarvedDuplicates(records);
  return records;
}

IFileRecoveryParse* ScanSession::EngineOf(const ScanLogRecord& record) const {
  for (const auto& scanned : engines_)
    if (scanned.sourceId == record.VolumeLetter) return scanned.engine.get();
  return nullptr;
}

std::string ScanSession::PathOf(const ScanLogRecord& record) const {
  std::string folder;
  if (IFileRecoveryParse* engine = EngineOf(record)) engine->QueryFolderPath(record, folder);
  return "/" + folder + std::string(record.NameView());
}

std::vector<std::string> SourceMountPoints(const SourceSpec& source) {
  std::set<std::pair<uint32_t, uint32_t>> devices;
  auto addDevice = [&](const std::string& devFile) {
    uint32_t major = 0, minor = 0;
    if (ReadDeviceNumbers(devFile, major, minor)) devices.insert({major, minor});
  };
  auto addDiskAndPartitions = [&](const std::string& disk) {
    addDevice(DiskSysfsFolder(disk) + "/dev");
    for (const auto& p : ListPartitions(disk)) addDevice(DiskSysfsFolder(disk) + "/" + p.name + "/dev");
  };
  if (source.kind == SourceKind::Image) {
    struct stat st {};
    if (::stat(source.imagePath.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
      devices.insert({::major(st.st_rdev), ::minor(st.st_rdev)});
    std::error_code ec;
    const fs::path image = fs::weakly_canonical(source.imagePath, ec);
    for (const auto& entry : fs::directory_iterator(SysfsRoot() + "/block", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("loop", 0) != 0) continue;
      std::ifstream backing(entry.path() / "loop" / "backing_file");
      std::string file;
      if (std::getline(backing, file) && !file.empty() && fs::path(file) == image) addDiskAndPartitions(name);
    }
  } else {
    // A whole drive, or a partition: any mount on the drive is inside the source
    // for a drive, and the partition's own mounts for a partition.
    if (source.kind == SourceKind::Drive) {
      addDiskAndPartitions(source.driveName);
    } else {
      addDevice(DiskSysfsFolder(source.driveName) + "/dev");
      for (const auto& p : ListPartitions(source.driveName))
        if (p.start512 * 512 == source.firstSector * source.sectorSize)
          addDevice(DiskSysfsFolder(source.driveName) + "/" + p.name + "/dev");
    }
  }
  // A FUSE driver (ntfs-3g) mounts an image file directly: its source is the file.
  std::error_code ec;
  const fs::path image = source.kind == SourceKind::Image ? fs::weakly_canonical(source.imagePath, ec) : fs::path();
  std::vector<std::string> mountPoints;
  for (const auto& mount : ReadMounts()) {
    const bool sameFile = !image.empty() && !mount.source.empty() && mount.source[0] == '/' &&
                          fs::weakly_canonical(mount.source, ec) == image;
    if (devices.count({mount.major, mount.minor}) || sameFile) mountPoints.push_back(mount.mountPoint);
  }
  return mountPoints;
}

std::string IsoTime(uint64_t fileTime) {
  if (fileTime == 0) return {};
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  FileTimeToUnix(fileTime, seconds, nanoseconds);
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (::gmtime_r(&t, &parts) == nullptr) return {};
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

const char* EngineName(uint32_t engineCode) {
  switch (engineCode) {
    case kEngineFastNtfs: return "ntfs";
    case kEngineFastFat: return "fat";
    case kEngineProNtfs: return "ntfs-formatted";
    case kEngineProFat: return "fat-formatted";
    case kEngineCarving: return "carving";
  }
  return "unknown";
}

}  // namespace selvane::cli
