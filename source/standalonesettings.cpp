#include "source/standalonesettings.h"

#include "pack/standalone.h"

StandaloneSettings serializeStandaloneSettings(Config copy) {
  StandaloneSettings out;
  auto redraw = [](ConfigFileList& list, PlayList& drawn) {
    drawn = list.drawPlayList();
    list.clearLists();
    list.playMode = ConfigFileList::kAllFilesRandomly;
    list.addFiles(drawn.data());  // a disabled list draws nothing and stays empty
  };
  redraw(copy.images, out.images);
  redraw(copy.mp3, out.songs);
  copy.standaloneMarker = Config::kStandaloneMarker;
  out.settings = copy.serialize();
  return out;
}

StandaloneSettings prepareStandalone() {
  Config second;
  second.load();
  return serializeStandaloneSettings(second);
}

uint64_t buildStandaloneCopy(const std::string& outputPath, const StandaloneSettings& prepared,
                             const std::string& builderName, const std::string& programFile) {
  StandaloneContents contents;
  contents.settings.assign(prepared.settings.begin(), prepared.settings.end());
  contents.images = prepared.images.paths();
  contents.songs = prepared.songs.paths();
  contents.builderName = builderName;
  contents.programFile = programFile;
  return buildStandalone(outputPath, contents);
}
