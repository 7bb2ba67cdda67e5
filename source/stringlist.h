#pragma once
// An ordered list of paths with no fixed limit on their number, and its
// block in the settings file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class StringList {
 public:
  static constexpr uint32_t kHeaderLength = 56;

  size_t count() const { return strings_.size(); }
  bool empty() const { return strings_.empty(); }
  const std::string& at(size_t index) const { return strings_[index]; }
  const std::vector<std::string>& strings() const { return strings_; }

  void append(std::string_view text);
  // Appends every path of a double-NUL list.
  void appendList(const char* doubleNulList);
  // Moves the string at `from` so that it stands at `to`.  False when either
  // index is out of range.
  bool move(size_t from, size_t to);
  void dropLast(size_t n);
  void clear();

  // All strings as one double-NUL list: each followed by a NUL, the whole
  // by one more.  The buffer is the list's own, valid until it next changes.
  const std::string& doubleNul() const;

  // The 32-bit value kept from the file as loaded (0 for a new list).
  uint32_t kept = 0;

  // The block length this list saves as: 56 when empty, else 56 + the
  // strings with their NULs + 1.
  uint32_t blockLength() const;
  void saveBlock(std::vector<uint8_t>& out, uint32_t* length) const;
  // Replaces the list by the block at `data`.  The strings start at offset
  // 56; reading stops early at an empty string.  Returns false, leaving the
  // list as it was, when the block reaches past `available`.
  bool loadBlock(const uint8_t* data, size_t available, uint32_t* length);

 private:
  std::vector<std::string> strings_;
  mutable std::string joined_;
  mutable bool joinedValid_ = false;
};
