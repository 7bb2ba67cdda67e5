// aqplay: plays MP3 files through the music engine, as the screen saver
// does, from the command line.  Shows each song's media information and the
// play position; space pauses and resumes, n and p go to the next and
// previous song, q quits.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "player/musiccontroller.h"
#include "player/playerevents.h"
#include "player/playlistmanager.h"

namespace {

const char* kUsage =
    "usage: aqplay [options] FILE...\n"
    "Plays MP3 files (MPEG-1/2/2.5 Layer II and III) in order, from the first\n"
    "again after the last.\n"
    "\n"
    "  --once             stop after the last song instead of starting again\n"
    "  --capture OUT.wav  play into a recording instead of the sound device and\n"
    "                     write what would have been heard to OUT.wav\n"
    "  --capture-speed N  how many times faster than real time a recording is\n"
    "                     made (default 4)\n"
    "  -shuffle           play the songs in a random order\n"
    "  -help              the engine's own usage\n"
    "\n"
    "keys: space pause/resume, n next song, p previous song, q quit\n";

std::atomic<bool> g_quit{false};
void onSignal(int) { g_quit = true; }

struct termios g_savedTerm;
bool g_termSaved = false;

void restoreTerminal() {
  if (g_termSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerm);
  g_termSaved = false;
}

void rawTerminal() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_savedTerm) != 0) return;
  g_termSaved = true;
  std::atexit(restoreTerminal);
  struct termios raw = g_savedTerm;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

