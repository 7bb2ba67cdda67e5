#include "platform/testing/d3d8doubles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

uint64_t ptr(const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

// ---- MemoryTexture -------------------------------------------------------------

std::string D3DCall::text() const {
  std::string s = name + "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) s += ", ";
    s += std::to_string(args[i]);
  }
  return s + ")";
}

// ---- RecordingDevice ----------------------------------------------------------------

RecordingDevice::RecordingDevice() : RecordingDevice(D3DPRESENT_PARAMETERS{}) {}

RecordingDevice::RecordingDevice(const D3DPRESENT_PARAMETERS& params) : params_(params) {
  caps = ScriptedDirect3D8::standardHalCaps();
  displayMode = ScriptedDirect3D8::mode(1024, 768, D3DFMT_X8R8G8B8);
  if (params_.BackBufferWidth == 0) params_.BackBufferWidth = 1024;
  if (params_.BackBufferHeight == 0) params_.BackBufferHeight = 768;
  resetStates();
}

RecordingDevice::~RecordingDevice() = default;

void RecordingDevice::resetStates() {
  renderStates_.clear();
  stageStates_.clear();
  transforms_.clear();
  lights_.clear();
  lightEnabled_.clear();
  boundTextures_.clear();
  material_ = D3DMATERIAL8{};
  viewport_ = D3DVIEWPORT8{0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0.0f, 1.0f};
  vertexShader_ = 0;
}

D3DCall& RecordingDevice::record(const std::string& name, std::initializer_list<uint64_t> args) {
  D3DCall call;
  call.name = name;
  call.args = args;
  calls.push_back(std::move(call));
  return calls.back();
}

void RecordingDevice::failNext(const std::string& method, HRESULT result, int times) {
  for (int i = 0; i < times; ++i) failures_[method].push_back(result);
}

HRESULT RecordingDevice::scripted(const std::string& method) {
  auto it = failures_.find(method);
  if (it == failures_.end() || it->second.empty()) return D3D_OK;
  HRESULT hr = it->second.front();
  it->second.pop_front();
  return hr;
}

std::vector<std::string> RecordingDevice::callTexts() const {
  std::vector<std::string> out;
  for (const D3DCall& c : calls) out.push_back(c.text());
  return out;
}

std::vector<const D3DCall*> RecordingDevice::callsNamed(const std::string& name) const {
  std::vector<const D3DCall*> out;
  for (const D3DCall& c : calls)
    if (c.name == name) out.push_back(&c);
  return out;
}

int RecordingDevice::liveTextures() const {
  int n = 0;
  for (const auto& t : textures_)
    if (t->refCount() > 0) ++n;
  return n;
}

int RecordingDevice::liveTextures(D3DPOOL pool) const {
  int n = 0;
  for (const auto& t : textures_)
    if (t->refCount() > 0 && t->pool() == pool) ++n;
  return n;
}

DWORD RecordingDevice::renderState(D3DRENDERSTATETYPE state) const {
  auto it = renderStates_.find(state);
  return it == renderStates_.end() ? defaultRenderState(state) : it->second;
}

DWORD RecordingDevice::textureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const {
  auto it = stageStates_.find({stage, type});
  return it == stageStates_.end() ? defaultTextureStageState(stage, type) : it->second;
}

D3DMATRIX RecordingDevice::transform(D3DTRANSFORMSTATETYPE state) const {
  auto it = transforms_.find(state);
  if (it != transforms_.end()) return it->second;
  D3DMATRIX identity;
  identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
  return identity;
}

Direct3DTexture8* RecordingDevice::texture(DWORD stage) const {
  auto it = boundTextures_.find(stage);
  return it == boundTextures_.end() ? nullptr : it->second;
}

D3DLIGHT8 RecordingDevice::light(DWORD index) const {
  auto it = lights_.find(index);
  return it == lights_.end() ? D3DLIGHT8{} : it->second;
}

bool RecordingDevice::lightEnabled(DWORD index) const {
  auto it = lightEnabled_.find(index);
  return it != lightEnabled_.end() && it->second;
}

