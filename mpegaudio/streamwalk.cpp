// Whole-stream walk over a file held in memory.
#include "mpegaudio/streamwalk.h"

#include <cstring>

#include "mpegaudio/internal.h"
#include "platform/bytes.h"

namespace mpegaudio {

namespace {

bool sameStream(const MpegHeader& a, const MpegHeader& b) {
  return a.sync == b.sync && a.id == b.id && a.layerOption == b.layerOption && a.sampleRateIndex == b.sampleRateIndex;
}

int32_t readBe32(const uint8_t* p) { return static_cast<int32_t>(platform::readBe32(p)); }

// Walks the frame headers findHeader finds from `from` on and locks at the
// first one `accept(first, bytes, next)` takes; `next` is where the frame
// right behind it starts.
template <typename Accept>
bool lockFirst(const uint8_t* data, size_t size, size_t from, size_t* at, MpegHeader* header, int32_t* frameBytes,
               int32_t* bitrate, Accept accept) {
  size_t pos = from;
  while (pos + 4 <= size) {
    MpegHeader first;
    int32_t rate = 0, skip = 0;
    const int32_t remaining = int32_t(size - pos > 0x7FFFFFF ? 0x7FFFFFF : size - pos);
    const int32_t bytes = findHeader(data + pos, remaining, &first, &rate, &skip);
    // findHeader passes over unusable candidates: nothing found means none left.
    if (bytes <= 0) return false;
    const size_t start = pos + size_t(skip);
    if (accept(first, bytes, start + size_t(bytes + paddingBytes(first)))) {
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

}  // namespace

size_t id3v2Size(const uint8_t* data, size_t size) {
  if (size < 10 || std::memcmp(data, "ID3", 3) != 0) return 0;
  for (int i = 6; i < 10; ++i)
    if (data[i] & 0x80) return 0;
  size_t body = (size_t(data[6]) << 21) | (size_t(data[7]) << 14) | (size_t(data[8]) << 7) | data[9];
  size_t total = 10 + body + ((data[5] & 0x10) ? 10 : 0);
  return total <= size ? total : size;
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
  return lockFirst(data, size, from, at, header, frameBytes, bitrate,
                   [&](const MpegHeader& first, int32_t bytes, size_t next) {
                     // Two more frames right behind it, of the same stream.
                     bool consistent = true;
                     for (int k = 0; k < 2 && consistent; ++k) {
                       MpegHeader h;
                       consistent = next + 4 <= size && detail::parseHeader(data + next, &h) && sameStream(first, h) &&
                                    (h.bitrateIndex == 0) == (first.bitrateIndex == 0);
                       if (consistent) next += size_t(detail::frameLength(h, bytes));
                     }
                     return consistent;
                   });
}

namespace {

// Fewer than three frames: a run of consistent frames that ends exactly at
// the end of the data or at a trailing tag (ID3v1 "TAG", "APETAGEX", "ID3").
bool lockShortStream(const uint8_t* data, size_t size, size_t from, size_t* at, MpegHeader* header, int32_t* frameBytes,
                     int32_t* bitrate) {
  return lockFirst(
      data, size, from, at, header, frameBytes, bitrate, [&](const MpegHeader& first, int32_t bytes, size_t next) {
        for (int k = 0; k < 2 && next + 4 <= size; ++k) {
          MpegHeader h;
          if (!detail::parseHeader(data + next, &h) || !sameStream(first, h)) break;
          next += size_t(detail::frameLength(h, bytes));
        }
        const size_t rest = next <= size ? size - next : 0;
        const bool tagFollows =
            (rest >= 3 && (std::memcmp(data + next, "TAG", 3) == 0 || std::memcmp(data + next, "ID3", 3) == 0)) ||
            (rest >= 8 && std::memcmp(data + next, "APETAGEX", 8) == 0);
        return next == size || (next < size && tagFollows);
      });
}

}  // namespace

bool decodeStream(const uint8_t* data, size_t size, const StreamOptions& options, std::vector<uint8_t>* pcm,
                  StreamSummary* summary) {
  StreamSummary local;
  StreamSummary& s = summary ? *summary : local;
  s = StreamSummary{};
  size_t pos = id3v2Size(data, size);
  MpegHeader header;
  int32_t frameBytes = 0, bitrate = 0;
  size_t at = 0;
  if (!lockStream(data, size, pos, &at, &header, &frameBytes, &bitrate) &&
      !lockShortStream(data, size, pos, &at, &header, &frameBytes, &bitrate))
    return false;
  s.locked = true;
  s.header = header;
  s.frameBytes = frameBytes;
  s.bitrate = bitrate;
  s.vbr = readVbrHeader(data + at, size - at, header);
  if (!decodeInit(&header, frameBytes, options.reduction, 0, options.conversion, options.frequencyLimit)) return false;
  decodeInfo(&s.info);
  pos = at;
  uint8_t out[kMaxPcmFrameBytes];
  while (pos + 4 <= size) {
    const int32_t remaining = int32_t(size - pos > 0x7FFFFFF ? 0x7FFFFFF : size - pos);
    if (options.followChannelChanges && options.conversion == 0) {
      MpegHeader h;
      if (detail::parseHeader(data + pos, &h)) detail::followChannelCount(headerChannels(h));
    }
    const DecodeResult r = decodeFrame(data + pos, remaining, out);
    if (r.consumed > 0) {
      const bool missed = detail::g_lastFrameMissedData;
      if (missed) ++s.missingDataFrames;
      if (pcm && !(missed && options.dropMissingDataFrames)) pcm->insert(pcm->end(), out, out + r.produced);
      ++s.framesDecoded;
      pos += size_t(r.consumed);
      continue;
    }
    // Not a frame here: on to the next sync candidate, then start over.
    size_t next = pos + 1;
    while (next + 1 < size && !(data[next] == 0xFF && (data[next + 1] & 0xE0) == 0xE0)) ++next;
    if (next + 4 > size) break;
    pos = next;
    ++s.resyncs;
    decodeInit(&header, frameBytes, options.reduction, 0, options.conversion, options.frequencyLimit);
  }
  return true;
}

}  // namespace mpegaudio
