// Reading the contents of an NTFS file from its MFT record: resident data
// straight from the record, non-resident data run by run from the volume.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/ntfs_volume_access.h"

namespace selvane {

// Receives the file's bytes in order, in pieces of up to 64 KiB; a nonzero
// result ends the copy and is returned.
using NtfsDataSink = std::function<ResultCode(std::span<const uint8_t>)>;
// Percent of the file handed over so far (below 100); nonzero stops the copy.
using NtfsDataProgress = std::function<int32_t(int32_t percent)>;

// Hands the first min(fileSize, maxBytes) bytes of the unnamed $DATA of a
// file to `sink`. `record` is the file's base record with its update sequence
// applied; `volume` locates its extension records and clusters, and
// partitionStart is the absolute sector of cluster 0 that the data runs count
// from. Sparse runs and the part beyond the initialised size read as zeros.
// Returns 0; kNtfsAttributeNotFound when the record has no $DATA;
// kNotSupported for compressed data; kReadFault when a read delivered nothing
// (another read error as it came); kHandleEof when the runs end before the
// file does (everything up to there was handed over); or the sink's result.
// When `progress` stops the copy, `stopped` is set and its value returned.
// `buffer` is scratch space that keeps its capacity between calls.
ResultCode CopyNtfsFileData(const NtfsVolumeAccess& volume, std::span<const uint8_t> record, uint64_t partitionStart,
                            uint64_t fileSize, uint64_t maxBytes, const NtfsDataSink& sink,
                            const NtfsDataProgress& progress, bool& stopped, std::vector<uint8_t>& buffer);

}  // namespace selvane
