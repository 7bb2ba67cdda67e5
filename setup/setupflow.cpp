#include "setup/setupflow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "pack/pack.h"
#include "platform/files.h"
#include "setup/installer.h"
#include "setup/places.h"

const char* const kSetupUsage =
    "usage: setup [--unattended [--target DIR] [--no-default]] [/install | /pack | /packdat]\n"
    "       Uninstall.exe [--unattended] /uninstall\n"
    "  --unattended   no pages: progress on standard output, problems on standard error\n"
    "  --target DIR   install into DIR (the product's name is added unless DIR ends in it)\n"
    "  --no-default   do not make the screen saver the default one\n";

SetupOptions parseSetupOptions(int argc, const char* const* argv) {
  SetupOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--unattended") {
      o.unattended = true;
    } else if (a == "--no-default") {
      o.noDefault = true;
    } else if (a == "--target") {
      if (i + 1 >= argc) {
        o.error = "--target needs a directory";
        return o;
      }
      o.target = argv[++i];
    } else if (a.rfind("--target=", 0) == 0) {
      o.target = a.substr(9);
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a.rfind("--", 0) == 0) {
      o.error = "unknown switch " + a;
      return o;
    } else {
      // The program's own path is not part of this line: it holds '/' too.
      if (!o.commandLine.empty()) o.commandLine += ' ';
      o.commandLine += a;
    }
  }
  if (o.target && o.target->empty()) o.error = "--target needs a directory";
  return o;
}

void runWithProgress(ProgressValue& value, const std::function<void()>& work,
                     const std::function<void(int shown, int value)>& tick) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  int lastShown = -1;
  for (;;) {
    const bool ended = done;
    const int v = value.read();
    if (v >= 0) {
      const int shown = shownPercent(v);
      if (shown != lastShown) tick(shown, v);
      lastShown = shown;
      if (v >= kProgressFinished) break;
    }
    if (ended) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  worker.join();
}

namespace {

class UnattendedUi : public SetupUi {
 public:
  explicit UnattendedUi(const SetupOptions& o) : options_(o) {}

  void showBackground(const std::string&) override {}
  bool confirm(const std::string&, const std::string&) override { return true; }
  bool chooseInstall(InstallParams& params, const std::string&, const std::string& proposedDir) override {
    params.installDir = options_.target ? *options_.target : proposedDir;
    if (options_.noDefault) params.makeDefault = false;
    return true;
  }
  void showProgress(const std::string&, bool uninstall, ProgressValue& value,
                    const std::function<void()>& work) override {
    runWithProgress(value, work, [uninstall](int shown, int) {
      std::printf("%s\n", progressText(shown, uninstall).c_str());
      std::fflush(stdout);
    });
  }
  void warn(const std::string&, const std::string& text) override {
    std::fprintf(stderr, "setup: warning: %s\n", text.c_str());
  }
  void reportProblems(const std::string&, const std::vector<std::string>& problems) override {
    for (const std::string& p : problems) std::fprintf(stderr, "setup: %s\n", p.c_str());
  }

 private:
  SetupOptions options_;
};

// The second stage's private place: a fresh directory only this user can
// enter, so nobody can put a program of their own where the copy will run.
std::string makeStageDirectory(const Places& places) {
  std::string tmpl = platform::joinPath(places.temporaryBase, "Tessolar-uninstall-XXXXXX");
  if (!mkdtemp(tmpl.data())) return {};
  return tmpl;
}

bool copyFile(const std::string& from, const std::string& to, mode_t mode) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  FILE* out = std::fopen(to.c_str(), "wb");
  bool ok = out != nullptr;
  char buf[65536];
  size_t n;
  while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) ok = std::fwrite(buf, 1, n, out) == n;
  ok = ok && !std::ferror(in);
  std::fclose(in);
  if (out) ok = std::fclose(out) == 0 && ok;
  ok = ok && chmod(to.c_str(), mode) == 0;
  if (!ok) unlink(to.c_str());
  return ok;
}

constexpr const char* kSecondStageName = "uninstallsecond.exe";

int finish(SetupUi& ui, const std::string& caption, const WorkReport& report) {
  if (report.ok()) return 0;
  ui.reportProblems(caption, report.problems);
  return 1;
}

}  // namespace

