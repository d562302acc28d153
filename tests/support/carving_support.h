// The manifest of the carving fixture image (tools/fixtures/carving.py).
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace selvane::test {

struct CarvingSample {
  uint64_t offset = 0;  // bytes
  std::string extension;
  uint64_t length = 0;
  std::string sha256;
  std::string rule;    // exact, atleast, none
  std::string origin;  // real, synthetic, …
};

inline std::vector<CarvingSample> ReadCarvingManifest(const std::string& path) {
  std::vector<CarvingSample> samples;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    CarvingSample s;
    fields >> s.offset >> s.extension >> s.length >> s.sha256 >> s.rule;
    std::getline(fields, s.origin);
    if (!s.origin.empty() && s.origin[0] == ' ') s.origin.erase(0, 1);
    samples.push_back(s);
  }
  return samples;
}

}  // namespace selvane::test
