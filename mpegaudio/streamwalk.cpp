// Whole-stream walk over a source read through a bounded window.
#include "mpegaudio/streamwalk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mpegaudio/internal.h"
#include "platform/bytes.h"

namespace mpegaudio {

size_t MemorySource::readAt(uint64_t offset, uint8_t* dst, size_t n) {
  if (offset >= size_) return 0;
  const size_t count = size_ - offset < n ? size_t(size_ - offset) : n;
  std::memcpy(dst, data_ + offset, count);
  return count;
}

FileSource::FileSource(int fd) : fd_(fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 0)
    failed_ = true;
  else
    size_ = uint64_t(st.st_size);
}

size_t FileSource::readAt(uint64_t offset, uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n && offset + done < size_) {
    const ssize_t got = pread(fd_, dst + done, n - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed_ = true;  // shorter than its size said, or unreadable
      break;
    }
    done += size_t(got);
  }
  return done;
}

namespace {

// A header search looks at most this far ahead of where it starts, and a
// frame with the frames behind it (and a free-format measurement) fits in
// the lookahead: whatever the window, the walk finds what it would find in
// the whole file at once.
constexpr size_t kLookahead = 32 * 1024;

// What the window holds from an offset on.
struct View {
  const uint8_t* data;
  size_t length;
  bool toEnd;  // length reaches the end of the source
};

class Window {
 public:
  // A source smaller than the capacity is held whole.
  Window(ByteSource& source, size_t capacity)
      : source_(source), size_(source.size()), buffer_(size_ < capacity ? size_t(size_) : capacity) {}

  uint64_t size() const { return size_; }

  // The bytes from offset on: at least `want` of them, or all up to the end.
  View at(uint64_t offset, size_t want) {
    if (offset > size_) offset = size_;
    const uint64_t rest = size_ - offset;
    const size_t need = rest < want ? size_t(rest) : want;
    if (offset < base_ || offset + need > base_ + length_) refill(offset);
    const size_t have = size_t(base_ + length_ - offset);
    return {buffer_.data() + (offset - base_), have, offset + have >= size_};
  }

 private:
  void refill(uint64_t offset) {
    size_t kept = 0;
    if (offset >= base_ && offset < base_ + length_) {
      kept = size_t(base_ + length_ - offset);
      std::memmove(buffer_.data(), buffer_.data() + (offset - base_), kept);
    }
    base_ = offset;
    const uint64_t rest = size_ - offset;
    const size_t want = rest < buffer_.size() ? size_t(rest) : buffer_.size();
    length_ = kept;
    if (want > kept) length_ += source_.readAt(offset + kept, buffer_.data() + kept, want - kept);
  }