std::string clock(double seconds) {
  if (seconds < 0) seconds = 0;
  long s = static_cast<long>(seconds);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

// What the engine told us that the status record doesn't carry.
struct Heard {
  std::mutex m;
  MpegInfoEvent mpeg;
  bool haveMpeg = false;
  std::vector<std::string> errors;
  int32_t state = 0;  // INFO_Playing, INFO_Paused, INFO_Stopped
};

// Whether a song could be played at all: the engine plays nothing, and
// says nothing, on a machine whose sound device can't be opened.
bool soundDeviceUsable() {
  platform::IDirectSound* ds = nullptr;
  if (FAILED(platform::DirectSoundCreate(nullptr, &ds, nullptr)) || !ds) return false;
  bool ok = false;
  platform::WAVEFORMATEX f = platform::pcmFormat(44100, 2, 16);
  platform::DSBUFFERDESC d;
  d.dwBufferBytes = 4608;
  d.lpwfxFormat = &f;
  platform::IDirectSoundBuffer* b = nullptr;
  if (SUCCEEDED(ds->CreateSoundBuffer(&d, &b, nullptr)) && b) {
    ok = true;
    b->Release();
  }
  ds->Release();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool once = false;
  std::string capturePath;
  double captureSpeed = 4;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--once") {
      once = true;
    } else if (a == "--capture" || a == "--capture-speed") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "aqplay: %s needs a value\n%s", a.c_str(), kUsage);
        return 2;
      }
      if (a == "--capture") {
        capturePath = argv[++i];
      } else {
        captureSpeed = std::atof(argv[++i]);
        if (captureSpeed <= 0 || captureSpeed > 16) {
          std::fprintf(stderr, "aqplay: --capture-speed takes a number from above 0 to 16\n");
          return 2;
        }
      }
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-ui" || a == "-import") {
      ++i;  // the engine takes the value
    } else if (a.size() > 1 && a[0] == '-') {
      // An engine option: the engine reads it from the command line.
    } else {
      if (access(a.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "aqplay: cannot read %s: %s\n", a.c_str(), std::strerror(errno));
        continue;
      }
      files.push_back(makeAbsolutePath(a));
    }
  }
  if (files.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!capturePath.empty()) {
    platform::SoundCaptureOptions o;
    o.speed = captureSpeed;
    platform::soundUseCapture(o);
  } else if (!soundDeviceUsable()) {
    std::fprintf(stderr,
                 "aqplay: no sound device can be opened (SDL_AUDIODRIVER chooses SDL's driver);\n"
                 "        --capture OUT.wav writes what would be heard to a file instead\n");
    return 1;
  }

  std::string list;
  for (auto& f : files) list.append(f).push_back('\0');
  list.push_back('\0');

  signal(SIGINT, onSignal);
  signal(SIGTERM, onSignal);
  signal(SIGHUP, onSignal);

  std::unique_ptr<MusicController> c = MusicController::startMusic(list.c_str(), argc, argv);
  if (!c) return 1;
  if (once) c->player()->playlist()->setRepeatMode(PlaylistManager::kRepeatNone);

  // The listener runs on the Player's thread, which lives on while the
  // controller goes: it keeps the Player itself.
  Player* player = c->player();
  Heard heard;
  std::atomic<bool> listDone{false};
  std::atomic<bool> anyPlayed{false};
  c->setListener([&](const Event& e) {
    switch (e.type()) {
      case INFO_MPEGInfo: {
        std::lock_guard<std::mutex> lock(heard.m);
        heard.mpeg = static_cast<const MpegInfoEvent&>(e);
        heard.haveMpeg = true;
        break;
      }
      case INFO_ErrorMessage: {
        // Told on the Player's thread while the failing song is still the
        // current one: name it.
        const PlaylistItem* item = player->playlist()->currentItem();
        std::string song = item ? item->url() : std::string();
        if (song.rfind("file://", 0) == 0) song.erase(0, 7);
        std::lock_guard<std::mutex> lock(heard.m);
        if (auto* m = dynamic_cast<const MessageEvent*>(&e))
          heard.errors.push_back(song.empty() ? m->text() : song + ": " + m->text());
        break;
      }
      case INFO_MediaTimeInfo: anyPlayed = true; break;
      case INFO_Playing:
      case INFO_Paused:
      case INFO_Stopped: {
        std::lock_guard<std::mutex> lock(heard.m);
        heard.state = e.type();
        break;
      }
      case INFO_PlaylistDonePlay:
        // The end of the list with --once; otherwise the list repeats, and
        // the engine only finishes it when none of its songs can be played.
        listDone = true;
        break;
      default: break;
    }
  });

  const bool tty = isatty(STDOUT_FILENO);
  rawTerminal();
  MusicStatus status;
  std::string shownUrl;
  int32_t shownIndex = -1;
  bool shownMpeg = false;
  int32_t shownState = 0;
  bool keysOpen = true;
  while (!g_quit && !listDone) {
    if (!c->player()->eventThreadRunning()) break;  // e.g. -help quit the engine
    // Keys while standard input lasts; at its end only the display goes on.
    struct pollfd pfd = {keysOpen ? STDIN_FILENO : -1, POLLIN, 0};
    if (poll(&pfd, 1, 200) > 0 && (pfd.revents & (POLLIN | POLLHUP))) {
      char key = 0;
      ssize_t got = read(STDIN_FILENO, &key, 1);
      if (got <= 0 && !(got < 0 && (errno == EINTR || errno == EAGAIN))) keysOpen = false;
      if (got == 1) {
        if (key == 'q' || key == 'Q') break;
        if (key == ' ') c->post(std::make_unique<Event>(CMD_TogglePause));
        if (key == 'n' || key == 'N') c->next();
        if (key == 'p' || key == 'P') c->previous();
      }
    }
    std::vector<std::string> errors;
    MpegInfoEvent mpeg;
    bool haveMpeg, stateChanged;
    int32_t state;
    {
      std::lock_guard<std::mutex> lock(heard.m);
      errors.swap(heard.errors);
      mpeg = heard.mpeg;
      haveMpeg = heard.haveMpeg;
      state = heard.state;
    }
    stateChanged = state != shownState;
    shownState = state;
    for (auto& e : errors) std::printf("%saqplay: %s\n", tty ? "\r\033[K" : "", e.c_str());
    c->copyStatus(&status);
    if (status.url[0] && (status.url != shownUrl || status.playlistIndex != shownIndex)) {
      shownUrl = status.url;
      shownIndex = status.playlistIndex;
      shownMpeg = false;
      std::printf("%s[%d/%d] %s  (%s)\n", tty ? "\r\033[K" : "", status.playlistIndex, status.playlistLength,
                  status.url, clock(status.totalSeconds).c_str());
    }
    if (!shownMpeg && haveMpeg && status.url[0]) {
      shownMpeg = true;
      const char* modes[] = {"stereo", "joint stereo", "dual channel", "single channel"};
      std::string version = mpeg.mpegVersion == 3 ? "2.5" : std::to_string(mpeg.mpegVersion);
      std::string rate = mpeg.bitrate ? std::to_string(mpeg.bitrate / 1000) + " kbit/s" : "variable bitrate";
      std::printf("    MPEG-%s Layer %s, %d Hz, %s, %s, %d frames\n", version.c_str(),
                  mpeg.layer == 3   ? "III"
                  : mpeg.layer == 2 ? "II"
                                    : "I",
                  mpeg.sampleRate, rate.c_str(), modes[mpeg.mode & 3], mpeg.totalFrames);
    }
    if (tty) {
      std::printf("\r\033[K  %s / %s%s", clock(status.positionSeconds).c_str(), clock(status.totalSeconds).c_str(),
                  state == INFO_Paused ? "  [paused]" : "");
    } else if (stateChanged && state == INFO_Paused) {
      std::printf("[paused]\n");
    }
    std::fflush(stdout);
  }
  if (tty) std::printf("\n");
  restoreTerminal();
  c.reset();  // quits the engine

  if (!capturePath.empty()) {
    std::vector<uint8_t> pcm = platform::soundCaptureTake();
    platform::WAVEFORMATEX f = platform::soundCaptureFormat();
    if (!platform::writeWaveFile(capturePath, f, pcm.data(), pcm.size())) {
      std::fprintf(stderr, "aqplay: cannot write %s\n", capturePath.c_str());
      return 1;
    }
    std::printf("aqplay: wrote %.1f s of sound to %s\n", static_cast<double>(pcm.size()) / f.nAvgBytesPerSec,
                capturePath.c_str());
  }
  platform::soundCloseIdleDevices();
  if (listDone && !anyPlayed) {
    std::fprintf(stderr, "aqplay: none of the songs could be played\n");
    return 1;
  }
  return 0;
}
