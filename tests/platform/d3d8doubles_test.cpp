// The Direct3D test doubles, the shared constants and the clock sources.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/testing/d3d8doubles.h"
#include "platform/testing/manualclock.h"

using namespace platform;

TEST(D3D8Constants, PublishedValues) {
  // Spot checks of numbers the shell and the scene pass straight through.
  EXPECT_EQ(D3DERR_DEVICELOST, static_cast<HRESULT>(0x88760868u));
  EXPECT_EQ(D3DERR_DEVICENOTRESET, static_cast<HRESULT>(0x88760869u));
  EXPECT_EQ(D3DERR_INVALIDCALL, static_cast<HRESULT>(0x8876086Cu));
  EXPECT_EQ(D3DERR_OUTOFVIDEOMEMORY, static_cast<HRESULT>(0x8876017Cu));
  EXPECT_TRUE(FAILED(D3DERR_NOTAVAILABLE));
  EXPECT_EQ(D3DRS_LIGHTING, 137u);
  EXPECT_EQ(D3DTS_WORLD, 256u);
  EXPECT_EQ(D3DTS_WORLDMATRIX(0), D3DTS_WORLD);
  EXPECT_EQ(D3DVS_VERSION(1, 1), 0xFFFE0101u);
  EXPECT_EQ(vertexSizeOfFVF(0x42), 16u);
  EXPECT_EQ(vertexSizeOfFVF(0x142), 24u);
  EXPECT_EQ(vertexSizeOfFVF(0x152), 36u);
  EXPECT_EQ(bytesPerTexel(D3DFMT_A4R4G4B4), 2u);
  EXPECT_EQ(defaultRenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
  EXPECT_EQ(defaultRenderState(D3DRS_LIGHTING), 1u);
  EXPECT_EQ(defaultRenderState(D3DRS_DIFFUSEMATERIALSOURCE), static_cast<DWORD>(D3DMCS_COLOR1));
  EXPECT_EQ(defaultTextureStageState(0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
  EXPECT_EQ(defaultTextureStageState(1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_DISABLE));
  EXPECT_EQ(defaultTextureStageState(0, D3DTSS_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
}

TEST(RecordingDeviceTest, KeepsEveryCallInOrderWithItsArguments) {
  RecordingDevice dev;
  dev.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  dev.SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT | D3DTA_COMPLEMENT);
  D3DXMATRIX m;
  m._41 = 3.0f;
  dev.SetTransform(D3DTS_VIEW, &m);
  dev.SetVertexShader(0x142);
  EXPECT_EQ(dev.callTexts(), (std::vector<std::string>{"SetRenderState(22, 2)", "SetTextureStageState(0, 6, 17)",
                                                       "SetTransform(2)", "SetVertexShader(322)"}));
  EXPECT_EQ(dev.calls[2].matrix._41, 3.0f);
  EXPECT_EQ(dev.renderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CW));
  EXPECT_EQ(dev.renderState(D3DRS_SRCBLEND), static_cast<DWORD>(D3DBLEND_ONE)) << "untouched states keep defaults";
  EXPECT_EQ(dev.textureStageState(0, D3DTSS_ALPHAARG2), 17u);

  // A draw outside a scene is refused; inside, its vertices and indices are kept.
  const float vertices[3 * 4] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0};
  const uint16_t indices[3] = {0, 1, 2};
  dev.SetVertexShader(0x42);
  EXPECT_EQ(dev.DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, indices, D3DFMT_INDEX16, vertices, 16),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev.BeginScene(), D3D_OK);
  EXPECT_EQ(dev.DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, indices, D3DFMT_INDEX16, vertices, 16), D3D_OK);
  const uint16_t outside[3] = {0, 1, 3};
  EXPECT_EQ(dev.DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, outside, D3DFMT_INDEX16, vertices, 16),
            D3DERR_INVALIDCALL)
      << "an index beyond the vertices named";
  EXPECT_EQ(dev.EndScene(), D3D_OK);
  auto draws = dev.callsNamed("DrawIndexedPrimitiveUP");
  ASSERT_EQ(draws.size(), 3u);
  EXPECT_EQ(draws[1]->indices, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(draws[1]->vertices.size(), 48u);
  EXPECT_EQ(draws[1]->vertexShader, 0x42u);
}

