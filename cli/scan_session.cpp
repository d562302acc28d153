#include "cli/scan_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "engine/professional_recovery.h"
#include "engine/recovery_factory.h"
#include "platform/drive_registry.h"
#include "platform/file_handle.h"
#include "results/scan_history.h"
#include "storage/disk_device.h"
#include "storage/image_drives.h"

namespace selvane::cli {
namespace fs = std::filesystem;

namespace {

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
      out.push_back(DecodeRecord(std::span<const uint8_t, kScanLogRecordSize>(block.data() + i * kScanLogRecordSize,
                                                                             kScanLogRecordSize)));
    if (records == 0) break;
    offset += records * kScanLogRecordSize;
  }
}

uint64_t FolderNumber(const std::string& folder) {
  std::string name = folder;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  name = fs::path(name).filename().string();
  uint64_t number = 0;
  std::from_chars(name.data(), name.data() + name.size(), number);
  return number;
}

// Whether to continue the earlier deep scan of a volume that the history holds.
bool ShouldResume(const ScanTarget& target, const CProfessionalRecovery& deep, ResumeChoice choice,
                  const std::string& command, ProgressDisplay& display) {
  if (choice != ResumeChoice::Ask) return choice == ResumeChoice::Resume;
  const WalkPosition& walk = deep.EarlierScan().walk;
  const bool finished = walk.runLength == 0;
  if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
    display.Message(command + ": " + target.label + ": an earlier deep scan " +
                    (finished ? "(finished)" : "that was stopped") +
                    " is not resumed; add --resume to go on with it, or --restart to silence this");
    return false;
  }
  std::fprintf(stderr, "%s: %s: an earlier deep scan %s (%llu files found). Resume it? [Y/n] ", command.c_str(),
               target.label.c_str(), finished ? "finished" : "was stopped",
               static_cast<unsigned long long>(walk.filesFound));
  std::fflush(stderr);
  char answer[32] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return answer[0] != 'n' && answer[0] != 'N';
}

uint64_t FileSize(const std::string& path, bool& exists) {
  struct stat st {};
  exists = ::stat(path.c_str(), &st) == 0;
  return exists ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

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

bool ParsePartition(const ParsedArguments& parsed, uint32_t& partition, std::string& error) {
  partition = 0;
  const auto text = parsed.Option("--partition");
  if (!text) return true;
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || value == 0) {
    error = "--partition takes a partition number (1, 2, ...), not \"" + *text + "\"";
    return false;
  }
  partition = value;
  return true;
}

ScanSession::ScanSession(ProgressDisplay& display, std::string command)
    : display_(display), command_(std::move(command)) {}

ScanSession::~ScanSession() = default;

