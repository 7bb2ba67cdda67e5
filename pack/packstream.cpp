#include "pack/packstream.h"

#include <cstdio>

#include "pack/fileops.h"
#include "pack/pack.h"

PackStream* PackStream::open(const char* name, const char* mode, const Pack* pack) {
  if (!name) return nullptr;
  if (!pack) pack = &processPack();
  uint32_t length = 0;
  const int index = pack->findMember(name, &length);
  if (index >= 0) {
    auto* s = new PackStream;
    s->source_ = kMember;
    s->pack_ = pack;
    s->index_ = index;
    s->length_ = length;
    return s;
  }
  std::FILE* f = std::fopen(name, mode ? mode : "rb");
  if (!f) return nullptr;
  auto* s = new PackStream;
  s->source_ = kDiskFile;
  s->file_ = f;
  return s;
}

size_t PackStream::read(void* buffer, size_t itemSize, size_t itemCount) {
  if (source_ == kDiskFile) return std::fread(buffer, itemSize, itemCount, file_);
  if (!buffer || itemSize == 0 || itemCount == 0 || position_ >= length_) return 0;
  // An item count that would overflow asks for "everything", which the
  // member's end limits anyway.
  size_t wanted = itemSize > SIZE_MAX / itemCount ? SIZE_MAX : itemSize * itemCount;
  const uint64_t left = length_ - position_;
  if (wanted > left) wanted = static_cast<size_t>(left);
  const size_t n = pack_->readRange(index_, buffer, wanted, static_cast<size_t>(position_));
  position_ += n;
  return n;
}

int PackStream::seek(long offset, int origin) {
  if (source_ == kDiskFile) return std::fseek(file_, offset, origin);
  int64_t base = 0;
  switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<int64_t>(position_); break;
    case SEEK_END: base = static_cast<int64_t>(length_); break;
    default: return -1;
  }
  const int64_t target = base + offset;
  if (target < 0) return -1;
  // Beyond the end is allowed, as with a file: reads there deliver nothing.
  position_ = static_cast<uint64_t>(target);
  return 0;
}

long PackStream::tell() const {
  if (source_ == kDiskFile) return std::ftell(file_);
  return static_cast<long>(position_);
}

int PackStream::close(PackStream* stream) {
  if (!stream) return EOF;
  int result = 0;
  if (stream->source_ == kDiskFile && stream->file_) result = std::fclose(stream->file_);
  delete stream;
  return result;
}

// ---------------------------------------------------------------------------
// File operation tables

namespace {

void* cOpen(const char* name, const char* mode) { return std::fopen(name, mode); }
size_t cRead(void* buffer, size_t itemSize, size_t itemCount, void* handle) {
  return std::fread(buffer, itemSize, itemCount, static_cast<std::FILE*>(handle));
}
int cSeek(void* handle, long offset, int origin) { return std::fseek(static_cast<std::FILE*>(handle), offset, origin); }
long cTell(void* handle) { return std::ftell(static_cast<std::FILE*>(handle)); }
int cClose(void* handle) { return std::fclose(static_cast<std::FILE*>(handle)); }

void* pOpen(const char* name, const char* mode) { return PackStream::open(name, mode); }
size_t pRead(void* buffer, size_t itemSize, size_t itemCount, void* handle) {
  return static_cast<PackStream*>(handle)->read(buffer, itemSize, itemCount);
}
int pSeek(void* handle, long offset, int origin) { return static_cast<PackStream*>(handle)->seek(offset, origin); }
long pTell(void* handle) { return static_cast<PackStream*>(handle)->tell(); }
int pClose(void* handle) { return PackStream::close(static_cast<PackStream*>(handle)); }

}  // namespace

FileOps cLibraryFileOps() { return FileOps{cOpen, cRead, cSeek, cTell, cClose}; }

FileOps packFileOps() { return FileOps{pOpen, pRead, pSeek, pTell, pClose}; }

FileOps& engineFileOps() {
  static FileOps table = cLibraryFileOps();
  return table;
}

void switchEngineFileOpsToPack() { engineFileOps() = packFileOps(); }

void resetEngineFileOps() { engineFileOps() = cLibraryFileOps(); }

bool engineFileOpsUsePack() { return engineFileOps().open == &pOpen; }
