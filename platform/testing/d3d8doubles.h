#pragma once
// Test doubles for Direct3D 8:
//   - RecordingDevice: keeps every call with its arguments in order, tracks
//     the current states, and answers as the test scripts it (lost devices,
//     failing calls, texture creation failures, texture memory);
//   - ScriptedDirect3D8: any adapters, identifiers, modes, caps and device
//     creation results; every device it creates is a RecordingDevice.
//
// Installing one for a test:
//   platform::ScriptedDirect3D8 d3d;
//   d3d.adapters.push_back(platform::ScriptedDirect3D8::standardAdapter(...));
//   platform::ScopedDirect3D guard(d3d);   // Direct3DCreate8 now returns &d3d
//
// Objects made by the doubles belong to their maker (the test's object and
// its devices): Release only counts down, so tests can still look at a
// released device or texture and check that the count reached 0.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/d3d8.h"
#include "platform/memorytexture.h"

namespace platform {

// One recorded device call.
struct D3DCall {
  std::string name;                      // the method, e.g. "SetRenderState"
  std::vector<uint64_t> args;            // integer arguments in order (pointers as their address)
  std::vector<float> floats;             // float arguments (Clear's z)
  D3DMATRIX matrix;                      // SetTransform
  D3DLIGHT8 light;                       // SetLight
  D3DMATERIAL8 material;                 // SetMaterial
  D3DVIEWPORT8 viewport;                 // SetViewport
  D3DPRESENT_PARAMETERS params;          // Reset
  Direct3DTexture8* texture = nullptr;   // SetTexture; UpdateTexture's source
  Direct3DTexture8* texture2 = nullptr;  // UpdateTexture's destination
  std::vector<uint8_t> vertices;         // draw calls: the vertices the call reads (from vertex 0)
  std::vector<uint32_t> indices;         // indexed draws: the indices, widened
  DWORD vertexShader = 0;                // draw calls: the vertex format in force
  // "SetRenderState(137, 0)": the name and the integer arguments.
  std::string text() const;
};

class RecordingDevice : public Direct3DDevice8 {
 public:
  RecordingDevice();
  explicit RecordingDevice(const D3DPRESENT_PARAMETERS& params);
  ~RecordingDevice() override;

  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT TestCooperativeLevel() override;
  UINT GetAvailableTextureMem() override;
  HRESULT GetDeviceCaps(D3DCAPS8* caps) override;
  HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) override;
  HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
  HRESULT Present(const RECT* source, const RECT* dest, HWND overrideWindow, const void* dirtyRegion) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetViewport(const D3DVIEWPORT8* viewport) override;
  HRESULT GetViewport(D3DVIEWPORT8* viewport) override;
  HRESULT SetMaterial(const D3DMATERIAL8* material) override;
  HRESULT GetMaterial(D3DMATERIAL8* material) override;
  HRESULT SetLight(DWORD index, const D3DLIGHT8* light) override;
  HRESULT GetLight(DWORD index, D3DLIGHT8* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture) override;
  HRESULT SetVertexShader(DWORD handle) override;
  HRESULT GetVertexShader(DWORD* handle) override;
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        Direct3DTexture8** texture) override;
  HRESULT UpdateTexture(Direct3DTexture8* source, Direct3DTexture8* destination) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                          UINT vertexStride) override;
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices, UINT primitiveCount,
                                 const void* indexData, D3DFORMAT indexFormat, const void* vertexData,
                                 UINT vertexStride) override;
  // Answers with a picture of backBufferColour the size of the back buffer.
  HRESULT readBackBuffer(std::vector<DWORD>* pixels, UINT* width, UINT* height) override;

  // ---- what the code did ----
  std::vector<D3DCall> calls;
  std::vector<std::string> callTexts() const;
  std::vector<const D3DCall*> callsNamed(const std::string& name) const;
  void clearCalls() { calls.clear(); }
  ULONG refCount() const { return refs_; }
  bool inScene() const { return inScene_; }
  // Textures made by this device whose count has not reached 0, in all or
  // one pool.
  int liveTextures() const;
  int liveTextures(D3DPOOL pool) const;
  const std::vector<std::unique_ptr<MemoryTexture>>& textures() const { return textures_; }

  // ---- current state ----
  DWORD renderState(D3DRENDERSTATETYPE state) const;
  DWORD textureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const;
  D3DMATRIX transform(D3DTRANSFORMSTATETYPE state) const;
  Direct3DTexture8* texture(DWORD stage) const;
  DWORD vertexShader() const { return vertexShader_; }
  D3DLIGHT8 light(DWORD index) const;
  bool lightEnabled(DWORD index) const;
  D3DMATERIAL8 material() const { return material_; }
  const D3DPRESENT_PARAMETERS& presentParams() const { return params_; }

  // ---- scripting ----
  // What TestCooperativeLevel answers (D3D_OK, D3DERR_DEVICELOST,
  // D3DERR_DEVICENOTRESET).  A successful Reset sets it back to D3D_OK.
  HRESULT cooperativeLevel = D3D_OK;
  // The next calls of a method answer these results, one each, before the
  // method acts (a failing call changes nothing).  Methods: "Reset",
  // "Present", "BeginScene", "EndScene", "CreateTexture", "UpdateTexture",
  // "DrawIndexedPrimitiveUP", "DrawPrimitiveUP", "SetTexture", "Clear".
  void failNext(const std::string& method, HRESULT result, int times = 1);
  UINT availableTextureMem = 512u * 1024u * 1024u;
  // How many more CreateTexture calls succeed (negative: no limit); later ones
  // answer D3DERR_OUTOFVIDEOMEMORY.
  int texturesBeforeFailure = -1;
  // Reset refuses with D3DERR_INVALIDCALL while default-pool textures live
  // (Direct3D's rule); off lets a test reach other paths.
  bool checkResetResources = true;
  D3DCAPS8 caps;
  D3DDISPLAYMODE displayMode;
  DWORD backBufferColour = 0xFF000000;

 private:
  HRESULT scripted(const std::string& method);
  D3DCall& record(const std::string& name, std::initializer_list<uint64_t> args);
  void resetStates();

  ULONG refs_ = 1;
  bool inScene_ = false;
  D3DPRESENT_PARAMETERS params_;
  std::map<std::string, std::deque<HRESULT>> failures_;
  std::map<DWORD, DWORD> renderStates_;
  std::map<std::pair<DWORD, DWORD>, DWORD> stageStates_;
  std::map<DWORD, D3DMATRIX> transforms_;
  std::map<DWORD, D3DLIGHT8> lights_;
  std::map<DWORD, bool> lightEnabled_;
  std::map<DWORD, Direct3DTexture8*> boundTextures_;
  D3DMATERIAL8 material_;
  D3DVIEWPORT8 viewport_;
  DWORD vertexShader_ = 0;
  std::vector<std::unique_ptr<MemoryTexture>> textures_;
};

