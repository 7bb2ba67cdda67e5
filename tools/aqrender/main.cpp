// aqrender: renders the screen saver's water headless and writes the frames
// as PNG files.  Every frame lasts 1/F seconds whatever the wall clock, and
// the random generator starts from the seed, so a run is repeatable.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "source/config.h"
#include "tools/aqrender/headless.h"
#include "tools/aqrender/pngfile.h"

namespace {

constexpr const char* kUsage =
    "usage: aqrender [--size WxH] [--frames N] [--fps F] [--seed S] [--settings FILE]\n"
    "                [--flags N] [--speed N] [--surface-size N] [--desktop PICTURE]\n"
    "                [--click X,Y@FRAME]... [--drag X1,Y1,X2,Y2@FRAME]...\n"
    "                [--out PATTERN] [--every K] [--bench] [PICTURE...]\n"
    "\n"
    "Renders the screen saver's water over the pictures, headless, and writes\n"
    "the frames as PNG files.\n"
    "\n"
    "  --size WxH          frame size in pixels (default 1024x768)\n"
    "  --frames N          frames to render (default 1; 120 with --bench)\n"
    "  --fps F             each frame lasts 1/F s (default 30)\n"
    "  --seed S            random seed (default 1)\n"
    "  --settings FILE     a Lumenmere.ini to take the settings from (default: the defaults)\n"
    "  --flags N           water flags: 1 ripple, 2 boat, 4 specular, 8 random water\n"
    "                      colour, 16 random specular colour, 32 drops (0..63)\n"
    "  --speed N           animation speed (1..100)\n"
    "  --surface-size N    surface size (60..160)\n"
    "  --desktop PICTURE   a picture that stands in for the desktop snapshot\n"
    "  --click X,Y@FRAME   a left click at pixel (X, Y) before frame FRAME (from 0)\n"
    "  --drag X1,Y1,X2,Y2@FRAME\n"
    "                      a move with the left button held from (X1, Y1) to (X2, Y2)\n"
    "  --out PATTERN       file names, printf-style with one integer, the frame index\n"
    "                      (default frame%04d.png)\n"
    "  --every K           write every K-th frame and the last (default 1)\n"
    "  --bench             write nothing; print the median and worst milliseconds per\n"
    "                      frame after a warm-up, for the whole frame and for the CPU\n"
    "                      part outside the GL driver\n"
    "  PICTURE...          the image list, shown in this order (random order off)\n";

struct MouseEvent {
  bool drag = false;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct Options {
  int width = 1024, height = 768;
  int frames = 1;
  bool framesGiven = false;
  double fps = 30.0;
  uint32_t seed = 1;
  std::string settings;
  int flags = -1, speed = -1, surfaceSize = -1;
  std::string desktop;
  std::multimap<int, MouseEvent> events;
  std::string out = "frame%04d.png";
  int every = 1;
  bool bench = false;
  std::vector<std::string> pictures;
};

[[noreturn]] void die(const std::string& message, int code = 1) {
  std::fprintf(stderr, "aqrender: %s\n", message.c_str());
  std::exit(code);
}

[[noreturn]] void badOption(const std::string& message) {
  std::fprintf(stderr, "aqrender: %s\n\n%s", message.c_str(), kUsage);
  std::exit(2);
}

bool parseLong(const std::string& text, long long low, long long high, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

int intOption(const std::string& name, const std::string& text, long long low, long long high) {
  long long v = 0;
  if (!parseLong(text, low, high, v))
    badOption(name + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
              text + "\"");
  return static_cast<int>(v);
}

// "A,B,...@FRAME" with `count` coordinates.
bool parseEvent(const std::string& text, int count, std::vector<int>& values, int& frame) {
  const size_t at = text.find('@');
  if (at == std::string::npos) return false;
  long long f = 0;
  if (!parseLong(text.substr(at + 1), 0, 100000000, f)) return false;
  frame = static_cast<int>(f);
  values.clear();
  size_t start = 0;
  const std::string coordinates = text.substr(0, at);
  while (true) {
    const size_t comma = coordinates.find(',', start);
    long long v = 0;
    if (!parseLong(coordinates.substr(start, comma == std::string::npos ? std::string::npos : comma - start), 0, 65535,
                   v))
      return false;
    values.push_back(static_cast<int>(v));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return static_cast<int>(values.size()) == count;
}

// The pattern must take exactly one integer and nothing else.
bool validPattern(const std::string& pattern) {
  int conversions = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < pattern.size() && std::strchr("-+ #0", pattern[j])) ++j;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') ++j;
    if (j >= pattern.size() || !std::strchr("diu", pattern[j])) return false;
    ++conversions;
    i = j;
  }
  return conversions == 1;
}

Options parse(int argc, char** argv) {
  Options o;
  auto value = [&](int& i, const std::string& name) -> std::string {
    if (i + 1 >= argc) badOption(name + " needs a value");
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--size") {
      const std::string v = value(i, a);
      const size_t x = v.find('x');
      long long w = 0, h = 0;
      if (x == std::string::npos || !parseLong(v.substr(0, x), 16, 8192, w) || !parseLong(v.substr(x + 1), 16, 8192, h))
        badOption("--size needs WIDTHxHEIGHT, each 16..8192, not \"" + v + "\"");
      o.width = static_cast<int>(w);
      o.height = static_cast<int>(h);
    } else if (a == "--frames") {
      o.frames = intOption(a, value(i, a), 1, 10000000);
      o.framesGiven = true;
    } else if (a == "--fps") {
      const std::string v = value(i, a);
      char* end = nullptr;
      const double f = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(f >= 0.1 && f <= 10000.0))
        badOption("--fps needs a number of frames per second from 0.1 to 10000, not \"" + v + "\"");
      o.fps = f;
    } else if (a == "--seed") {
      o.seed = static_cast<uint32_t>(intOption(a, value(i, a), 0, 4294967295LL));
    } else if (a == "--settings") {
      o.settings = value(i, a);
    } else if (a == "--flags") {
      o.flags = intOption(a, value(i, a), 0, 63);
    } else if (a == "--speed") {
      o.speed = intOption(a, value(i, a), 1, 100);
    } else if (a == "--surface-size") {
      o.surfaceSize = intOption(a, value(i, a), 60, 160);
    } else if (a == "--desktop") {
      o.desktop = value(i, a);
    } else if (a == "--click" || a == "--drag") {
      const std::string v = value(i, a);
      const bool drag = a == "--drag";
      std::vector<int> c;
      int frame = 0;
      if (!parseEvent(v, drag ? 4 : 2, c, frame))
        badOption(drag ? "--drag needs X1,Y1,X2,Y2@FRAME, not \"" + v + "\""
                       : "--click needs X,Y@FRAME, not \"" + v + "\"");
      MouseEvent e;
      e.drag = drag;
      e.x1 = c[0];
      e.y1 = c[1];
      if (drag) {
        e.x2 = c[2];
        e.y2 = c[3];
      }
      o.events.emplace(frame, e);
    } else if (a == "--out") {
      o.out = value(i, a);
      if (!validPattern(o.out))
        badOption("--out needs a file name pattern with one integer conversion such as %04d, not \"" + o.out + "\"");
    } else if (a == "--every") {
      o.every = intOption(a, value(i, a), 1, 10000000);
    } else if (a == "--bench") {
      o.bench = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      badOption("unknown option " + a);
    } else {
      o.pictures.push_back(a);
    }
  }
  if (o.bench && !o.framesGiven) o.frames = 120;
  return o;
}

