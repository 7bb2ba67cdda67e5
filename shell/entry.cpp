#include "shell/entry.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "pack/pack.h"
#include "platform/clock.h"
#include "platform/crtrand.h"
#include "platform/files.h"
#include "shell/frameclock.h"
#include "shell/watersaverapp.h"
#include "source/config.h"

namespace {

void onTerminate(int signal) { requestTermination(signal); }

bool isSaverMode(RunMode mode) { return mode == RunMode::preview || mode == RunMode::full || mode == RunMode::test; }

}  // namespace

void installTerminationHandler() {
  struct sigaction action {};
  action.sa_handler = onTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

int aquaveilMain(int argc, char** argv) {
  const std::string line = joinCommandLine(argc, argv);
  if (readCommandLine(line.c_str(), platform::programPath()).help) {
    std::fputs(usageText(), stdout);
    return 0;
  }

  // Before any library starts: the saver loop, not a library, decides how
  // the process ends on SIGTERM and SIGINT.
  installTerminationHandler();

  platform::srand(static_cast<uint32_t>(platform::calendarTime()));
  platform::rand();

  Config::setProgramDirectory(platform::programDirectory());
  frameClock().start();

  auto pack = std::make_unique<Pack>();
  openStartupPack(*pack);
  publishProcessPack(pack.get());

  auto config = std::make_unique<Config>();
  config->load();
  Config::publish(config.get());

  // The settings may have changed the current directory.
  if (!pack->isOpen()) pack->open("pack.dat");

  Config::saveDisplaySettingsHook = saveDisplaySettingsOfCurrentApp;

  int exitCode = 0;
  uint64_t frames = 0;
  {
    auto app = std::make_unique<WaterSaverApp>();
    app->commandLine = line;
    app->moduleFileName = platform::programPath();
    app->create(0);
    if (!isSaverMode(app->mode)) {
      // Outside a saver run nothing reads the request: end as usual, also
      // for a signal that came while starting.
      std::signal(SIGTERM, SIG_DFL);
      std::signal(SIGINT, SIG_DFL);
      if (terminationRequested()) std::raise(terminationSignal());
    }
    exitCode = app->run();
    frames = app->framesRendered;
  }
  if (std::getenv("LUMENMERE_FRAME_REPORT"))
    std::fprintf(stderr, "aquaveil: %llu frames rendered\n", static_cast<unsigned long long>(frames));

  Config::saveDisplaySettingsHook = nullptr;
  Config::publish(nullptr);
  config.reset();
  publishProcessPack(nullptr);
  pack.reset();
  return exitCode;
}
