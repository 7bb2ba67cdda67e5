// Frame header parsing, frame lengths and the header search.
#include <cstring>

#include "mpegaudio/internal.h"
#include "mpegaudio/tables.h"

namespace mpegaudio {

using namespace detail;

namespace {

int32_t versionOf(const MpegHeader& h) { return h.sync == 2 ? 2 : (h.id ? 0 : 1); }

bool isCandidate(const uint8_t* p) { return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0; }

// The bytes of a header that stay the same from frame to frame of one stream
// (padding, private bit and mode extension may change).
bool sameFixedBytes(const uint8_t* a, const uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1] && (a[2] & 0xFC) == (b[2] & 0xFC) && (a[3] & 0xCF) == (b[3] & 0xCF);
}

int32_t bitrateFromLength(const MpegHeader& h, int32_t frameBytes) {
  const int32_t rate = headerSampleRate(h);
  switch (h.layerOption) {
    case 3: return frameBytes / 4 * rate / 12;
    case 2: return frameBytes * rate / 144;
    default: return frameBytes * rate / (h.id ? 144 : 72);
  }
}

// Free format: the distance to the next header with the same fixed bytes,
// confirmed at further frame distances.
int32_t measureFreeFormat(const uint8_t* p, int32_t length) {
  MpegHeader first;
  parseHeader(p, &first);
  const int32_t window = length < 10000 ? length : 10000;
  const int32_t confirmations = first.layerOption == 3 ? 4 : 1;
  const int32_t firstPad = paddingBytes(first);
  for (int32_t distance = 24; distance <= 1999; ++distance) {
    if (distance + 4 > window) break;
    const uint8_t* next = p + distance;
    if (!sameFixedBytes(p, next)) continue;
    const int32_t base = distance - firstPad;
    if (base <= 0) continue;
    int32_t at = distance;
    bool holds = true;
    for (int32_t c = 0; c < confirmations && holds; ++c) {
      MpegHeader h;
      parseHeader(p + at, &h);
      at += base + paddingBytes(h);
      holds = at + 4 <= window && sameFixedBytes(p, p + at);
    }
    if (holds) return base;
  }
  return 0;
}

}  // namespace

namespace detail {

bool parseHeader(const uint8_t* p, MpegHeader* h) {
  *h = MpegHeader{};
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  h->sync = (p[1] & 0x10) ? 1 : 2;
  h->id = (p[1] >> 3) & 1;
  h->layerOption = (p[1] >> 1) & 3;
  h->protection = p[1] & 1;
  h->bitrateIndex = p[2] >> 4;
  h->sampleRateIndex = (p[2] >> 2) & 3;
  h->padding = (p[2] >> 1) & 1;
  h->privateBit = p[2] & 1;
  h->mode = p[3] >> 6;
  h->modeExtension = (p[3] >> 4) & 3;
  h->copyright = (p[3] >> 3) & 1;
  h->original = (p[3] >> 2) & 1;
  h->emphasis = p[3] & 3;
  // 11-bit sync with the id bit set is the reserved version.
  if (h->sync == 2 && h->id) return false;
  return h->layerOption != 0 && h->bitrateIndex != 15 && h->sampleRateIndex != 3;
}

int32_t frameLength(const MpegHeader& h, int32_t freeBytes) {
  const int32_t rate = headerSampleRate(h);
  if (rate == 0 || h.layerOption == 0 || h.bitrateIndex == 15) return 0;
  int32_t bytes;
  if (h.bitrateIndex == 0) {
    bytes = freeBytes;
  } else {
    const int32_t bitrate = tables::kBitrate[h.id][3 - h.layerOption][h.bitrateIndex] * 1000;
    if (h.layerOption == 3)
      bytes = 12 * bitrate / rate * 4;
    else if (h.layerOption == 1 && !h.id)
      bytes = 72 * bitrate / rate;
    else
      bytes = 144 * bitrate / rate;
  }
  if (bytes <= 0) return 0;
  return bytes + paddingBytes(h);
}

}  // namespace detail

int32_t paddingBytes(const MpegHeader& header) { return header.padding ? (header.layerOption == 3 ? 4 : 1) : 0; }

int32_t headerSampleRate(const MpegHeader& h) {
  if (h.sync == 0 || h.sampleRateIndex < 0 || h.sampleRateIndex > 2) return 0;
  if (h.sync == 2 && h.id) return 0;
  return tables::kSampleRate[versionOf(h)][h.sampleRateIndex];
}

int32_t headerLayer(const MpegHeader& h) { return (h.layerOption >= 1 && h.layerOption <= 3) ? 4 - h.layerOption : 0; }

int32_t headerVersion(const MpegHeader& h) { return versionOf(h) + 1; }

int32_t headerSamplesPerFrame(const MpegHeader& h) {
  if (h.layerOption == 3) return 384;
  if (h.layerOption == 1 && !h.id) return tables::kGranuleLines;  // one granule
  return 1152;
}

int32_t headerChannels(const MpegHeader& h) { return h.mode == 3 ? 1 : 2; }

int32_t findHeader(const uint8_t* bytes, int32_t length, MpegHeader* header, int32_t* bitrate, int32_t* skip) {
  MpegHeader local;
  if (!header) header = &local;
  *header = MpegHeader{};
  if (bitrate) *bitrate = 0;
  if (skip) *skip = 0;
  if (!bytes || length < 2) return 0;
  for (int32_t i = 0; i + 1 < length; ++i) {
    if (!isCandidate(bytes + i)) continue;
    if (skip) *skip = i;
    // A candidate too near the end cannot hold a whole header.
    if (i + 4 > length) return 0;
    MpegHeader h;
    if (!parseHeader(bytes + i, &h)) continue;
    int32_t frameBytes;
    int32_t rate;
    if (h.bitrateIndex == 0) {
      frameBytes = measureFreeFormat(bytes + i, length - i);
      if (frameBytes <= 0) continue;
      rate = bitrateFromLength(h, frameBytes);
    } else {
      frameBytes = frameLength(h, 0) - paddingBytes(h);
      rate = tables::kBitrate[h.id][3 - h.layerOption][h.bitrateIndex] * 1000;
    }
    *header = h;
    if (bitrate) *bitrate = rate;
    return frameBytes;
  }
  return 0;
}

}  // namespace mpegaudio