ULONG RecordingDevice::AddRef() {
  record("AddRef", {});
  return ++refs_;
}

ULONG RecordingDevice::Release() {
  record("Release", {});
  return refs_ > 0 ? --refs_ : 0;
}

HRESULT RecordingDevice::TestCooperativeLevel() {
  record("TestCooperativeLevel", {});
  return cooperativeLevel;
}

UINT RecordingDevice::GetAvailableTextureMem() {
  record("GetAvailableTextureMem", {});
  return availableTextureMem;
}

HRESULT RecordingDevice::GetDeviceCaps(D3DCAPS8* c) {
  record("GetDeviceCaps", {});
  if (!c) return D3DERR_INVALIDCALL;
  *c = caps;
  return D3D_OK;
}

HRESULT RecordingDevice::GetDisplayMode(D3DDISPLAYMODE* mode) {
  record("GetDisplayMode", {});
  if (!mode) return D3DERR_INVALIDCALL;
  *mode = displayMode;
  return D3D_OK;
}

HRESULT RecordingDevice::Reset(D3DPRESENT_PARAMETERS* params) {
  D3DCall& call = record("Reset", {});
  if (params) call.params = *params;
  if (HRESULT hr = scripted("Reset"); FAILED(hr)) return hr;
  if (!params) return D3DERR_INVALIDCALL;
  if (checkResetResources && liveTextures(D3DPOOL_DEFAULT) > 0) return D3DERR_INVALIDCALL;
  params_ = *params;
  if (params_.BackBufferWidth == 0) params_.BackBufferWidth = 1024;
  if (params_.BackBufferHeight == 0) params_.BackBufferHeight = 768;
  cooperativeLevel = D3D_OK;
  inScene_ = false;
  resetStates();
  return D3D_OK;
}

HRESULT RecordingDevice::Present(const RECT* source, const RECT* dest, HWND overrideWindow, const void* dirty) {
  record("Present", {ptr(source), ptr(dest), overrideWindow, ptr(dirty)});
  if (HRESULT hr = scripted("Present"); FAILED(hr)) return hr;
  if (cooperativeLevel == D3DERR_DEVICELOST) return D3DERR_DEVICELOST;
  return D3D_OK;
}

HRESULT RecordingDevice::BeginScene() {
  record("BeginScene", {});
  if (HRESULT hr = scripted("BeginScene"); FAILED(hr)) return hr;
  if (inScene_) return D3DERR_INVALIDCALL;
  inScene_ = true;
  return D3D_OK;
}

HRESULT RecordingDevice::EndScene() {
  record("EndScene", {});
  if (HRESULT hr = scripted("EndScene"); FAILED(hr)) return hr;
  if (!inScene_) return D3DERR_INVALIDCALL;
  inScene_ = false;
  return D3D_OK;
}

HRESULT RecordingDevice::Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) {
  D3DCall& call = record("Clear", {count, ptr(rects), flags, colour, stencil});
  call.floats = {z};
  if (HRESULT hr = scripted("Clear"); FAILED(hr)) return hr;
  if (flags & D3DCLEAR_TARGET) backBufferColour = colour;
  return D3D_OK;
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  D3DCall& call = record("SetTransform", {state});
  if (!matrix) return D3DERR_INVALIDCALL;
  call.matrix = *matrix;
  transforms_[state] = *matrix;
  return D3D_OK;
}

HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
  record("GetTransform", {state});
  if (!matrix) return D3DERR_INVALIDCALL;
  *matrix = transform(state);
  return D3D_OK;
}

HRESULT RecordingDevice::SetViewport(const D3DVIEWPORT8* viewport) {
  D3DCall& call = record("SetViewport", {});
  if (!viewport) return D3DERR_INVALIDCALL;
  call.viewport = *viewport;
  viewport_ = *viewport;
  return D3D_OK;
}

HRESULT RecordingDevice::GetViewport(D3DVIEWPORT8* viewport) {
  record("GetViewport", {});
  if (!viewport) return D3DERR_INVALIDCALL;
  *viewport = viewport_;
  return D3D_OK;
}