  ByteSource& source_;
  uint64_t size_;
  std::vector<uint8_t> buffer_;
  uint64_t base_ = 0;
  size_t length_ = 0;
};

int32_t clampLength(size_t n) { return int32_t(n > 0x7FFFFFF ? 0x7FFFFFF : n); }

bool sameStream(const MpegHeader& a, const MpegHeader& b) {
  return a.sync == b.sync && a.id == b.id && a.layerOption == b.layerOption && a.sampleRateIndex == b.sampleRateIndex;
}

int32_t readBe32(const uint8_t* p) { return static_cast<int32_t>(platform::readBe32(p)); }

// Walks the frame headers findHeader finds from `from` on and locks at the
// first one `accept(view, first, bytes, next)` takes; the view starts at
// that header and `next` is where the frame right behind it starts, relative
// to the view.  The search runs `scan` bytes at a time.
template <typename Accept>
bool lockFirst(Window& window, size_t scan, uint64_t from, uint64_t* at, MpegHeader* header, int32_t* frameBytes,
               int32_t* bitrate, Accept accept) {
  uint64_t pos = from;
  while (pos + 4 <= window.size()) {
    const View v = window.at(pos, scan + kLookahead);
    MpegHeader first;
    int32_t rate = 0, skip = 0;
    const int32_t bytes = findHeader(v.data, clampLength(v.length), &first, &rate, &skip);
    if (!v.toEnd && (bytes <= 0 || size_t(skip) >= scan)) {
      // Nothing in this stretch (a header further on is searched again
      // with all its lookahead).
      pos += scan;
      continue;
    }
    // findHeader passes over unusable candidates: nothing found means none left.
    if (bytes <= 0) return false;
    const uint64_t start = pos + uint64_t(skip);
    const View here = window.at(start, kLookahead);
    if (accept(here, first, bytes, size_t(bytes + paddingBytes(first)))) {
      *at = start;
      *header = first;
      *frameBytes = bytes;
      if (bitrate) *bitrate = rate;
      return true;
    }
    pos = start + 1;
  }
  return false;
}

bool lockFull(Window& window, size_t scan, uint64_t from, uint64_t* at, MpegHeader* header, int32_t* frameBytes,
              int32_t* bitrate) {
  return lockFirst(window, scan, from, at, header, frameBytes, bitrate,
                   [](const View& v, const MpegHeader& first, int32_t bytes, size_t next) {
                     // Two more frames right behind it, of the same stream.
                     bool consistent = true;
                     for (int k = 0; k < 2 && consistent; ++k) {
                       MpegHeader h;
                       consistent = next + 4 <= v.length && detail::parseHeader(v.data + next, &h) &&
                                    sameStream(first, h) && (h.bitrateIndex == 0) == (first.bitrateIndex == 0);
                       if (consistent) next += size_t(detail::frameLength(h, bytes));
                     }
                     return consistent;
                   });
}

// Fewer than three frames: a run of consistent frames that ends exactly at
// the end of the data or at a trailing tag (ID3v1 "TAG", "APETAGEX", "ID3").
bool lockShort(Window& window, size_t scan, uint64_t from, uint64_t* at, MpegHeader* header, int32_t* frameBytes,
               int32_t* bitrate) {
  return lockFirst(window, scan, from, at, header, frameBytes, bitrate,
                   [](const View& v, const MpegHeader& first, int32_t bytes, size_t next) {
                     for (int k = 0; k < 2 && next + 4 <= v.length; ++k) {
                       MpegHeader h;
                       if (!detail::parseHeader(v.data + next, &h) || !sameStream(first, h)) break;
                       next += size_t(detail::frameLength(h, bytes));
                     }
                     const size_t rest = next <= v.length ? v.length - next : 0;
                     const uint8_t* p = v.data + next;
                     const bool tagFollows =
                         (rest >= 3 && (std::memcmp(p, "TAG", 3) == 0 || std::memcmp(p, "ID3", 3) == 0)) ||
                         (rest >= 8 && std::memcmp(p, "APETAGEX", 8) == 0);
                     return (next == v.length && v.toEnd) || (next < v.length && tagFollows);
                   });
}

// The window holds twice what one look needs, so that it is refilled only
// after half of it has been walked.
size_t scanFor(size_t window) { return (window < kMinimumWalkWindow ? kMinimumWalkWindow : window) / 2 - kLookahead; }

}  // namespace

size_t id3v2Size(const uint8_t* data, size_t size) {
  if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
  for (int i = 6; i < 10; ++i)
    if (data[i] & 0x80) return 0;
  size_t body = (size_t(data[6]) << 21) | (size_t(data[7]) << 14) | (size_t(data[8]) << 7) | data[9];
  size_t total = 10 + body + ((data[5] & 0x10) ? 10 : 0);
  // A tag running past the end is cut or lies: the stream may well follow
  // its header.
  return total <= size ? total : 10;
}

VbrInfo readVbrHeader(const uint8_t* frame, size_t available, const MpegHeader& header) {
  VbrInfo v;
  const bool mono = header.mode == 3;
  const size_t offset = header.id ? (mono ? 21 : 36) : (mono ? 13 : 21);
  if (available < offset + 8 || std::memcmp(frame + offset, "Xing", 4) != 0) return v;
  size_t p = offset + 4;
  v.flags = readBe32(frame + p);
  p += 4;
  if (v.flags & 1) {
    if (available < p + 4) return v;
    v.frames = readBe32(frame + p);
    p += 4;
  }
  if (v.flags & 2) {
    if (available < p + 4) return v;
    v.bytes = readBe32(frame + p);
    p += 4;
  }
  if (v.flags & 4) p += 100;
  if (v.flags & 8) {
    if (available < p + 4) return v;
    v.quality = readBe32(frame + p);
  }
  v.present = true;
  return v;
}

