#pragma once
// Pack-backed streams: a song is read from the process-wide container when
// it holds a member of that file name, else from the disk.  Shaped like the
// C library's stdio so that the music engine can use it through FileOps.
#include <cstddef>
#include <cstdint>
#include <cstdio>

class Pack;

class PackStream {
 public:
  enum Source : int { kMember = 1, kDiskFile = 2 };

  // A member of `pack` (the process-wide Pack when null) found by file
  // name, else the disk file opened with `mode`; nullptr when neither.
  static PackStream* open(const char* name, const char* mode, const Pack* pack = nullptr);

  // Bytes read for a member (at most itemSize * itemCount, fewer at its
  // end); for a disk file what fread returns (items).
  size_t read(void* buffer, size_t itemSize, size_t itemCount);
  // origin 0 start, 1 current, 2 end; 0 on success.  A member position
  // before the start is refused (-1), as the C library refuses it.
  int seek(long offset, int origin);
  long tell() const;
  // Frees the stream; a disk stream returns fclose's result.
  static int close(PackStream* stream);

  Source source() const { return source_; }
  int memberIndex() const { return index_; }

 private:
  PackStream() = default;
  ~PackStream() = default;

  Source source_ = kMember;
  const Pack* pack_ = nullptr;
  int index_ = -1;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
  std::FILE* file_ = nullptr;
};