HRESULT RecordingDevice::SetMaterial(const D3DMATERIAL8* material) {
  D3DCall& call = record("SetMaterial", {});
  if (!material) return D3DERR_INVALIDCALL;
  call.material = *material;
  material_ = *material;
  return D3D_OK;
}

HRESULT RecordingDevice::GetMaterial(D3DMATERIAL8* material) {
  record("GetMaterial", {});
  if (!material) return D3DERR_INVALIDCALL;
  *material = material_;
  return D3D_OK;
}

HRESULT RecordingDevice::SetLight(DWORD index, const D3DLIGHT8* light) {
  D3DCall& call = record("SetLight", {index});
  if (!light) return D3DERR_INVALIDCALL;
  call.light = *light;
  lights_[index] = *light;
  return D3D_OK;
}

HRESULT RecordingDevice::GetLight(DWORD index, D3DLIGHT8* light) {
  record("GetLight", {index});
  auto it = lights_.find(index);
  if (!light || it == lights_.end()) return D3DERR_INVALIDCALL;
  *light = it->second;
  return D3D_OK;
}

HRESULT RecordingDevice::LightEnable(DWORD index, BOOL enable) {
  record("LightEnable", {index, static_cast<uint64_t>(enable)});
  if (!lights_.count(index)) lights_[index] = D3DLIGHT8{};  // Direct3D makes a default light
  lightEnabled_[index] = enable != FALSE;
  return D3D_OK;
}

HRESULT RecordingDevice::GetLightEnable(DWORD index, BOOL* enable) {
  record("GetLightEnable", {index});
  if (!enable || !lights_.count(index)) return D3DERR_INVALIDCALL;
  *enable = lightEnabled(index) ? TRUE : FALSE;
  return D3D_OK;
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  record("SetRenderState", {state, value});
  renderStates_[state] = value;
  return D3D_OK;
}

HRESULT RecordingDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  record("GetRenderState", {state});
  if (!value) return D3DERR_INVALIDCALL;
  *value = renderState(state);
  return D3D_OK;
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  record("SetTextureStageState", {stage, type, value});
  if (stage >= 8) return D3DERR_INVALIDCALL;
  stageStates_[{stage, type}] = value;
  return D3D_OK;
}

HRESULT RecordingDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  record("GetTextureStageState", {stage, type});
  if (!value || stage >= 8) return D3DERR_INVALIDCALL;
  *value = textureStageState(stage, type);
  return D3D_OK;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, Direct3DTexture8* texture) {
  D3DCall& call = record("SetTexture", {stage, ptr(texture)});
  call.texture = texture;
  if (HRESULT hr = scripted("SetTexture"); FAILED(hr)) return hr;
  if (stage >= 8) return D3DERR_INVALIDCALL;
  boundTextures_[stage] = texture;
  return D3D_OK;
}

HRESULT RecordingDevice::SetVertexShader(DWORD handle) {
  record("SetVertexShader", {handle});
  vertexShader_ = handle;
  return D3D_OK;
}

HRESULT RecordingDevice::GetVertexShader(DWORD* handle) {
  record("GetVertexShader", {});
  if (!handle) return D3DERR_INVALIDCALL;
  *handle = vertexShader_;
  return D3D_OK;
}

HRESULT RecordingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                       D3DPOOL pool, Direct3DTexture8** texture) {
  record("CreateTexture", {width, height, levels, usage, format, pool});
  if (texture) *texture = nullptr;
  if (HRESULT hr = scripted("CreateTexture"); FAILED(hr)) return hr;
  if (!texture || width == 0 || height == 0 || bytesPerTexel(format) == 0) return D3DERR_INVALIDCALL;
  if (texturesBeforeFailure == 0) return D3DERR_OUTOFVIDEOMEMORY;
  if (texturesBeforeFailure > 0) --texturesBeforeFailure;
  textures_.push_back(std::make_unique<MemoryTexture>(width, height, levels, usage, format, pool));
  *texture = textures_.back().get();
  return D3D_OK;
}

