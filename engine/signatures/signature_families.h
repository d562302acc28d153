// The detectors and size rules that the format families define (one .cpp file
// per family) and table.cpp puts in order.
#pragma once

#include "engine/signatures/signature_rules.h"

namespace selvane {

inline constexpr uint64_t k128MiB = 0x8000000ull;
inline constexpr uint64_t k256MiB = 0x10000000ull;
inline constexpr uint64_t k1GiB = 0x40000000ull;
inline constexpr uint64_t k2GiB = 0x80000000ull;
inline constexpr uint64_t k4GiB = 0x100000000ull;
inline constexpr uint64_t k6GiB = 0x180000000ull;
inline constexpr uint64_t k64GiB = 0x1000000000ull;
// Compound files and Office packages: one byte under 128 MiB.
inline constexpr uint64_t kOfficeLimit = 0x7FFFFFFull;

// Size rule of the formats whose end is not marked: the file ends where the
// next file or file-system structure begins, or at the limit.
template <uint64_t Limit>
uint64_t MeasureToNextFile(ByteReader sector, CarveContext& context) {
  return ScanAhead(context, sector.bytes(), {.limit = Limit}, nullptr);
}

// mpeg.cpp
extern const DetectorSpec kMpegDetector;
extern const DetectorSpec kMpegAudioDetector;
extern const DetectorSpec kTransportStreamDetector;
extern const DetectorSpec kBdavStreamDetector;
uint64_t MeasureMpeg(ByteReader sector, CarveContext& context);
uint64_t MeasureTransportStream(ByteReader sector, CarveContext& context);
uint64_t MeasureMpegAudio(ByteReader sector, CarveContext& context);

// isobmff.cpp
extern const DetectorSpec kMp4Detector;
extern const DetectorSpec k3gppDetector;
extern const DetectorSpec kQuickTimeDetector;
uint64_t MeasureMp4(ByteReader sector, CarveContext& context);
uint64_t MeasureIsoMedia(ByteReader sector, CarveContext& context);

// video.cpp: RealMedia, ASF, Matroska, MXF
extern const DetectorSpec kRealMediaDetector;
extern const DetectorSpec kAsfDetector;
extern const DetectorSpec kMatroskaDetector;
extern const DetectorSpec kMxfDetector;
uint64_t MeasureRealMedia(ByteReader sector, CarveContext& context);
uint64_t MeasureAsf(ByteReader sector, CarveContext& context);

// flash.cpp: SWF, FLV, FLA
extern const DetectorSpec kSwfDetector;
extern const DetectorSpec kFlvDetector;
extern const DetectorSpec kFlaDetector;
uint64_t MeasureSwf(ByteReader sector, CarveContext& context);

// riff.cpp: AVI, WAVE
extern const DetectorSpec kAviDetector;
extern const DetectorSpec kWaveDetector;
uint64_t MeasureRiff(ByteReader sector, CarveContext& context);

// audio.cpp: MP3, MIDI, Monkey's Audio, SMAF
extern const DetectorSpec kMp3Detector;
extern const DetectorSpec kMidiDetector;
extern const DetectorSpec kMonkeysAudioDetector;
extern const DetectorSpec kSmafDetector;
uint64_t MeasureMp3(ByteReader sector, CarveContext& context);
uint64_t MeasureMidi(ByteReader sector, CarveContext& context);
uint64_t MeasureMonkeysAudio(ByteReader sector, CarveContext& context);

// jpeg.cpp
extern const DetectorSpec kJpegDetector;
uint64_t MeasureJpeg(ByteReader sector, CarveContext& context);

// png.cpp
extern const DetectorSpec kPngDetector;
uint64_t MeasurePng(ByteReader sector, CarveContext& context);

// images.cpp: GIF, BMP, PSD, TIFF, icons
extern const DetectorSpec kGifDetector;
extern const DetectorSpec kBmpDetector;
extern const DetectorSpec kPsdDetector;
extern const DetectorSpec kTiffDetector;
extern const DetectorSpec kIconDetector;
uint64_t MeasureGif(ByteReader sector, CarveContext& context);
uint64_t MeasureBmp(ByteReader sector, CarveContext& context);
uint64_t MeasureIcon(ByteReader sector, CarveContext& context);

// compound.cpp
extern const DetectorSpec kCompoundDetector;
uint64_t MeasureCompoundFile(ByteReader sector, CarveContext& context);

// package.cpp: Office packages and ZIP
extern const DetectorSpec kPackageDetector;
extern const DetectorSpec kZipDetector;
uint64_t MeasurePackage(ByteReader sector, CarveContext& context);
uint64_t MeasureZip(ByteReader sector, CarveContext& context);

// pdf.cpp
extern const DetectorSpec kPdfDetector;
uint64_t MeasurePdf(ByteReader sector, CarveContext& context);

// archives.cpp: gzip, 7-Zip, RAR, cabinet
extern const DetectorSpec kGzipDetector;
extern const DetectorSpec kSevenZipDetector;
extern const DetectorSpec kRarDetector;
extern const DetectorSpec kCabinetDetector;
uint64_t MeasureSevenZip(ByteReader sector, CarveContext& context);
uint64_t MeasureRar(ByteReader sector, CarveContext& context);
uint64_t MeasureCabinet(ByteReader sector, CarveContext& context);

// executable.cpp
extern const DetectorSpec kExecutableDetector;

// stores.cpp: disk image backups, SQLite, Outlook Express and Outlook stores
extern const DetectorSpec kDiskImageBackupDetector;
extern const DetectorSpec kSqliteDetector;
extern const DetectorSpec kDbxDetector;
extern const DetectorSpec kPstDetector;

// font.cpp
extern const DetectorSpec kTrueTypeDetector;
uint64_t MeasureTrueType(ByteReader sector, CarveContext& context);

}  // namespace selvane
