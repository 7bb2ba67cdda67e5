#pragma once
// The names this product goes by, each defined once:
//   Lumenmere  the product (settings file, registry sub-key, installed folder)
//   Tessolar   the maker (registry key "Software\Tessolar", its registry file)
//   aquaveil   the screen-saver program
//   Rillglass  the screen saver's window title
//   setup      the installer program
namespace product {

constexpr const char* kName = "Lumenmere";
constexpr const char* kMaker = "Tessolar";
constexpr const char* kSaverProgram = "aquaveil";
constexpr const char* kWindowTitle = "Rillglass";
constexpr const char* kInstallerProgram = "setup";

// The maker's registry key and the product's key below it, as the settings,
// display settings and the music engine's preferences use them.
constexpr const char* kMakerKey = "Software\\Tessolar";
constexpr const char* kProductKey = "Software\\Tessolar\\Lumenmere";
// The binary settings file.
constexpr const char* kSettingsFileName = "Lumenmere.ini";

}  // namespace product
