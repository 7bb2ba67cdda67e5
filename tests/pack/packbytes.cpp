#include "tests/pack/packbytes.h"

#include "pack/pack.h"

namespace packtest {

std::string signature() {
  uint8_t s[packformat::kSignatureSize];
  packformat::signatureBytes(s);
  return std::string(reinterpret_cast<const char*>(s), sizeof s);
}

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::string header(uint32_t total, uint32_t count, uint32_t r24, uint32_t r36, uint32_t r40) {
  return signature() + le32(r24) + le32(total) + le32(count) + le32(r36) + le32(r40);
}

std::string entry(const RawEntry& e) {
  std::string name = e.name.substr(0, 64);
  name.resize(64, '\0');
  return name + le32(e.checksum) + le32(e.kind) + le32(e.offset) + le32(e.length) + le32(e.next) + le32(e.previous) +
         le32(e.parent) + le32(e.firstChild);
}

std::string container(const std::vector<RawEntry>& entries, const std::string& data) {
  const uint32_t total = static_cast<uint32_t>(44 + 96 * entries.size() + data.size());
  std::string out = header(total, static_cast<uint32_t>(entries.size()));
  for (const RawEntry& e : entries) out += entry(e);
  return out + data;
}

std::string flatContainer(const std::vector<std::pair<std::string, std::string>>& members) {
  std::vector<RawEntry> entries;
  std::string data;
  for (const auto& [name, bytes] : members) {
    RawEntry e;
    e.name = name;
    e.offset = static_cast<uint32_t>(data.size());
    e.length = static_cast<uint32_t>(bytes.size());
    entries.push_back(e);
    data += bytes;
  }
  return container(entries, data);
}

std::string pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace packtest
