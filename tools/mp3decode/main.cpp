// mp3decode: decodes an MPEG audio file to raw PCM the way the music engine
// walks it.
//   mp3decode [--reduction N] [--conversion N] [--8bit] [--full-band] [--info] IN OUT
// OUT "-" is standard output.  PCM is 16-bit little-endian signed or 8-bit
// unsigned, channels interleaved.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "mpegaudio/streamwalk.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: mp3decode [--reduction N] [--conversion N] [--8bit] [--full-band] [--info] IN OUT\n"
               "  --reduction 0|1|2   full, half or quarter sample rate\n"
               "  --conversion 0..3   0 keeps stereo; 1 mix, 2 left, 3 right into one channel\n"
               "  --8bit              8-bit unsigned samples instead of 16-bit signed\n"
               "  --full-band         decode all 32 subbands (default: 24000 Hz limit)\n"
               "  --info              print the stream information to standard error\n"
               "  --reference-style   as the conformance references: frames at their own channel\n"
               "                      count, no silence for frames whose main data is missing\n"
               "  OUT may be - for standard output\n");
  return 2;
}

bool readAll(const std::string& path, std::vector<uint8_t>& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool parseNumber(const char* text, int lo, int hi, int* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!end || *end || v < lo || v > hi) return false;
  *value = int(v);
  return true;
}

const char* modeName(int mode) {
  static const char* names[4] = {"stereo", "joint", "dual", "mono"};
  return names[mode & 3];
}

}  // namespace

int main(int argc, char** argv) {
  mpegaudio::StreamOptions options;
  options.frequencyLimit = mpegaudio::kEngineFrequencyLimit;
  int conversion = 0;
  bool eightBit = false, info = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reduction" && i + 1 < argc) {
      if (!parseNumber(argv[++i], 0, 2, &options.reduction)) return usage();
    } else if (a == "--conversion" && i + 1 < argc) {
      if (!parseNumber(argv[++i], 0, 3, &conversion)) return usage();
    } else if (a == "--8bit") {
      eightBit = true;
    } else if (a == "--full-band") {
      options.frequencyLimit = mpegaudio::kFullBand;
    } else if (a == "--reference-style") {
      options.followChannelChanges = options.dropMissingDataFrames = true;
    } else if (a == "--info") {
      info = true;
    } else if (a == "-h" || a == "--help") {
      return usage();
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      std::fprintf(stderr, "mp3decode: unknown option %s\n", a.c_str());
      return usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return usage();
  options.conversion = conversion | (eightBit ? mpegaudio::kConversion8Bit : 0);

  std::vector<uint8_t> input;
  if (!readAll(files[0], input)) {
    std::fprintf(stderr, "mp3decode: cannot read %s\n", files[0].c_str());
    return 1;
  }
  std::vector<uint8_t> pcm;
  mpegaudio::StreamSummary s;
  const bool ok = mpegaudio::decodeStream(input.data(), input.size(), options, &pcm, &s);
  if (!s.locked) {
    std::fprintf(stderr, "mp3decode: %s: no MPEG audio stream found\n", files[0].c_str());
    return 1;
  }
  if (info) {
    // Frames as the engine counts them: the VBR header's count, else file size / frame bytes.
    const int32_t frames = s.vbr.present && s.vbr.frames >= 0
                               ? s.vbr.frames
                               : (s.frameBytes > 0 ? int32_t(input.size() / size_t(s.frameBytes)) : -1);
    std::fprintf(stderr, "layer=%d version=%s rate=%d channels=%d mode=%s bitrate=%d frames=%d vbr=%d\n",
                 mpegaudio::headerLayer(s.header),
                 mpegaudio::headerVersion(s.header) == 3   ? "2.5"
                 : mpegaudio::headerVersion(s.header) == 2 ? "2"
                                                           : "1",
                 mpegaudio::headerSampleRate(s.header), mpegaudio::headerChannels(s.header), modeName(s.header.mode),
                 s.bitrate, frames, s.vbr.present ? 1 : 0);
  }
  if (!ok) {
    std::fprintf(stderr, "mp3decode: %s: stream not supported\n", files[0].c_str());
    return 1;
  }
  FILE* out = files[1] == "-" ? stdout : std::fopen(files[1].c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "mp3decode: cannot write %s\n", files[1].c_str());
    return 1;
  }
  const bool written = pcm.empty() || std::fwrite(pcm.data(), 1, pcm.size(), out) == pcm.size();
  const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "mp3decode: error writing %s\n", files[1].c_str());
    if (out != stdout) std::remove(files[1].c_str());
    return 1;
  }
  return 0;
}
