#include "setup/progress.h"

#include <cmath>
#include <cstdio>

bool ProgressValue::report(double fraction) {
  double scaled = std::floor(100.0 * fraction);
  if (!(scaled >= 0)) scaled = 0;  // NaN and negatives
  if (scaled > 1000) scaled = 1000;
  if (!mutex_.try_lock_for(kWait)) return false;
  value_ = static_cast<int>(scaled);
  mutex_.unlock();
  return true;
}

int ProgressValue::read() {
  if (!mutex_.try_lock_for(kWait)) return -1;
  const int v = value_;
  mutex_.unlock();
  return v;
}

int shownPercent(int value) { return value > 100 ? 100 : value; }

std::string progressText(int percent, bool uninstall) {
  char text[64];
  std::snprintf(text, sizeof text, uninstall ? "Uninstall progress %d%%" : "Install progress %d%%", percent);
  return text;
}
