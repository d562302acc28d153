// One MFT record as the NTFS engines meet it: the update sequence repaired,
// the attributes walked and summarised, $FILE_NAME values, resident data and
// the run list of every non-resident attribute decoded and walked.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ntfs_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the record size: 1 KiB or 4 KiB.
  if (size < 1) return 0;
  const size_t recordSize = (data[0] & 1) ? 4096 : 1024;
  std::vector<uint8_t> record(recordSize, 0);
  for (size_t i = 1; i < size && i - 1 < recordSize; ++i) record[i - 1] = data[i];

  selvane::ApplyFixups(record);
  selvane::MftFileSummary summary;
  selvane::SummarizeFileRecord(record, summary);
  selvane::MftFileName name;
  selvane::FirstFileName(record, name);
  std::span<const uint8_t> resident;
  selvane::ResidentDataOf(record, resident);

  selvane::AttributeWalker walker(record);
  selvane::NtfsAttribute attribute;
  std::vector<selvane::MftRun> runs, merged;
  int64_t lastCluster = 0;
  while (walker.Next(attribute)) {
    attribute.Name();
    attribute.Value();
    if (!attribute.nonResident) continue;
    runs.clear();
    selvane::DecodeRunList(attribute.bytes, runs);
    selvane::ExtentWalker extents(runs);
    selvane::ClusterExtent extent;
    while (extents.Next(extent)) {
    }
    selvane::AppendExtentRuns(runs, merged, lastCluster);
  }
  return 0;
}
