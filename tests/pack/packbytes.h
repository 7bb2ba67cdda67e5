#pragma once
// Hand-made container bytes for the pack tests: headers and entries exactly
// as they stand in a file, so that tests can build hostile containers the
// writers would never make.
#include <cstdint>
#include <string>
#include <vector>

namespace packtest {

// The 24 signature bytes (assembled at run time, never stored as one run).
std::string signature();

std::string le32(uint32_t v);

struct RawEntry {
  std::string name;  // up to 64 bytes stored as given (no NUL added at 64)
  uint32_t checksum = 0, kind = 0, offset = 0, length = 0, next = 0, previous = 0, parent = 0, firstChild = 0;
};

std::string header(uint32_t total, uint32_t count, uint32_t r24 = 0, uint32_t r36 = 0, uint32_t r40 = 0);
std::string entry(const RawEntry& e);

// A flat container of named members, offsets in order.
std::string flatContainer(const std::vector<std::pair<std::string, std::string>>& members);

// A container from raw entries and a data area.
std::string container(const std::vector<RawEntry>& entries, const std::string& data);

// Bytes of a deterministic pattern.
std::string pattern(size_t size, uint32_t seed);

}  // namespace packtest
