#include "source/stringlist.h"

#include <cstring>

#include "coms/configbase.h"

void StringList::append(std::string_view text) {
  strings_.emplace_back(text);
  joinedValid_ = false;
}

void StringList::appendList(const char* list) {
  if (!list) return;
  while (*list) {
    size_t n = std::strlen(list);
    append(std::string_view(list, n));
    list += n + 1;
  }
}

bool StringList::move(size_t from, size_t to) {
  if (from >= strings_.size() || to >= strings_.size()) return false;
  std::string s = std::move(strings_[from]);
  strings_.erase(strings_.begin() + from);
  strings_.insert(strings_.begin() + to, std::move(s));
  joinedValid_ = false;
  return true;
}

void StringList::dropLast(size_t n) {
  strings_.resize(n >= strings_.size() ? 0 : strings_.size() - n);
  joinedValid_ = false;
}

void StringList::clear() {
  strings_.clear();
  joinedValid_ = false;
}

const std::string& StringList::doubleNul() const {
  if (!joinedValid_) {
    joined_.clear();
    for (const std::string& s : strings_) {
      joined_ += s;
      joined_ += '\0';
    }
    joined_ += '\0';
    joinedValid_ = true;
  }
  return joined_;
}

uint32_t StringList::blockLength() const {
  if (strings_.empty()) return kHeaderLength;
  uint64_t n = kHeaderLength + 1;
  for (const std::string& s : strings_) n += s.size() + 1;
  return static_cast<uint32_t>(n);
}

void StringList::saveBlock(std::vector<uint8_t>& out, uint32_t* length) const {
  const uint32_t total = blockLength();
  ConfigBase::appendLe32(out, total);
  ConfigBase::appendLe32(out, 0);
  ConfigBase::appendLe32(out, static_cast<uint32_t>(strings_.size()));
  ConfigBase::appendLe32(out, kept);
  out.insert(out.end(), kHeaderLength - 16, 0);
  if (!strings_.empty()) {
    for (const std::string& s : strings_) {
      out.insert(out.end(), s.begin(), s.end());
      out.push_back(0);
    }
    out.push_back(0);
  }
  if (length) *length = total;
}

bool StringList::loadBlock(const uint8_t* data, size_t available, uint32_t* length) {
  if (available < kHeaderLength) return false;
  const uint32_t n = ConfigBase::readLe32(data + 8);
  std::vector<std::string> loaded;
  size_t pos = kHeaderLength;
  // The count comes from the file: it bounds the loop but never an
  // allocation, and every string must end inside the data.
  for (uint32_t i = 0; i < n; ++i) {
    if (pos >= available) return false;
    const void* nul = std::memchr(data + pos, 0, available - pos);
    if (!nul) return false;
    const size_t len = static_cast<const uint8_t*>(nul) - (data + pos);
    if (len == 0) break;
    loaded.emplace_back(reinterpret_cast<const char*>(data + pos), len);
    pos += len + 1;
  }
  strings_ = std::move(loaded);
  kept = ConfigBase::readLe32(data + 12);
  joinedValid_ = false;
  if (length) *length = blockLength();
  return true;
}