HRESULT RecordingDevice::UpdateTexture(Direct3DTexture8* source, Direct3DTexture8* destination) {
  D3DCall& call = record("UpdateTexture", {ptr(source), ptr(destination)});
  call.texture = source;
  call.texture2 = destination;
  if (HRESULT hr = scripted("UpdateTexture"); FAILED(hr)) return hr;
  auto* src = dynamic_cast<MemoryTexture*>(source);
  auto* dst = dynamic_cast<MemoryTexture*>(destination);
  if (!src || !dst || src->pool() != D3DPOOL_SYSTEMMEM || dst->pool() != D3DPOOL_DEFAULT || src->locked())
    return D3DERR_INVALIDCALL;
  return dst->copyFrom(*src);
}

HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                         UINT vertexStride) {
  D3DCall& call = record("DrawPrimitiveUP", {type, primitiveCount, ptr(vertexData), vertexStride});
  call.vertexShader = vertexShader_;
  UINT count = primitiveIndexCount(type, primitiveCount);
  if (vertexData && count)
    call.vertices.assign(static_cast<const uint8_t*>(vertexData),
                         static_cast<const uint8_t*>(vertexData) + static_cast<size_t>(count) * vertexStride);
  if (HRESULT hr = scripted("DrawPrimitiveUP"); FAILED(hr)) return hr;
  if (!inScene_ || !vertexData || count == 0) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

HRESULT RecordingDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                                UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                                const void* vertexData, UINT vertexStride) {
  D3DCall& call = record("DrawIndexedPrimitiveUP", {type, minVertexIndex, numVertices, primitiveCount, ptr(indexData),
                                                    indexFormat, ptr(vertexData), vertexStride});
  call.vertexShader = vertexShader_;
  UINT count = primitiveIndexCount(type, primitiveCount);
  if (vertexData)
    call.vertices.assign(
        static_cast<const uint8_t*>(vertexData),
        static_cast<const uint8_t*>(vertexData) + static_cast<size_t>(minVertexIndex + numVertices) * vertexStride);
  if (indexData) {
    for (UINT i = 0; i < count; ++i)
      call.indices.push_back(indexFormat == D3DFMT_INDEX32 ? static_cast<const uint32_t*>(indexData)[i]
                                                           : static_cast<const uint16_t*>(indexData)[i]);
  }
  if (HRESULT hr = scripted("DrawIndexedPrimitiveUP"); FAILED(hr)) return hr;
  if (!inScene_ || !vertexData || !indexData || count == 0 ||
      (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  // An index outside the range the call names reads vertices it did not
  // promise: Direct3D's debug runtime refuses it, and so does this device.
  for (uint32_t index : call.indices)
    if (index < minVertexIndex || index >= minVertexIndex + numVertices) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

HRESULT RecordingDevice::readBackBuffer(std::vector<DWORD>* pixels, UINT* width, UINT* height) {
  record("readBackBuffer", {});
  if (!pixels || !width || !height) return D3DERR_INVALIDCALL;
  *width = params_.BackBufferWidth;
  *height = params_.BackBufferHeight;
  pixels->assign(static_cast<size_t>(*width) * *height, backBufferColour);
  return D3D_OK;
}

// ---- ScriptedDirect3D8 ------------------------------------------------------------

D3DCAPS8 ScriptedDirect3D8::standardHalCaps() { return hardwareCaps(); }

D3DCAPS8 ScriptedDirect3D8::standardSwCaps() {
  D3DCAPS8 c = standardHalCaps();
  c.DeviceType = D3DDEVTYPE_SW;
  c.DevCaps &= ~(D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION);
  c.VertexShaderVersion = 0;
  return c;
}

D3DDISPLAYMODE ScriptedDirect3D8::mode(UINT width, UINT height, D3DFORMAT format, UINT refresh) {
  D3DDISPLAYMODE m;
  m.Width = width;
  m.Height = height;
  m.RefreshRate = refresh;
  m.Format = format;
  return m;
}

ScriptedAdapter ScriptedDirect3D8::standardAdapter(const std::string& description, BYTE guidByte,
                                                   const D3DDISPLAYMODE& desktop, std::vector<D3DDISPLAYMODE> modes,
                                                   HMONITOR monitor) {
  ScriptedAdapter a;
  std::snprintf(a.identifier.Driver, sizeof a.identifier.Driver, "scripted.drv");
  std::snprintf(a.identifier.Description, sizeof a.identifier.Description, "%s", description.c_str());
  a.identifier.DeviceIdentifier.Data1 = guidByte * 0x01010101u;
  a.identifier.DeviceIdentifier.Data2 = static_cast<WORD>(guidByte * 0x0101u);
  a.identifier.DeviceIdentifier.Data3 = static_cast<WORD>(guidByte * 0x0101u);
  for (BYTE& b : a.identifier.DeviceIdentifier.Data4) b = guidByte;
  a.desktopMode = desktop;
  a.modes = std::move(modes);
  a.monitor = monitor;
  a.halCaps = standardHalCaps();
  return a;
}

UINT ScriptedDirect3D8::GetAdapterCount() {
  log.push_back("GetAdapterCount()");
  return static_cast<UINT>(adapters.size());
}

HRESULT ScriptedDirect3D8::GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* identifier) {
  log.push_back("GetAdapterIdentifier(" + std::to_string(adapter) + ", " + std::to_string(flags) + ")");
  if (adapter >= adapters.size() || !identifier) return D3DERR_INVALIDCALL;
  *identifier = adapters[adapter].identifier;
  return D3D_OK;
}

UINT ScriptedDirect3D8::GetAdapterModeCount(UINT adapter) {
  log.push_back("GetAdapterModeCount(" + std::to_string(adapter) + ")");
  return adapter < adapters.size() ? static_cast<UINT>(adapters[adapter].modes.size()) : 0;
}

HRESULT ScriptedDirect3D8::EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* displayMode) {
  log.push_back("EnumAdapterModes(" + std::to_string(adapter) + ", " + std::to_string(mode) + ")");
  if (adapter >= adapters.size() || mode >= adapters[adapter].modes.size() || !displayMode) return D3DERR_INVALIDCALL;
  *displayMode = adapters[adapter].modes[mode];
  return D3D_OK;
}

HRESULT ScriptedDirect3D8::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) {
  log.push_back("GetAdapterDisplayMode(" + std::to_string(adapter) + ")");
  if (adapter >= adapters.size() || !displayMode) return D3DERR_INVALIDCALL;
  *displayMode = adapters[adapter].desktopMode;
  return D3D_OK;
}