// One adapter of a ScriptedDirect3D8.
struct ScriptedAdapter {
  D3DADAPTER_IDENTIFIER8 identifier;
  D3DDISPLAYMODE desktopMode;
  std::vector<D3DDISPLAYMODE> modes;
  HMONITOR monitor = 0;
  // Absent: the device type is not available on this adapter.
  std::optional<D3DCAPS8> halCaps;
  std::optional<D3DCAPS8> swCaps;
  // Optional override of CheckDeviceType for this adapter.  The default
  // accepts, for an available type: full screen when the display format is
  // one of the modes' formats and the back buffer has the same format (or
  // its alpha form); windowed when the display format is the desktop's and
  // the back buffer is A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5 or A1R5G5B5.
  std::function<HRESULT(D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT backBuffer, BOOL windowed)> checkDeviceType;
};

class ScriptedDirect3D8 : public Direct3D8 {
 public:
  ScriptedDirect3D8() = default;
  ~ScriptedDirect3D8() override = default;

  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return refs_ > 0 ? --refs_ : 0; }
  UINT GetAdapterCount() override;
  HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* identifier) override;
  UINT GetAdapterModeCount(UINT adapter) override;
  HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* displayMode) override;
  HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) override;
  HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                          BOOL windowed) override;
  HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                            D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
  HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override;
  HMONITOR GetAdapterMonitor(UINT adapter) override;
  HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                       D3DPRESENT_PARAMETERS* params, Direct3DDevice8** device) override;

  // ---- the script ----
  std::vector<ScriptedAdapter> adapters;
  // Results of the next CreateDevice calls, one each; when empty, creation
  // succeeds.
  std::deque<HRESULT> createDeviceResults;
  // Decides creation when set (after createDeviceResults is used up).
  std::function<HRESULT(UINT adapter, D3DDEVTYPE type, DWORD flags, const D3DPRESENT_PARAMETERS& params)>
      createDeviceRule;
  // Direct3DCreate8 through ScopedDirect3D answers nullptr when set.
  bool failCreate = false;

  // ---- what the code did ----
  struct CreateDeviceCall {
    UINT adapter;
    D3DDEVTYPE type;
    HWND focusWindow;
    DWORD behaviourFlags;
    D3DPRESENT_PARAMETERS params;
    HRESULT result;
    RecordingDevice* device;  // nullptr when creation failed
  };
  std::vector<CreateDeviceCall> createCalls;
  std::vector<std::string> log;  // every call, "CheckDeviceType(0, 1, 22, 22, 0)"
  std::vector<std::unique_ptr<RecordingDevice>> devices;
  ULONG refCount() const { return refs_; }

  // A hardware transform-and-lighting card with vertex shader 1.1 that can
  // render windowed, as a display driver of the time reports.
  static D3DCAPS8 standardHalCaps();
  // The same without hardware transform and lighting (vertex shader 0).
  static D3DCAPS8 standardSwCaps();
  static D3DDISPLAYMODE mode(UINT width, UINT height, D3DFORMAT format, UINT refresh = 60);
  // An adapter with a description, a GUID whose bytes are all `guidByte`,
  // a desktop mode, the given modes and HAL caps.
  static ScriptedAdapter standardAdapter(const std::string& description, BYTE guidByte, const D3DDISPLAYMODE& desktop,
                                         std::vector<D3DDISPLAYMODE> modes, HMONITOR monitor);

 private:
  ULONG refs_ = 1;
};

// Makes Direct3DCreate8 answer with a test's Direct3D object (one more
// reference each time) for the life of the guard.
class ScopedDirect3D {
 public:
  explicit ScopedDirect3D(ScriptedDirect3D8& d3d);
  ~ScopedDirect3D();
  ScopedDirect3D(const ScopedDirect3D&) = delete;
  ScopedDirect3D& operator=(const ScopedDirect3D&) = delete;

 private:
  Direct3DFactory previous_;
};

}  // namespace platform