TEST(RecordingDeviceTest, TexturesLockCopyAndCountAsDirect3DDoes) {
  RecordingDevice dev;
  Direct3DTexture8* staging = nullptr;
  Direct3DTexture8* tex = nullptr;
  ASSERT_EQ(dev.CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_SYSTEMMEM, &staging), D3D_OK);
  ASSERT_EQ(dev.CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_DEFAULT, &tex), D3D_OK);
  D3DLOCKED_RECT locked;
  EXPECT_EQ(tex->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(staging->LockRect(0, &locked, nullptr, 0), D3D_OK);
  EXPECT_EQ(locked.Pitch, 512);
  static_cast<uint16_t*>(locked.pBits)[256 * 3 + 7] = 0xF0A5;
  EXPECT_EQ(dev.UpdateTexture(staging, tex), D3DERR_INVALIDCALL) << "still locked";
  staging->UnlockRect(0);
  ASSERT_EQ(dev.UpdateTexture(staging, tex), D3D_OK);
  EXPECT_EQ(static_cast<MemoryTexture*>(tex)->texel(7, 3), 0xF0A5u);

  D3DPRESENT_PARAMETERS pp;
  pp.Windowed = TRUE;
  EXPECT_EQ(dev.Reset(&pp), D3DERR_INVALIDCALL) << "a default-pool texture lives";
  EXPECT_EQ(dev.liveTextures(D3DPOOL_DEFAULT), 1);
  tex->Release();
  staging->Release();
  EXPECT_EQ(dev.liveTextures(), 0);
  EXPECT_EQ(dev.Reset(&pp), D3D_OK);

  dev.texturesBeforeFailure = 1;
  Direct3DTexture8* a = nullptr;
  Direct3DTexture8* b = nullptr;
  EXPECT_EQ(dev.CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &a), D3D_OK);
  EXPECT_EQ(dev.CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &b), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(b, nullptr);
}