ScanSession::Status ScanSession::Run(const std::string& source, const std::vector<ScanTarget>& targets, ScanMode mode,
                                     ResumeChoice resume) {
  InstallInterruptHandler();
  CScanHistory& history = CScanHistory::Instance();
  bool cancelled = false;
  size_t opened = 0;
  for (const ScanTarget& target : targets) {
    if (InterruptRequested()) {
      cancelled = true;
      break;
    }
    Scanned scanned;
    // Files by their absolute path: the scan is listed and reopened from anywhere.
    scanned.descriptor.source = target.imagePath.empty() ? source : target.imagePath;
    scanned.descriptor.target = target;
    scanned.descriptor.mode = mode;
    scanned.descriptor.started = NowIso();
    scanned.descriptor.fingerprint = VolumeFingerprint(target);

    // A fast scan always starts in a fresh scan folder; the deep scan keeps its own.
    // Its number is saved at once: the next command must not take it again.
    if (mode == ScanMode::Fast) {
      history.BeginNewScan();
      history.SaveHistory();
    }
    scanned.engine = target.image ? CreateRecoveryForImage(target.imagePath, target.sourceId, mode)
                                  : CreateRecoveryForDisk(target.driveNumber, target.firstSector, target.sectorCount,
                                                          target.sourceId, mode);
    if (!scanned.engine) {
      if (mode == ScanMode::Fast) {
        history.DropScanNumber();
        history.SaveHistory();
      }
      // Why: the device the engines open (a partition's whole drive) may be
      // out of reach even when the partition's own node was not.
      DiskDevice device;
      const std::string opened = target.image ? target.imagePath : DriveNodePath(target.driveNumber);
      const ResultCode rc = target.image ? OpenImageFile(target.imagePath, device)
                                         : OpenDriveHandle(target.driveNumber, device);
      if (rc != kSuccess)
        display_.Message(command_ + ": " + OpenErrorText(opened.empty() ? target.label : opened, rc));
      else
        display_.Message(command_ + ": " + target.label + ": " +
                         (mode == ScanMode::Fast ? "no NTFS or FAT file system found (or it cannot be read)"
                                                 : "it cannot be read"));
      continue;
    }
    ++opened;
    IFileRecoveryParse& engine = *scanned.engine;
    auto* deep = dynamic_cast<CProfessionalRecovery*>(&engine);
    bool resumed = false;
    if (deep && deep->CanResume()) {
      resumed = ShouldResume(target, *deep, resume, command_, display_);
      if (!resumed) deep->DiscardEarlierScan();
    }
    if (!display_.Quiet())
      display_.Message(std::string(mode == ScanMode::Fast ? "Fast scan of "
                                   : resumed              ? "Resuming the deep scan of "
                                                          : "Deep scan of ") +
                       target.label);
    display_.Stage(mode == ScanMode::Fast ? "Fast scan" : "Deep scan");

    // The descriptor is written as soon as the scan folder exists, so that a
    // scan that is killed can still be found.
    bool described = false;
    engine.SetCallbacks(
        [&](int32_t percent, int32_t scale, int32_t secondsLeft, uint64_t sectorsDone, uint64_t sectorsTotal,
            uint64_t filesFound) -> int32_t {
          if (!described) {
            const std::string folder = history.GetScanFolder();
            if (fs::is_directory(folder)) {
              scanned.descriptor.folder = folder;
              scanned.descriptor.state = "running";
              WriteScanDescriptor(scanned.descriptor);
              described = true;
            }
          }
          if (InterruptRequested()) return kScanStopCode;
          display_.Update({percent * scale / 100, secondsLeft, sectorsDone, sectorsTotal, filesFound, 0});
          return 0;
        },
        nullptr, 100);
    const ResultCode rc = engine.Scan("");
    engine.SetCallbacks(nullptr, nullptr, 100);
    display_.Finish();

    // The deep scan knows its own folder (a resumed one, or none after a
    // failed start); a fast scan's is the current one.
    const std::string folder = deep ? deep->ScanFolder() : history.GetScanFolder();
    const bool stoppedWalk = deep && deep->LastPosition().runLength != 0;
    std::string state = "finished";
    if (rc == kScanStopCode) state = "stopped";
    else if (rc != kSuccess) state = "failed";
    if (!folder.empty() && fs::is_directory(folder)) {
      scanned.descriptor.folder = folder;
      scanned.descriptor.number = FolderNumber(folder);
      Describe(scanned, state);
      scanned_.push_back(std::move(scanned));
    }
    if (rc == kScanStopCode) {
      cancelled = true;
      if (stoppedWalk)
        display_.Message(command_ + ": stopped; the scan's position is saved. Run the same command with --resume "
                                    "to go on from there");
      else
        display_.Message(command_ + ": cancelled; what was found so far is kept");
      break;
    }
    if (rc != kSuccess)
      display_.Message(command_ + ": " + target.label + ": the scan ended early: " + ResultMessage(rc));
  }
  if (cancelled) return Status::Cancelled;
  return opened == 0 ? Status::NoEngine : Status::Done;
}

