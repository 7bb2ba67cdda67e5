#include "shell/systemlibraries.h"

namespace {
SystemLibraries* installedLibraries = nullptr;
}

SystemLibraries& systemLibraries() {
  static SystemLibraries none;
  return installedLibraries ? *installedLibraries : none;
}

void setSystemLibraries(SystemLibraries* libraries) { installedLibraries = libraries; }
