// mp3decode: decodes an MPEG audio file to raw PCM the way the music engine
// walks it.
//   mp3decode [--reduction N] [--conversion N] [--8bit] [--full-band] [--info]
//             [--simd scalar|sse2|avx2] IN OUT
// OUT "-" is standard output.  PCM is 16-bit little-endian signed or 8-bit
// unsigned, channels interleaved.  Input and output go in bounded pieces: the
// memory needed does not grow with the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "mpegaudio/mpegaudio.h"
#include "mpegaudio/simd.h"
#include "mpegaudio/streamwalk.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: mp3decode [--reduction N] [--conversion N] [--8bit] [--full-band] [--info]\n"
               "                 [--simd NAME] IN OUT\n"
               "  --reduction 0|1|2   full, half or quarter sample rate\n"
               "  --conversion 0..3   0 keeps stereo; 1 mix, 2 left, 3 right into one channel\n"
               "  --8bit              8-bit unsigned samples instead of 16-bit signed\n"
               "  --full-band         decode all 32 subbands (default: 24000 Hz limit)\n"
               "  --info              print the stream information to standard error\n"
               "  --reference-style   as the conformance references: frames at their own channel\n"
               "                      count, no silence for frames whose main data is missing\n"
               "  --simd NAME         scalar, sse2 or avx2: the build of the inner loops to run\n"
               "                      (default: the best this processor has)\n"
               "  OUT may be - for standard output\n");
  return 2;
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
    } else if (a == "--simd" && i + 1 < argc) {
      const std::optional<mpegaudio::SimdPath> path = mpegaudio::parseSimdPath(argv[++i]);
      if (!path) return usage();
      if (!mpegaudio::useSimdPath(*path)) {
        std::fprintf(stderr, "mp3decode: this processor cannot run the %s build\n", argv[i]);
        return 1;
      }
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

  const int in = open(files[0].c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    std::fprintf(stderr, "mp3decode: cannot read %s\n", files[0].c_str());
    return 1;
  }
  mpegaudio::FileSource source(in);
  // The output is opened with the first PCM, so that a file without a
  // stream leaves none behind.
  FILE* out = nullptr;
  bool writeFailed = false;
  static char outBuffer[1 << 16];
  auto openOutput = [&]() {
    if (out || writeFailed) return out != nullptr;
    out = files[1] == "-" ? stdout : std::fopen(files[1].c_str(), "wb");
    if (!out) {
      writeFailed = true;
      return false;
    }
    std::setvbuf(out, outBuffer, _IOFBF, sizeof outBuffer);
    return true;
  };
  const mpegaudio::PcmSink sink = [&](const uint8_t* pcm, size_t bytes) {
    if (!openOutput()) return false;
    if (std::fwrite(pcm, 1, bytes, out) != bytes) writeFailed = true;
    return !writeFailed;
  };
  mpegaudio::StreamSummary s;
  const bool ok = mpegaudio::decodeStream(source, options, sink, &s);
  const bool readFailed = source.failed();
  const uint64_t inputSize = source.size();
  close(in);
  auto fail = [&](const char* what) {
    std::fprintf(stderr, "mp3decode: %s\n", what);
    if (out && out != stdout) {
      std::fclose(out);
      std::remove(files[1].c_str());
    }
    return 1;
  };
  if (readFailed) return fail(("error reading " + files[0]).c_str());
  if (!s.locked) return fail((files[0] + ": no MPEG audio stream found").c_str());
  if (info) {
    // Frames as the engine counts them: the VBR header's count, else file size / frame bytes.
    const int32_t frames = s.vbr.present && s.vbr.frames >= 0
                               ? s.vbr.frames
                               : (s.frameBytes > 0 ? int32_t(inputSize / uint64_t(s.frameBytes)) : -1);
    std::fprintf(stderr, "layer=%d version=%s rate=%d channels=%d mode=%s bitrate=%d frames=%d vbr=%d\n",
                 mpegaudio::headerLayer(s.header),
                 mpegaudio::headerVersion(s.header) == 3   ? "2.5"
                 : mpegaudio::headerVersion(s.header) == 2 ? "2"
                                                           : "1",
                 mpegaudio::headerSampleRate(s.header), mpegaudio::headerChannels(s.header), modeName(s.header.mode),
                 s.bitrate, frames, s.vbr.present ? 1 : 0);
  }
  if (writeFailed) return fail(("error writing " + files[1]).c_str());
  if (!ok) return fail((files[0] + ": stream not supported").c_str());
  // A stream without a single frame still gives its (empty) output.
  if (!openOutput()) return fail(("cannot write " + files[1]).c_str());
  const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  if (!closed) {
    out = nullptr;
    std::remove(files[1].c_str());
    std::fprintf(stderr, "mp3decode: error writing %s\n", files[1].c_str());
    return 1;
  }
  return 0;
}
