#include "coms/configbase.h"

#include <strings.h>

#include <cstring>

namespace {
// Tags are texts of at most 259 characters.
constexpr size_t kMaxTagLength = 259;
}  // namespace

ConfigBase::ConfigBase(std::string_view moduleName, uint32_t bodyLength) : bodyLength_(bodyLength) {
  tag_ = "$save";
  tag_ += moduleName;
  tag_ += '$';
  if (tag_.size() > kMaxTagLength) tag_.resize(kMaxTagLength);
}

ConfigBase::~ConfigBase() = default;

void ConfigBase::save(std::vector<uint8_t>& out, uint32_t* length) {
  const size_t start = out.size();
  appendLe32(out, 0);  // the length, stored once the body is known
  out.insert(out.end(), tag_.begin(), tag_.end());
  out.push_back(0);
  uint32_t body = 0;
  saveBody(out, &body);
  const uint32_t total = static_cast<uint32_t>(tag_.size()) + 5 + body;
  writeLe32(out.data() + start, total);
  if (length) *length = total;
}

int ConfigBase::load(const uint8_t* data, size_t available, uint32_t* length) {
  if (length) *length = 0;
  if (!data || available < 4) return kTruncated;
  const uint32_t declared = readLe32(data);
  // The declared length is reported first, whatever follows: the caller
  // steps over a foreign block by it.
  if (length) *length = declared;

  const uint8_t* text = data + 4;
  const size_t room = available - 4;
  const void* nul = std::memchr(text, 0, room);
  if (!nul) return kTruncated;
  const size_t tagLength = static_cast<const uint8_t*>(nul) - text;
  if (tagLength != tag_.size() || strncasecmp(reinterpret_cast<const char*>(text), tag_.c_str(), tagLength) != 0)
    return kTagDiffers;

  uint32_t body = 0;
  const size_t bodyStart = 4 + tagLength + 1;
  if (!loadBody(data + bodyStart, available - bodyStart, &body)) return kTruncated;
  return uint64_t(declared) == uint64_t(tagLength) + 5 + body ? kLoaded : kLengthDiffers;
}

void ConfigBase::saveBody(std::vector<uint8_t>& out, uint32_t* length) {
  // The reserved words stand where the section keeps its class identity
  // and tag in memory; they carry nothing in the file.
  appendLe32(out, 0);
  appendLe32(out, bodyLength_);
  appendLe32(out, 0);
  if (length) *length = kBaseBodyLength;
}

bool ConfigBase::loadBody(const uint8_t* data, size_t available, uint32_t* length) {
  if (available < kBaseBodyLength) return false;
  if (length) *length = readLe32(data + 4);
  return true;
}

intptr_t ConfigBase::dialogProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