bool lockStream(const uint8_t* data, size_t size, size_t from, size_t* at, MpegHeader* header, int32_t* frameBytes,
                int32_t* bitrate) {
  MemorySource source(data, size);
  Window window(source, kDefaultWalkWindow);
  uint64_t found = 0;
  if (!lockFull(window, scanFor(kDefaultWalkWindow), from, &found, header, frameBytes, bitrate)) return false;
  *at = size_t(found);
  return true;
}

bool decodeStream(const uint8_t* data, size_t size, const StreamOptions& options, std::vector<uint8_t>* pcm,
                  StreamSummary* summary) {
  MemorySource source(data, size);
  PcmSink sink;
  if (pcm)
    sink = [pcm](const uint8_t* p, size_t n) {
      pcm->insert(pcm->end(), p, p + n);
      return true;
    };
  return decodeStream(source, options, sink, summary);
}

bool decodeStream(ByteSource& source, const StreamOptions& options, const PcmSink& sink, StreamSummary* summary,
                  size_t windowBytes) {
  StreamSummary local;
  StreamSummary& s = summary ? *summary : local;
  s = StreamSummary{};
  const size_t scan = scanFor(windowBytes);
  Window window(source, 2 * (scan + kLookahead));
  const uint64_t size = window.size();
  // The tag's header is in the window; its length is checked against the
  // whole source.
  const View head = window.at(0, 10);
  uint64_t pos = head.length >= 10 ? id3v2Size(head.data, size_t(size)) : 0;
  MpegHeader header;
  int32_t frameBytes = 0, bitrate = 0;
  uint64_t at = 0;
  if (!lockFull(window, scan, pos, &at, &header, &frameBytes, &bitrate) &&
      !lockShort(window, scan, pos, &at, &header, &frameBytes, &bitrate))
    return false;
  s.locked = true;
  s.header = header;
  s.frameBytes = frameBytes;
  s.bitrate = bitrate;
  const View first = window.at(at, kLookahead);
  s.vbr = readVbrHeader(first.data, first.length, header);
  if (!decodeInit(&header, frameBytes, options.reduction, 0, options.conversion, options.frequencyLimit)) return false;
  decodeInfo(&s.info);
  pos = at;
  uint8_t out[kMaxPcmFrameBytes];
  while (pos + 4 <= size) {
    const View v = window.at(pos, kLookahead);
    if (options.followChannelChanges && options.conversion == 0) {
      MpegHeader h;
      if (detail::parseHeader(v.data, &h)) detail::followChannelCount(headerChannels(h));
    }
    const DecodeResult r = decodeFrame(v.data, clampLength(v.length), out);
    if (r.consumed > 0) {
      const bool missed = detail::g_lastFrameMissedData;
      if (missed) ++s.missingDataFrames;
      if (sink && !(missed && options.dropMissingDataFrames) && !sink(out, size_t(r.produced))) return false;
      ++s.framesDecoded;
      pos += uint64_t(r.consumed);
      continue;
    }
    // Not a frame here: on to the next sync candidate, then start over.
    uint64_t next = pos + 1;
    for (;;) {
      const View w = window.at(next, kLookahead);
      size_t i = 0;
      while (i + 1 < w.length && !(w.data[i] == 0xFF && (w.data[i + 1] & 0xE0) == 0xE0)) ++i;
      if (i + 1 < w.length || w.toEnd) {
        next += i;
        break;
      }
      next += i;  // the last byte may start a candidate: look again from it
    }
    if (next + 4 > size) break;
    pos = next;
    ++s.resyncs;
    decodeInit(&header, frameBytes, options.reduction, 0, options.conversion, options.frequencyLimit);
  }
  return !source.failed();
}

}  // namespace mpegaudio
