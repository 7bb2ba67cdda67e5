#pragma once
// The standalone copy: the program's own file followed by a flat container
// holding the settings, the boat texture, the pictures and the songs.  The
// settings side (drawing the lists, serializing the copy's settings) is done
// by the caller; this part makes the container and the copy from what it is
// given, so that the member list and the settings come from one drawing.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/product.h"

class Pack;

struct StandaloneContents {
  // The serialized settings of the copy, stored as "Lumenmere.ini".
  std::string settings;
  // The drawn picture and song paths, each stored under its file name.
  std::vector<std::string> images;
  std::vector<std::string> songs;
  // The name of the person who builds the copy, for its greeting line;
  // stored as kGreetingMemberName after the songs when not empty.
  std::string builderName;
  // The program file copied in front of the container; "" = the running
  // program.  The directory of the temporary files ("newpacktemp!",
  // "test.pck"); "" = the program file's directory, or the output's when
  // that one can't be written.
  std::string programFile;
  std::string workDirectory;
};

constexpr const char* kStandaloneSettingsMember = product::kSettingsFileName;
constexpr const char* kBoatTextureMember = "boat.tga";
constexpr const char* kGreetingMemberName = "greeting.txt";

// Writes the copy to `outputPath` (made executable) and returns the bytes
// written; 0 when nothing was written.  The copy appears whole or not at all,
// and the temporary files are removed on every path.  A program file that
// already ends in a container contributes only the bytes in front of it, so
// that the copy's own container is the one its reader finds.
uint64_t buildStandalone(const std::string& outputPath, const StandaloneContents& contents);

// What stopped a build.
enum class StandaloneFailure {
  none,
  temporaryFile,      // "newpacktemp!" or "test.pck" could not be made or written
  programUnreadable,  // the program file could not be read
  outputNotCreated,   // the output could not be created or put in place
  diskFull,           // no room left for a file (the disk or the user's quota is full)
  stopped,            // the progress hook asked to stop
};

struct StandaloneResult {
  uint64_t bytes = 0;  // written to the output; 0 unless the copy is whole
  StandaloneFailure failure = StandaloneFailure::none;
  int error = 0;     // errno of what failed
  std::string path;  // the file that failed
  bool ok() const { return failure == StandaloneFailure::none && bytes > 0; }
};

// The share of the work done, 0 to 1, reported from the container writer's
// progress hook and the copy into the output; returning false stops the
// build (and nothing is left behind).
using StandaloneProgress = std::function<bool(double fraction)>;

// buildStandalone that says what failed and reports its progress.
StandaloneResult buildStandaloneReporting(const std::string& outputPath, const StandaloneContents& contents,
                                          const StandaloneProgress& progress = StandaloneProgress());

// The builder's name carried by a standalone copy's container ("" when none).
std::string standaloneBuilderName(const Pack& pack);