HRESULT ScriptedDirect3D8::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back,
                                           BOOL windowed) {
  log.push_back("CheckDeviceType(" + std::to_string(adapter) + ", " + std::to_string(type) + ", " +
                std::to_string(display) + ", " + std::to_string(back) + ", " + std::to_string(windowed) + ")");
  if (adapter >= adapters.size()) return D3DERR_INVALIDCALL;
  const ScriptedAdapter& a = adapters[adapter];
  if (a.checkDeviceType) return a.checkDeviceType(type, display, back, windowed);
  bool available = (type == D3DDEVTYPE_HAL && a.halCaps) || (type == D3DDEVTYPE_SW && a.swCaps);
  if (!available) return D3DERR_NOTAVAILABLE;
  if (windowed) {
    if (display != a.desktopMode.Format || !windowedBackBuffer(back)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
  }
  bool listed =
      std::any_of(a.modes.begin(), a.modes.end(), [&](const D3DDISPLAYMODE& m) { return m.Format == display; });
  if (!listed || (back != display && !isAlphaForm(display, back))) return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT ScriptedDirect3D8::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                             D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
  log.push_back("CheckDeviceFormat(" + std::to_string(adapter) + ", " + std::to_string(type) + ", " +
                std::to_string(adapterFormat) + ", " + std::to_string(usage) + ", " + std::to_string(resourceType) +
                ", " + std::to_string(checkFormat) + ")");
  if (adapter >= adapters.size()) return D3DERR_INVALIDCALL;
  const ScriptedAdapter& a = adapters[adapter];
  bool available = (type == D3DDEVTYPE_HAL && a.halCaps) || (type == D3DDEVTYPE_SW && a.swCaps);
  if (!available || bytesPerTexel(checkFormat) == 0) return D3DERR_NOTAVAILABLE;
  return D3D_OK;
}

HRESULT ScriptedDirect3D8::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) {
  log.push_back("GetDeviceCaps(" + std::to_string(adapter) + ", " + std::to_string(type) + ")");
  if (adapter >= adapters.size() || !caps) return D3DERR_INVALIDCALL;
  const ScriptedAdapter& a = adapters[adapter];
  const std::optional<D3DCAPS8>& c = type == D3DDEVTYPE_HAL ? a.halCaps : a.swCaps;
  if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_SW) return D3DERR_NOTAVAILABLE;
  if (!c) return D3DERR_NOTAVAILABLE;
  *caps = *c;
  caps->AdapterOrdinal = adapter;
  return D3D_OK;
}

