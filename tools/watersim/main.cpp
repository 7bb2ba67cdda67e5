// watersim: drives one WaterSurface from commands on standard input, one per
// line, and prints what it is asked for, so that a run can be traced and
// compared with an independent computation.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "scene/watersurface.h"

namespace {

const char kHelp[] =
    "usage: watersim [--help] < commands\n"
    "\n"
    "Reads commands from standard input, one per line, and runs them on one\n"
    "water surface.  Empty lines and lines starting with '#' are skipped.\n"
    "\n"
    "  build <screenWidth> <screenHeight> <surfaceSize> <fixedColour> <flags>\n"
    "        builds the surface anew; fixedColour is hex (0x00BBGGRR, the 0x is\n"
    "        optional), flags the water flags (1 ripple, 8 random colour; decimal\n"
    "        or 0x hex)\n"
    "  seed <n>            sets the state of rand() to n\n"
    "  drop <x> <y> <strength>\n"
    "        a drop at screen pixel (x, y) plus one; x <= 0 is a random node,\n"
    "        strength 0 a random strength\n"
    "  drag <x1> <y1> <x2> <y2> <strength>\n"
    "        drops along the segment between two screen pixels\n"
    "  step <dt>           one step of dt seconds, eye at (0, widthUnits * 0.5, 0)\n"
    "  step <dt> <x> <y> <z>\n"
    "        one step with the eye at (x, y, z)\n"
    "  transition          starts the next cross-fade; prints the busy count\n"
    "                      before the call (0: a new transition has started)\n"
    "  dump                prints the whole surface:\n"
    "        W H widthUnits heightUnits colOffset rowOffset blendDirection busyCount\n"
    "        then one line per node, rows from the top, columns from the left:\n"
    "        row col height velocity restOffsetX restOffsetZ x y z nx ny nz\n"
    "        diffuse colour phase blend\n"
    "        Floats are printed with %.9g (they read back exactly), colours as\n"
    "        0x%08x.\n"
    "\n"
    "Nothing else is printed.  A command that cannot be read, or any command\n"
    "but build and seed before the first successful build, is reported on\n"
    "standard error with its line number and ends the run with status 1.\n";

bool parseInt(const std::string& text, long long lo, long long hi, int base, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool parseUnsigned(const std::string& text, int base, uint32_t& out) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool parseFloat(const std::string& text, float& out) {
  if (text.empty()) return false;
  // Values that underflow to subnormals are read as they are, not refused.
  char* end = nullptr;
  float v = std::strtof(text.c_str(), &end);
  if (*end != '\0') return false;
  out = v;
  return true;
}

bool parseInts(const std::vector<std::string>& words, size_t first, size_t count, int* out) {
  for (size_t i = 0; i < count; ++i) {
    long long v;
    if (!parseInt(words[first + i], INT32_MIN, INT32_MAX, 10, v)) return false;
    out[i] = static_cast<int>(v);
  }
  return true;
}

void dump(const WaterSurface& s) {
  std::printf("%d %d %.9g %.9g %.9g %.9g %d %d\n", s.cols(), s.rows(), s.widthUnits(), s.heightUnits(), s.colOffset(),
              s.rowOffset(), s.blendDirection(), s.busyCount());
  for (int r = 0; r < s.rows(); ++r) {
    for (int c = 0; c < s.cols(); ++c) {
      const int n = r * s.cols() + c;
      const SurfaceVertex& v = s.vertices()[n];
      const BlendNode& b = s.blendNodes()[n];
      std::printf("%d %d %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g 0x%08x 0x%08x %u %.9g\n", r, c, s.height(n),
                  s.velocity(n), s.restOffsetX(n), s.restOffsetZ(n), v.x, v.y, v.z, v.nx, v.ny, v.nz, v.diffuse,
                  b.colour, b.phase, b.blend);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    std::fprintf(stderr, "watersim: unknown argument '%s' (try --help)\n", argv[i]);
    return 2;
  }

  WaterSurface surface;
  bool built = false;
  std::string line;
  long lineNumber = 0;
  auto fail = [&](const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "watersim: line %ld: %s\n", lineNumber, why.c_str());
    return 1;
  };
  while (std::getline(std::cin, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty() || words[0][0] == '#') continue;
    const std::string& cmd = words[0];
    const size_t args = words.size() - 1;

    if (cmd == "build") {
      int size[3];
      uint32_t colour, flags;
      if (args != 5 || !parseInts(words, 1, 3, size) || !parseUnsigned(words[4], 16, colour) ||
          !parseUnsigned(words[5], 0, flags))
        return fail("usage: build <screenWidth> <screenHeight> <surfaceSize> <fixedColour hex> <flags>");
      HRESULT hr = surface.build(size[0], size[1], size[2], colour, flags);
      if (hr != 0) {
        built = false;
        char why[96];
        std::snprintf(why, sizeof why, "build failed (0x%08x): size out of range or out of memory",
                      static_cast<unsigned>(hr));
        return fail(why);
      }
      built = true;
    } else if (cmd == "seed") {
      uint32_t seed;
      if (args != 1 || !parseUnsigned(words[1], 0, seed)) return fail("usage: seed <n>");
      platform::srand(seed);
    } else if (!built) {
      return fail("'" + cmd + "' before build");
    } else if (cmd == "drop") {
      int v[3];
      if (args != 3 || !parseInts(words, 1, 3, v)) return fail("usage: drop <x> <y> <strength>");
      surface.drop(v[0], v[1], v[2]);
    } else if (cmd == "drag") {
      int v[5];
      if (args != 5 || !parseInts(words, 1, 5, v)) return fail("usage: drag <x1> <y1> <x2> <y2> <strength>");
      surface.dragLine(v[0], v[1], v[2], v[3], v[4]);
    } else if (cmd == "step") {
      float dt;
      D3DXVECTOR3 eye(0.0f, surface.widthUnits() * 0.5f, 0.0f);
      bool ok = (args == 1 || args == 4) && parseFloat(words[1], dt);
      if (ok && args == 4)
        ok = parseFloat(words[2], eye.x) && parseFloat(words[3], eye.y) && parseFloat(words[4], eye.z);
      if (!ok) return fail("usage: step <dt> [<x> <y> <z>]");
      surface.step(eye, dt);
    } else if (cmd == "transition") {
      if (args != 0) return fail("usage: transition");
      std::printf("%d\n", surface.startTransition());
    } else if (cmd == "dump") {
      if (args != 0) return fail("usage: dump");
      dump(surface);
    } else {
      return fail("unknown command '" + cmd + "' (try --help)");
    }
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
