// Per-sector cost of asking the signature table which file begins in a sector:
// through the first-bytes dispatch index and through the plain row-by-row
// loop, on sectors that match nothing and on the sectors of the carving
// fixture image (real files: mostly their data, some of their headers). Also
// the look-ahead test (file starts and file-system structures) that the size
// rules run on every sector they read.
//   carving_bench [--benchmark_filter=...]   (image: $SELVANE_CARVING_IMAGE or the build's fixture)
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "engine/signatures/signature_rules.h"
#include "engine/signatures/signature_table.h"

namespace selvane {
namespace {

constexpr size_t kSector = 512;

std::vector<uint8_t> RandomSectors(size_t count) {
  std::mt19937_64 random(42);
  std::vector<uint8_t> bytes(count * kSector);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Random sectors that no row recognises, with every eighth one all zeros.
const std::vector<uint8_t>& NonMatching() {
  static const std::vector<uint8_t> sectors = [] {
    auto bytes = RandomSectors(8192);
    for (size_t s = 0; s < 8192; s += 8) std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(s * kSector), kSector, 0);
    const MemorySectorSource source(bytes, kSector);
    CarveContext context;
    context.source = &source;
    std::vector<uint8_t> kept;
    for (size_t s = 0; s < 8192; ++s) {
      const auto sector = std::span<const uint8_t>(bytes).subspan(s * kSector, kSector);
      context.candidateStart = context.sectorUnderTest = s;
      if (DetectByRows(ByteReader(sector), context) == CarveType::kNone) kept.insert(kept.end(), sector.begin(), sector.end());
    }
    return kept;
  }();
  return sectors;
}

const std::vector<uint8_t>& Mixed() {
  static const std::vector<uint8_t> sectors = [] {
    const char* env = std::getenv("SELVANE_CARVING_IMAGE");
    std::ifstream in(env != nullptr ? env : SELVANE_FIXTURE_DIR "/carving.img", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() / kSector * kSector);
    return bytes;
  }();
  return sectors;
}

template <CarveType (*Detect)(ByteReader, CarveContext&)>
void Identify(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) {
    state.SkipWithError("no sectors (is the carving fixture unpacked?)");
    return;
  }
  const MemorySectorSource source(bytes, kSector);
  CarveContext context;
  context.source = &source;
  const size_t sectors = bytes.size() / kSector;
  size_t recognised = 0;
  for (auto _ : state) {
    for (size_t s = 0; s < sectors; ++s) {
      context.candidateStart = context.sectorUnderTest = s;
      const CarveType t = Detect(ByteReader(std::span<const uint8_t>(bytes).subspan(s * kSector, kSector)), context);
      recognised += t != CarveType::kNone;
    }
  }
  benchmark::DoNotOptimize(recognised);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["ns/sector"] =
      benchmark::Counter(static_cast<double>(state.iterations() * sectors), benchmark::Counter::kIsRate |
                                                                                benchmark::Counter::kInvert);
}

void BM_DispatchNonMatching(benchmark::State& state) { Identify<DetectFileStart>(state, NonMatching()); }
void BM_RowByRowNonMatching(benchmark::State& state) { Identify<DetectByRows>(state, NonMatching()); }
void BM_DispatchMixed(benchmark::State& state) { Identify<DetectFileStart>(state, Mixed()); }
void BM_RowByRowMixed(benchmark::State& state) { Identify<DetectByRows>(state, Mixed()); }

// The test that a size rule runs on each sector it reads ahead.
void BM_LookAheadNonMatching(benchmark::State& state) {
  const auto& bytes = NonMatching();
  const MemorySectorSource source(bytes, kSector);
  CarveContext context;
  context.source = &source;
  for (auto _ : state) {
    uint64_t length = 0;
    context.sectorUnderTest = 0;
    benchmark::DoNotOptimize(FindNextFileStart(context, bytes, length));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_DispatchNonMatching);
BENCHMARK(BM_RowByRowNonMatching);
BENCHMARK(BM_DispatchMixed);
BENCHMARK(BM_RowByRowMixed);
BENCHMARK(BM_LookAheadNonMatching);

}  // namespace
}  // namespace selvane

BENCHMARK_MAIN();
