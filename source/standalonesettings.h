#pragma once
// The settings side of a standalone copy: the copy's settings name the
// files drawn from each list, in play mode 8, with the standalone marker;
// the same drawing gives the container's members and the counts the
// builder's dialog shows.
#include <cstdint>
#include <string>
#include <vector>

#include "source/config.h"
#include "source/configfilelist.h"

struct StandaloneSettings {
  // The copy's settings block chain.
  std::vector<uint8_t> settings;
  // The one drawing of each list (none for a disabled list).
  PlayList images;
  PlayList songs;
};

// On a copy of the settings: draws each list's play list once, empties its
// string lists, sets play mode 8 and puts the drawn paths into its file
// list; sets the standalone marker; serializes.
StandaloneSettings serializeStandaloneSettings(Config copy);

// A second Config loaded from the settings just saved, serialized for a
// copy.  The dialog counts the drawn lists, and the same result is built.
StandaloneSettings prepareStandalone();

// Builds the copy at `outputPath` from a prepared drawing (pack/standalone.h
// writes the file).  `programFile` "" = the running program.  Returns the
// bytes written, 0 when nothing was written.
uint64_t buildStandaloneCopy(const std::string& outputPath, const StandaloneSettings& prepared,
                             const std::string& builderName, const std::string& programFile = std::string());