std::string readWholeFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  return ok ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : std::string();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) * 0.5;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);

  auto config = std::make_unique<Config>();
  if (!o.settings.empty()) {
    bool ok = false;
    const std::string bytes = readWholeFile(o.settings, ok);
    if (!ok) die("cannot read the settings file " + o.settings);
    if (config->loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) == 0)
      die(o.settings + " is not a Lumenmere settings file");
  }
  if (o.flags >= 0) config->water.waterFlags = static_cast<uint32_t>(o.flags);
  if (o.speed >= 0) config->water.animationSpeed = o.speed;
  if (o.surfaceSize >= 0) config->water.surfaceSize = o.surfaceSize;
  // No music here: only pictures.
  config->mp3.listEnabled = 0;

  // Every picture is read once up front, so that a bad one is reported
  // before anything is drawn.
  for (const std::string& picture : o.pictures)
    if (!loadPicture(picture)) die("cannot read the picture " + picture);
  if (!o.pictures.empty()) {
    config->images.clearLists();
    for (const std::string& picture : o.pictures) config->images.fileList.append(picture);
    config->images.listEnabled = 1;
    config->images.playMode = ConfigFileList::kFileList;
    config->images.randomizeOrder = 0;
    config->images.maxFiles = static_cast<int32_t>(o.pictures.size());
  }
  std::shared_ptr<const RgbPicture> desktop;
  if (!o.desktop.empty()) {
    std::optional<RgbPicture> picture = loadPicture(o.desktop);
    if (!picture) die("cannot read the desktop picture " + o.desktop);
    desktop = std::make_shared<const RgbPicture>(std::move(*picture));
  }
  Config::publish(config.get());
  platform::srand(o.seed);

  FrameProfile profile;
  int exitCode = 0;
  {
    HeadlessSaver saver;
    saver.app().profile = &profile;
    std::string error;
    if (!saver.open(o.width, o.height, desktop, &error)) die(error);
    if (WaterScene* scene = saver.scene()) scene->profile = &profile;

    const double dt = 1.0 / o.fps;
    const int warmUp = o.bench ? std::min(20, std::max(o.frames / 5, 1)) : 0;
    std::vector<double> whole, cpu;
    std::vector<uint32_t> pixels;
    for (int frame = 0; frame < o.frames + warmUp; ++frame) {
      const int index = frame - warmUp;
      auto [first, last] = o.events.equal_range(index);
      for (auto it = first; it != last; ++it) {
        const MouseEvent& e = it->second;
        if (e.drag)
          saver.drag(e.x1, e.y1, e.x2, e.y2);
        else
          saver.click(e.x1, e.y1);
      }
      profile.clear();
      const auto started = std::chrono::steady_clock::now();
      saver.renderFrame(dt);
      if (o.bench) {
        saver.present();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        if (index >= 0) {
          whole.push_back(ms);
          cpu.push_back((profile.updateSeconds + profile.buildSeconds) * 1000.0);
        }
        continue;
      }
      if (index % o.every != 0 && index != o.frames - 1) continue;
      int w = 0, h = 0;
      if (!saver.readFrame(pixels, w, h)) die("the frame could not be read back");
      char name[4096];
      std::snprintf(name, sizeof name, o.out.c_str(), index);
      if (!writePng(name, pixels, w, h, &error)) die(std::string("cannot write ") + name + ": " + error);
    }
    if (o.bench) {
      std::printf("frames %zu at %dx%d, surface size %d, flags %u\n", whole.size(), o.width, o.height,
                  config->water.surfaceSize, config->water.waterFlags);
      std::printf("whole frame ms: median %.2f worst %.2f\n", median(whole),
                  *std::max_element(whole.begin(), whole.end()));
      std::printf("cpu outside the driver ms: median %.3f worst %.3f\n", median(cpu),
                  *std::max_element(cpu.begin(), cpu.end()));
    }
  }
  Config::publish(nullptr);
  return exitCode;
}