TEST(RecordingDeviceTest, ScriptedResultsAndLostDevices) {
  RecordingDevice dev;
  dev.cooperativeLevel = D3DERR_DEVICELOST;
  EXPECT_EQ(dev.TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(dev.Present(nullptr, nullptr, 0, nullptr), D3DERR_DEVICELOST);
  dev.cooperativeLevel = D3DERR_DEVICENOTRESET;
  dev.failNext("Reset", D3DERR_INVALIDCALL);
  D3DPRESENT_PARAMETERS pp;
  EXPECT_EQ(dev.Reset(&pp), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev.TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(dev.Reset(&pp), D3D_OK);
  EXPECT_EQ(dev.TestCooperativeLevel(), D3D_OK);
  dev.failNext("BeginScene", E_FAIL, 2);
  EXPECT_EQ(dev.BeginScene(), E_FAIL);
  EXPECT_EQ(dev.BeginScene(), E_FAIL);
  EXPECT_EQ(dev.BeginScene(), D3D_OK);
  EXPECT_EQ(dev.Release(), 0u);
  EXPECT_EQ(dev.refCount(), 0u);
}

TEST(ScriptedDirect3DTest, DescribesAdaptersAndCreatesRecordingDevices) {
  ScriptedDirect3D8 d3d;
  d3d.adapters.push_back(ScriptedDirect3D8::standardAdapter(
      "Primary Adapter", 0x11, ScriptedDirect3D8::mode(1024, 768, D3DFMT_X8R8G8B8),
      {ScriptedDirect3D8::mode(640, 480, D3DFMT_R5G6B5), ScriptedDirect3D8::mode(1024, 768, D3DFMT_X8R8G8B8)},
      0x00010001));
  ScriptedAdapter second =
      ScriptedDirect3D8::standardAdapter("Second", 0x22, ScriptedDirect3D8::mode(800, 600, D3DFMT_R5G6B5),
                                         {ScriptedDirect3D8::mode(800, 600, D3DFMT_R5G6B5)}, 0);
  second.halCaps.reset();
  second.swCaps = ScriptedDirect3D8::standardSwCaps();
  d3d.adapters.push_back(second);
  ScopedDirect3D guard(d3d);

  Direct3D8* api = Direct3DCreate8(D3D_SDK_VERSION);
  ASSERT_EQ(api, &d3d);
  EXPECT_EQ(Direct3DCreate8(120), nullptr);
  EXPECT_EQ(api->GetAdapterCount(), 2u);
  D3DADAPTER_IDENTIFIER8 id;
  ASSERT_EQ(api->GetAdapterIdentifier(0, D3DENUM_NO_WHQL_LEVEL, &id), D3D_OK);
  EXPECT_STREQ(id.Description, "Primary Adapter");
  EXPECT_EQ(id.DeviceIdentifier.Data4[7], 0x11);
  EXPECT_EQ(api->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3D_OK);
  EXPECT_EQ(api->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5, FALSE), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(api->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE), D3D_OK);
  EXPECT_EQ(api->CheckDeviceType(0, D3DDEVTYPE_SW, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(api->CheckDeviceType(1, D3DDEVTYPE_SW, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE), D3D_OK);
  D3DCAPS8 caps;
  EXPECT_EQ(api->GetDeviceCaps(1, D3DDEVTYPE_HAL, &caps), D3DERR_NOTAVAILABLE);
  ASSERT_EQ(api->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_EQ(caps.VertexShaderVersion, 0xFFFE0101u);
  EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
  EXPECT_EQ(api->GetAdapterMonitor(0), 0x00010001u);

  d3d.createDeviceResults = {D3DERR_OUTOFVIDEOMEMORY};
  D3DPRESENT_PARAMETERS pp;
  pp.BackBufferWidth = 1024;
  pp.BackBufferHeight = 768;
  pp.BackBufferFormat = D3DFMT_X8R8G8B8;
  Direct3DDevice8* dev = nullptr;
  EXPECT_EQ(api->CreateDevice(0, D3DDEVTYPE_HAL, 0x40000010, 0x80, &pp, &dev), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev, nullptr);
  ASSERT_EQ(api->CreateDevice(0, D3DDEVTYPE_HAL, 0x40000010, 0x80, &pp, &dev), D3D_OK);
  ASSERT_EQ(d3d.createCalls.size(), 2u);
  EXPECT_EQ(d3d.createCalls[1].behaviourFlags, 0x80u);
  EXPECT_EQ(d3d.createCalls[1].device, dev);
  EXPECT_EQ(d3d.createCalls[0].result, D3DERR_OUTOFVIDEOMEMORY);
  dev->Release();
  EXPECT_EQ(d3d.devices[0]->refCount(), 0u);
  api->Release();
  EXPECT_EQ(d3d.refCount(), 1u);
  d3d.failCreate = true;
  EXPECT_EQ(Direct3DCreate8(D3D_SDK_VERSION), nullptr);
}

TEST(ClockTest, ManualClockDrivesTheWin32TimeCalls) {
  ManualClock c(3579545);  // an odd counter frequency
  setClock(&c);
  LARGE_INTEGER f, t;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f.QuadPart, 3579545);
  c.advanceMicroseconds(1000000);
  ASSERT_TRUE(QueryPerformanceCounter(&t));
  EXPECT_EQ(t.QuadPart, 3579545);
  Sleep(250);
  EXPECT_EQ(timeGetTime(), 1250u);
  EXPECT_EQ(c.sleptMilliseconds, 250);
  setClock(nullptr);

  ManualClock none(0);  // no performance counter: the millisecond timer only
  setClock(&none);
  EXPECT_FALSE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f.QuadPart, 0);
  setClock(nullptr);

  // The system's counter runs forwards.
  ASSERT_TRUE(QueryPerformanceCounter(&t));
  LARGE_INTEGER later;
  Sleep(2);
  QueryPerformanceCounter(&later);
  EXPECT_GT(later.QuadPart, t.QuadPart);
}

TEST(DesktopTest, InstalledSourceAndNoDisplay) {
  DesktopPicture p;
  p.width = 2;
  p.height = 1;
  p.rgb = {1, 2, 3, 4, 5, 6};
  DesktopSource previous = setDesktopSource([p] { return std::optional<DesktopPicture>(p); });
  auto got = captureDesktop();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->rgb, p.rgb);
  setDesktopSource(previous);

  // Without an X display there is no snapshot.
  const char* display = getenv("DISPLAY");
  std::string saved = display ? display : "";
  setenv("DISPLAY", ":987", 1);
  EXPECT_FALSE(captureDesktop().has_value());
  if (display)
    setenv("DISPLAY", saved.c_str(), 1);
  else
    unsetenv("DISPLAY");
}
