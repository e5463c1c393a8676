#pragma once
// Reads log files and block cache files back (format: docs/log_format.md).
// Damaged stretches are reported and skipped; every intact block is returned.
//
//   auto result = vela::jot::ReadLogBlocks(bytes, serverPrivateKey);
//   for (const auto& block : result.blocks) std::cout << block.text;
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jot/log_crypt.h"

namespace vela::jot {

struct DecodedBlock {
  size_t offset = 0;
  uint8_t magic = 0;
  uint16_t seq = 0;
  uint8_t beginHour = 0;
  uint8_t endHour = 0;
  uint32_t bodyLength = 0;
  bool isAsync = false;
  bool isCrypt = false;
  bool isZstd = false;
  std::string text;   // the records (async) or the notice line (sync)
  std::string error;  // empty when the whole body decoded
};

struct ReadResult {
  std::vector<DecodedBlock> blocks;
  std::vector<std::string> damage;  // one line per skipped stretch
};

// Walks a log file. With `serverKey` unset, encrypted blocks are returned
// with an error and no text.
[[nodiscard]] ReadResult ReadLogBlocks(std::span<const uint8_t> bytes,
                                       const std::optional<EcPrivateKey>& serverKey);
// Reads the blocks of a block cache file, oldest first (an open block needs
// no tail byte).
[[nodiscard]] ReadResult ReadCacheBlocks(std::span<const uint8_t> bytes,
                                         const std::optional<EcPrivateKey>& serverKey);
// Where the whole block that starts at `offset` ends (the offset after its
// tail byte), or 0 when none does: a valid magic, hours 0..23, sequence 0
// in a sync block, and a zero tail byte at the place its length gives.
[[nodiscard]] size_t BlockEndAt(std::span<const uint8_t> bytes, size_t offset);
// Decodes one block body given its header fields.
void DecodeBlockBody(std::span<const uint8_t> header, std::span<const uint8_t> body,
                     const std::optional<EcPrivateKey>& serverKey, DecodedBlock& out);

}  // namespace vela::jot