std::unique_ptr<SetupUi> makeUnattendedUi(const SetupOptions& options) {
  return std::make_unique<UnattendedUi>(options);
}

int runSetup(const SetupOptions& options, SetupUi& ui) {
  InstallParams& params = installParams();
  Pack own;
  own.open();
  params.load(own);
  params.mode = parseSetupCommandLine(options.commandLine);
  const Places places = currentPlaces();
  const std::string caption = params.caption();

  if (!params.uninstaller && params.requirements) {
    if (auto warning = requirementsWarning(*params.requirements, canLoadLibrary)) ui.warn(caption, *warning);
  }

  switch (params.mode) {
    case SetupMode::install: {
      if (params.uninstaller) {
        // An uninstaller run without its keyword does nothing.
        if (options.unattended) ui.reportProblems(caption, {"this is an uninstaller: run it with /uninstall"});
        return options.unattended ? 1 : 0;
      }
      if (!params.title) {
        if (options.unattended) ui.reportProblems(caption, {"this program carries no product to install"});
        return options.unattended ? 1 : 0;
      }
      ui.showBackground(caption);
      std::string licence;
      if (own.findMember("license.txt") >= 0) own.load("license.txt", licence);
      if (options.noDefault) {
        params.makeDefault = false;
        params.noDefaultAsked = true;
      }
      const std::string proposed = options.target ? *options.target : proposedInstallDirectory(*params.title, places);
      if (!ui.chooseInstall(params, licence, proposed)) return 0;
      InstallJob job;
      job.params = &params;
      job.pack = &own;
      job.places = places;
      job.ownPath = platform::programPath();
      ProgressValue progress;
      WorkReport report;
      ui.showProgress(caption, false, progress, [&] { report = installWorker(job, progress); });
      return finish(ui, caption, report);
    }

    case SetupMode::uninstallFirst: {
      if (!params.uninstaller || !params.title) {
        ui.reportProblems(caption, {"this program is not an uninstaller"});
        return 1;
      }
      if (!ui.confirm(caption, "Uninstall " + caption)) return 0;
      const std::string stage = makeStageDirectory(places);
      const std::string copy = platform::joinPath(stage, kSecondStageName);
      if (stage.empty() || !copyFile(platform::programPath(), copy, 0700)) {
        if (!stage.empty()) rmdir(stage.c_str());
        ui.reportProblems(caption, {"could not copy the uninstaller to " + places.temporaryBase});
        return 1;
      }
      std::vector<std::string> args;
      if (options.unattended) args.push_back("--unattended");
      args.push_back("/uninstallsecond");
      // Unattended, the first stage waits so that its exit status is the
      // second stage's.
      const std::optional<int> status = startProgram(copy, args, stage, options.unattended);
      if (!status) {
        unlink(copy.c_str());
        rmdir(stage.c_str());
        ui.reportProblems(caption, {"could not start " + copy});
        return 1;
      }
      return options.unattended ? *status : 0;
    }

    case SetupMode::uninstallSecond: {
      if (!params.uninstaller || !params.title) {
        ui.reportProblems(caption, {"this program is not an uninstaller"});
        return 1;
      }
      ui.showBackground(caption);
      int status = 0;
      if (ui.confirm(caption, "Do you really want to uninstall " + caption + " ?")) {
        ProgressValue progress;
        WorkReport report;
        ui.showProgress(caption, true, progress, [&] { report = uninstallWorker(params, places, progress); });
        status = finish(ui, caption, report);
      }
      // The copy made by the first stage removes itself and its directory
      // (a running program's file can be deleted here).
      const std::string self = platform::programPath();
      if (platform::fileNamePart(self) == kSecondStageName) {
        unlink(self.c_str());
        rmdir(platform::directoryPart(self).c_str());
      }
      return status;
    }

    case SetupMode::pack: {
      if (!ui.confirm(caption, "Pack " + caption)) return 0;
      return finish(ui, caption, packProgram(platform::programPath(), own, platform::programDirectory()));
    }

    case SetupMode::packData: {
      if (!ui.confirm(caption, "Pack pack.dat")) return 0;
      return finish(ui, caption, packData());
    }
  }
  return 0;
}
