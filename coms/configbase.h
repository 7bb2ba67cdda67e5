#pragma once
// The settings block format shared by every section of the settings tree.
// A block is its length L (32-bit little-endian), the section's tag with its
// NUL, and the section's body; the settings file is a chain of such blocks
// read in a fixed order, so that a block with an unknown tag can be stepped
// over by its declared length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/wintypes.h"

class ConfigBase {
 public:
  // Results of load.
  static constexpr int kLoaded = 0;
  static constexpr int kTagDiffers = -1;
  static constexpr int kLengthDiffers = -2;
  // The block (or the body it needs) reaches past the end of the data: the
  // section keeps its values and the caller stops reading.
  static constexpr int kTruncated = -3;

  static constexpr uint32_t kBaseBodyLength = 12;

  // `moduleName` is the section's source module ("configbase", "config",
  // ...); the tag is "$save<module>$".
  explicit ConfigBase(std::string_view moduleName = "configbase", uint32_t bodyLength = kBaseBodyLength);
  virtual ~ConfigBase();
  ConfigBase(const ConfigBase&) = default;
  ConfigBase& operator=(const ConfigBase&) = default;

  // Appends the whole block to `out` and reports its length.
  virtual void save(std::vector<uint8_t>& out, uint32_t* length);
  // Reads one block from `data` (`available` bytes up to the end of the
  // source).  `length` receives the length the block declares, as soon as
  // it can be read (0 when not even that fits).  Returns kLoaded,
  // kTagDiffers, kLengthDiffers or kTruncated.
  virtual int load(const uint8_t* data, size_t available, uint32_t* length);
  // Appends the section's body; the base writes 12 bytes.
  virtual void saveBody(std::vector<uint8_t>& out, uint32_t* length);
  // Reads the body from `data` (`available` bytes to the end of the source)
  // and reports the body length it consumed.  Returns false, changing
  // nothing, when the body doesn't fit in `available`.
  virtual bool loadBody(const uint8_t* data, size_t available, uint32_t* length);
  // The section's settings dialog; the base handles nothing.
  virtual intptr_t dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  const std::string& tag() const { return tag_; }
  uint32_t bodyLength() const { return bodyLength_; }

  // Little-endian helpers for the sections' bodies.
  static uint32_t readLe32(const uint8_t* p) { return platform::readLe32(p); }
  static int32_t readLeInt(const uint8_t* p) { return static_cast<int32_t>(readLe32(p)); }
  static void writeLe32(uint8_t* p, uint32_t v) { platform::writeLe32(p, v); }
  static void appendLe32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    writeLe32(b, v);
    out.insert(out.end(), b, b + 4);
  }

 protected:
  uint32_t bodyLength_;

 private:
  std::string tag_;
};