bool ScanSession::Reopen(const ScanDescriptor& scan, std::string& error) {
  const std::string name = "scan " + std::to_string(scan.number);
  if (!scan.described) {
    error = name + " was not made by this command line (or was killed before it started); it cannot be reopened";
    return false;
  }
  Scanned scanned;
  scanned.descriptor = scan;
  ScanTarget& target = scanned.descriptor.target;
  if (!target.imagePath.empty()) {
    bool exists = false;
    const uint64_t size = FileSize(target.imagePath, exists);
    if (!exists) {
      error = OpenErrorText(target.imagePath, kFileNotFound) + " (the image " + name + " read)";
      return false;
    }
    const uint64_t needed = (target.firstSector + target.sectorCount) * target.sectorSize;
    if (target.image ? size / 512 != target.sectorCount : size < needed) {
      error = target.imagePath + " is not the image " + name + " read: its size changed";
      return false;
    }
    if (!target.image) target.driveNumber = AttachImageAsDrive(target.imagePath);
  } else {
    SourceSpec spec;
    if (ResultCode rc = ResolveSource(target.devicePath, spec); rc != kSuccess) {
      error = OpenErrorText(target.devicePath, rc);
      return false;
    }
    // A partition chosen with --partition on a drive whose partitions the kernel does not list.
    if (spec.kind == SourceKind::Drive && target.partition != 0)
      for (const ListedPartition& p : PartitionsOf(spec))
        if (p.number == target.partition) {
          spec.firstSector = p.start512 * 512 / spec.sectorSize;
          spec.sectorCount = p.size512 * 512 / spec.sectorSize;
        }
    if (spec.kind == SourceKind::Image || spec.sectorSize != target.sectorSize ||
        spec.firstSector != target.firstSector || spec.sectorCount != target.sectorCount) {
      error = target.devicePath + " is no longer the volume " + name + " read (its place or size differs)";
      return false;
    }
    // Drive numbers follow the order of the disks present now.
    target.driveNumber = spec.driveNumber;
  }
  if (scan.fingerprint != 0 && VolumeFingerprint(target) != scan.fingerprint)
    display_.Message(command_ + ": warning: " + target.label + " changed since " + name +
                     " was made; files written to it since may have overwritten what was found");

  if (scan.state != "finished" && scan.mode == ScanMode::Professional)
    display_.Message(command_ + ": " + name + " was stopped before its end; \"" + ProgramName() + " scan " +
                     scan.source +
                     (scan.target.partition != 0 && !scan.target.imagePath.empty()
                          ? " --partition " + std::to_string(scan.target.partition)
                          : std::string()) +
                     " --resume\" finds the rest");
  ResultCode rc = kSuccess;
  scanned.engine =
      target.image ? ReopenScanOfImage(target.imagePath, target.sourceId, scan.mode, scan.folder, rc)
                   : ReopenScanOfDisk(target.driveNumber, target.firstSector, target.sectorCount, target.sourceId,
                                      scan.mode, scan.folder, rc);
  if (!scanned.engine) {
    error = name + ": " + (rc == kPathNotFound || rc == kFileNotFound ? std::string("its logs are missing")
                                                                      : OpenErrorText(target.label, rc));
    return false;
  }
  scanned_.push_back(std::move(scanned));
  return true;
}

std::vector<ScanLogRecord> ScanSession::RecordsOf(const Scanned& scanned) const {
  std::vector<ScanLogRecord> records;
  for (const std::string& log : LogFilesIn(scanned.descriptor.folder)) ReadLogRecords(log, records);
  if (auto* deep = dynamic_cast<CProfessionalRecovery*>(scanned.engine.get())) deep->RemoveCarvedDuplicates(records);
  return records;
}

std::vector<ScanLogRecord> ScanSession::Records() const {
  std::vector<ScanLogRecord> records;
  for (const Scanned& scanned : scanned_) {
    std::vector<ScanLogRecord> some = RecordsOf(scanned);
    records.insert(records.end(), some.begin(), some.end());
  }
  return records;
}

void ScanSession::Describe(Scanned& scanned, const std::string& state) {
  ScanDescriptor& d = scanned.descriptor;
  d.state = state;
  d.files = d.folders = 0;
  for (const ScanLogRecord& record : RecordsOf(scanned)) ++(record.IsFolderRecord() ? d.folders : d.files);
  d.logs.clear();
  for (const std::string& log : LogFilesIn(d.folder)) d.logs.push_back(fs::path(log).filename().string());
  d.described = true;
  if (ResultCode rc = WriteScanDescriptor(d); rc != kSuccess)
    display_.Message(command_ + ": warning: cannot write the scan's descriptor into " + d.folder + ": " +
                     ResultMessage(rc) + "; the scan cannot be listed again later");
}

const ScanSession::Scanned* ScanSession::ScannedOf(const ScanLogRecord& record) const {
  for (const Scanned& scanned : scanned_)
    if (scanned.descriptor.target.sourceId == record.VolumeLetter) return &scanned;
  return nullptr;
}

IFileRecoveryParse* ScanSession::EngineOf(const ScanLogRecord& record) const {
  const Scanned* scanned = ScannedOf(record);
  return scanned ? scanned->engine.get() : nullptr;
}

std::string ScanSession::FolderOf(const ScanLogRecord& record) const {
  std::string folder;
  if (IFileRecoveryParse* engine = EngineOf(record)) engine->QueryFolderPath(record, folder);
  return folder;
}

std::string ScanSession::PathOf(const ScanLogRecord& record) const {
  return "/" + FolderOf(record) + std::string(record.NameView());
}

uint64_t ScanSession::ScanNumberOf(const ScanLogRecord& record) const {
  const Scanned* scanned = ScannedOf(record);
  return scanned ? scanned->descriptor.number : 0;
}

std::vector<ScanDescriptor> ScanSession::Scans() const {
  std::vector<ScanDescriptor> scans;
  for (const Scanned& scanned : scanned_) scans.push_back(scanned.descriptor);
  return scans;
}

}  // namespace selvane::cli
