#pragma once
// A store's files read whole into memory and judged by the loader's rules,
// for checks and read-only views that must never write. Not thread-safe.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cask/format.h"

namespace cask {

struct InspectedFiles {
  FileCheck check = FileCheck::NoData;
  // The meta record and the data file with an intact compaction journal
  // applied, the data grown with zeros to whole pages (as a load sees them).
  CaskMetaInfo meta;
  std::vector<uint8_t> data;
  // The content size a load would use; meaningful when check is Valid.
  size_t contentSize = 0;
  // The data file's own size header.
  uint32_t header = 0;
};

// Reads `dataPath` and its meta file (read-only; creates nothing).
[[nodiscard]] InspectedFiles inspectDataFile(const std::string& dataPath);

}  // namespace cask
