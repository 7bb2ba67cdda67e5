// Frame header parsing, frame lengths and the header search.
#include <cstring>
#include <optional>

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

constexpr int32_t kFreeFormatMin = 24;
constexpr int32_t kFreeFormatMax = 1999;
constexpr int32_t kFreeFormatWindow = 10000;

// Bytes that could have the fixed bytes of a free-format header: sync,
// bitrate index 0.
bool freeFormatLike(const uint8_t* p) { return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[2] & 0xF0) == 0; }

// The fixed bytes of such a header in 13 bits: the low five bits of byte 1,
// the sample-rate index, and byte 3 without its mode extension.
uint32_t freeFormatKey(const uint8_t* p) {
  return (uint32_t(p[1] & 0x1F) << 8) | (uint32_t((p[2] >> 2) & 3) << 6) | (uint32_t(p[3] >> 2) & 0x30) |
         uint32_t(p[3] & 0x0F);
}

// Links each free-format-like position of one header search to the next
// one with the same fixed bytes, built as the search moves on and kept for
// the 2048 positions behind the newest: the free-format measurement then
// visits only the positions it could accept, where trying every distance
// made a run of distinct false headers cost 2000 compares each.
class FreeFormatIndex {
 public:
  FreeFormatIndex(const uint8_t* bytes, int32_t length) : bytes_(bytes), length_(length) {
    if (++generation_ == 0) {
      for (uint32_t& g : stamp_) g = 0;
      generation_ = 1;
    }
  }

  // First position after `at` with the fixed bytes of `at` (which must be
  // free-format-like and indexed), or -1.
  int32_t next(int32_t at) const { return next_[at & kRingMask]; }

  // Indexes every position below `end` (at most 2048 past the oldest one
  // still asked about).
  void indexTo(int32_t end) {
    if (end > length_ - 3) end = length_ - 3;
    for (; indexed_ < end; ++indexed_) {
      const uint8_t* p = bytes_ + indexed_;
      if (!freeFormatLike(p)) continue;
      next_[indexed_ & kRingMask] = -1;
      const uint32_t key = freeFormatKey(p);
      if (stamp_[key] == generation_ && last_[key] > indexed_ - kRing) next_[last_[key] & kRingMask] = indexed_;
      stamp_[key] = generation_;
      last_[key] = indexed_;
    }
  }

 private:
  static constexpr int32_t kRing = 2048;
  static constexpr int32_t kRingMask = kRing - 1;
  const uint8_t* bytes_;
  int32_t length_;
  int32_t indexed_ = 0;
  int32_t next_[kRing];
  // Per key the newest position, valid when stamped with this search's
  // generation (no clearing per search).
  static thread_local uint32_t generation_;
  static thread_local uint32_t stamp_[8192];
  static thread_local int32_t last_[8192];
};
thread_local uint32_t FreeFormatIndex::generation_ = 0;
thread_local uint32_t FreeFormatIndex::stamp_[8192];
thread_local int32_t FreeFormatIndex::last_[8192];

// Free format: the distance to the next header with the same fixed bytes,
// confirmed at further frame distances.  `at` is the candidate's offset in
// the search's bytes.
int32_t measureFreeFormat(const uint8_t* bytes, int32_t length, int32_t at, FreeFormatIndex& index) {
  const uint8_t* p = bytes + at;
  MpegHeader first;
  parseHeader(p, &first);
  const int32_t rest = length - at;
  const int32_t window = rest < kFreeFormatWindow ? rest : kFreeFormatWindow;
  const int32_t confirmations = first.layerOption == 3 ? 4 : 1;
  const int32_t firstPad = paddingBytes(first);
  index.indexTo(at + kFreeFormatMax + 1);
  for (int32_t same = index.next(at); same >= 0; same = index.next(same)) {
    const int32_t distance = same - at;
    if (distance > kFreeFormatMax || distance + 4 > window) break;
    g_freeFormatProbes.fetch_add(1, std::memory_order_relaxed);
    if (distance < kFreeFormatMin) continue;
    const int32_t base = distance - firstPad;
    if (base <= 0) continue;
    int32_t pos = distance;
    bool holds = true;
    for (int32_t c = 0; c < confirmations && holds; ++c) {
      MpegHeader h;
      parseHeader(p + pos, &h);
      pos += base + paddingBytes(h);
      holds = pos + 4 <= window && sameFixedBytes(p, p + pos);
    }
    if (holds) return base;
  }
  return 0;
}

}  // namespace

namespace detail {

std::atomic<uint64_t> g_freeFormatProbes{0};

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
  std::optional<FreeFormatIndex> freeIndex;  // made when a free-format candidate comes
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
      if (!freeIndex) freeIndex.emplace(bytes, length);
      frameBytes = measureFreeFormat(bytes, length, i, *freeIndex);
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