HMONITOR ScriptedDirect3D8::GetAdapterMonitor(UINT adapter) {
  log.push_back("GetAdapterMonitor(" + std::to_string(adapter) + ")");
  return adapter < adapters.size() ? adapters[adapter].monitor : 0;
}

HRESULT ScriptedDirect3D8::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                                        D3DPRESENT_PARAMETERS* params, Direct3DDevice8** device) {
  log.push_back("CreateDevice(" + std::to_string(adapter) + ", " + std::to_string(type) + ", " +
                std::to_string(focusWindow) + ", " + std::to_string(behaviourFlags) + ")");
  if (device) *device = nullptr;
  CreateDeviceCall call{adapter, type,   focusWindow, behaviourFlags, params ? *params : D3DPRESENT_PARAMETERS{},
                        D3D_OK,  nullptr};
  HRESULT hr = D3D_OK;
  if (!device || !params || adapter >= adapters.size()) {
    hr = D3DERR_INVALIDCALL;
  } else if (!createDeviceResults.empty()) {
    hr = createDeviceResults.front();
    createDeviceResults.pop_front();
  } else if (createDeviceRule) {
    hr = createDeviceRule(adapter, type, behaviourFlags, *params);
  }
  if (SUCCEEDED(hr)) {
    devices.push_back(std::make_unique<RecordingDevice>(*params));
    RecordingDevice* d = devices.back().get();
    const ScriptedAdapter& a = adapters[adapter];
    if (type == D3DDEVTYPE_HAL && a.halCaps) d->caps = *a.halCaps;
    if (type == D3DDEVTYPE_SW && a.swCaps) d->caps = *a.swCaps;
    d->displayMode = a.desktopMode;
    if (params->Windowed && (params->BackBufferWidth == 0 || params->BackBufferHeight == 0)) {
      // Windowed with size 0: the device window's client size, which this
      // double does not know; the desktop's size stands in.
      D3DPRESENT_PARAMETERS p = *params;
      if (p.BackBufferWidth == 0) p.BackBufferWidth = a.desktopMode.Width;
      if (p.BackBufferHeight == 0) p.BackBufferHeight = a.desktopMode.Height;
      D3DCAPS8 caps = d->caps;
      devices.back() = std::make_unique<RecordingDevice>(p);
      d = devices.back().get();
      d->caps = caps;
      d->displayMode = a.desktopMode;
    }
    *device = d;
    call.device = d;
  }
  call.result = hr;
  createCalls.push_back(call);
  return hr;
}

// ---- ScopedDirect3D ----------------------------------------------------------------

ScopedDirect3D::ScopedDirect3D(ScriptedDirect3D8& d3d) {
  previous_ = setDirect3DFactory([&d3d](UINT sdkVersion) -> Direct3D8* {
    if (d3d.failCreate || sdkVersion != D3D_SDK_VERSION) return nullptr;
    d3d.AddRef();
    return &d3d;
  });
}

ScopedDirect3D::~ScopedDirect3D() { setDirect3DFactory(std::move(previous_)); }

}  // namespace platform
