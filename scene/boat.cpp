#include "scene/boat.h"

#include <cstring>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "scene/renderer.h"
#include "scene/watersurface.h"
#include "source/config.h"

#ifndef LM_DATA_DIR
#define LM_DATA_DIR "/usr/local/share/lumenmere"
#endif

namespace {

constexpr float kThrustGain = 0.3f;
constexpr float kDistancePull = 0.00001f;
constexpr float kCruiseDistance = 20.0f;
constexpr float kTurnGain = 10.9f;
constexpr int kWakeMargin = 100;

// The textured quad: 5 units square, the bow end just ahead of the boat's
// position; the picture's top row is the bow.
constexpr PictureVertex kTexturedModel[4] = {
    {-2.5f, 0.0f, 0.25f, 0xFFFFFFFF, 0.0f, 0.0f},
    {2.5f, 0.0f, 0.25f, 0xFFFFFFFF, 1.0f, 0.0f},
    {-2.5f, 0.0f, -4.75f, 0xFFFFFFFF, 0.0f, 1.0f},
    {2.5f, 0.0f, -4.75f, 0xFFFFFFFF, 1.0f, 1.0f},
};
constexpr uint16_t kTexturedIndices[6] = {0, 3, 2, 0, 1, 3};
constexpr uint16_t kHullIndices[12] = {0, 4, 1, 1, 4, 3, 4, 2, 5, 2, 4, 0};
constexpr float kHullOutline[6][2] = {{0.0f, 1.5f},   {-0.8f, 0.5f}, {0.8f, 0.5f},
                                      {-0.8f, -1.8f}, {0.0f, -2.0f}, {0.8f, -1.8f}};
constexpr int kSternPoint = 4;

D3DXVECTOR3 normalized(const D3DXVECTOR3& v) {
  D3DXVECTOR3 out;
  D3DXVec3Normalize(&out, &v);
  return out;
}

D3DXVECTOR3 cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
  D3DXVECTOR3 out;
  D3DXVec3Cross(&out, &a, &b);
  return out;
}

float length(const D3DXVECTOR3& v) { return D3DXVec3Length(&v); }

}  // namespace

Boat::Boat() { frame = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -100.1f, 0, -80, 1); }

Boat::~Boat() = default;

void Boat::setTarget(const D3DXVECTOR3& point, float newSpeed) {
  target = point;
  speed = newSpeed;
}

void Boat::chooseTarget(float idleTime, float f) {
  if (idleTime > 10.0f) {
    const float x = static_cast<float>(platform::rand()) * f / 32768.0f - f * 0.5f;
    const float z = static_cast<float>(platform::rand()) * f * 2.2194603e-5f - f * 0.35f;
    const float newSpeed = static_cast<float>(platform::rand()) * 0.0025939941f;
    setTarget(D3DXVECTOR3(x, 0.0f, z), newSpeed);
  } else {
    setTarget(D3DXVECTOR3(f * -0.99f, 0.0f, f * -0.05f), 25.0f);
  }
}

void Boat::move(D3DXVECTOR3* oldPosition, D3DXVECTOR3* newPosition, float dt) {
  if (dt > kLongestStep) dt = kLongestStep;
  const D3DXVECTOR3 here = position();
  const D3DXVECTOR3 toTargetVector = target - here;
  const float distance = length(toTargetVector);
  const float thrust = (speed * 0.5f - length(velocity)) * kThrustGain + (distance - kCruiseDistance) * kDistancePull;
  const D3DXVECTOR3 toTarget = normalized(toTargetVector);
  const D3DXVECTOR3 heading = normalized(velocity);
  // Across the heading, towards the target.
  const D3DXVECTOR3 side = normalized(cross(cross(heading, toTargetVector), heading));
  const float turn = length(heading - toTarget);
  acceleration = side * turn * kTurnGain + heading * thrust;
  velocity += acceleration * dt;
  previousPosition = here;
  setPosition(here + velocity * dt);
  if (oldPosition) *oldPosition = previousPosition;
  if (newPosition) *newPosition = position();
}

void Boat::draw(Direct3DDevice8* device) {
  if (!device) return;
  if (length(velocity) > kTurningSpeed) {
    const D3DXVECTOR3 f = normalized(velocity);
    const D3DXVECTOR3 up(frame._21, frame._22, frame._23);
    const D3DXVECTOR3 r = cross(up, f);
    frame._31 = f.x;
    frame._32 = f.y;
    frame._33 = f.z;
    frame._11 = r.x;
    frame._12 = r.y;
    frame._13 = r.z;
  }
  device->SetTransform(D3DTS_WORLD, &frame);
  device->SetTexture(0, texture.get());
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  device->SetVertexShader(kPictureFvf);
  if (texture) {
    device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, kTexturedIndices, D3DFMT_INDEX16, kTexturedModel,
                                   sizeof(PictureVertex));
  } else {
    PictureVertex hull[6];
    for (int i = 0; i < 6; ++i)
      hull[i] = PictureVertex{
          kHullOutline[i][0], 0.0f, kHullOutline[i][1], i == kSternPoint ? sternColour : hullColour, 0.0f, 0.0f};
    device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 6, 4, kHullIndices, D3DFMT_INDEX16, hull,
                                   sizeof(PictureVertex));
  }
}

std::vector<std::string> Boat::pictureLocations() {
  // The plain name is read through the pack: the container, the current
  // directory, then pack/.  An installed saver is started from anywhere, so
  // the program's own directory and the installed data follow.
  return {"boat.tga", platform::joinPath(Config::programDirectory(), "boat.tga"),
          platform::joinPath(LM_DATA_DIR, "boat.tga")};
}

uint16_t Boat::texelOf(const uint8_t* bgra) {
  const uint32_t blue = bgra[0], green = bgra[1], red = bgra[2], alpha = bgra[3];
  return static_cast<uint16_t>(((alpha >> 4) << 12) | ((red >> 4) << 8) | (green & 0xF0u) | (blue >> 4));
}

void Boat::loadTexture(Direct3DDevice8* device) {
  texture.reset();
  if (!device) return;
  for (const std::string& location : pictureLocations()) {
    PixelBuffer pixels;
    int width = 0, height = 0, bits = 0;
    if (loadImage(location, pixels, width, height, &bits) != 0 || width <= 0 || height <= 0) continue;
    // A picture that came through the ".jpg" fallback has 3 bytes a pixel
    // although 32 bits are reported: reading 4 would run past its end.
    if (pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) continue;

    Direct3DTexture8* staging = nullptr;
    if (FAILED(device->CreateTexture(width, height, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_SYSTEMMEM, &staging)) || !staging)
      return;
    TexturePtr stagingHold(staging);
    Direct3DTexture8* made = nullptr;
    if (SUCCEEDED(device->CreateTexture(width, height, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_DEFAULT, &made)) && made) {
      TexturePtr result(made);
      D3DLOCKED_RECT locked;
      if (SUCCEEDED(staging->LockRect(0, &locked, nullptr, 0))) {
        // The stored rows start with the picture's bottom row.
        for (int y = 0; y < height; ++y) {
          const uint8_t* source = pixels.data() + static_cast<size_t>(height - 1 - y) * width * 4;
          auto* row = static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch;
          for (int x = 0; x < width; ++x) {
            const uint16_t texel = texelOf(source + static_cast<size_t>(x) * 4);
            std::memcpy(row + static_cast<size_t>(x) * 2, &texel, 2);
          }
        }
        staging->UnlockRect(0);
        if (SUCCEEDED(device->UpdateTexture(staging, made))) texture = std::move(result);
      }
    }
    return;
  }
}

void Boat::releaseTexture() { texture.reset(); }

POINT wakePixel(const D3DXVECTOR3& position, int screenWidth, int screenHeight, float widthUnits) {
  const float scale = static_cast<float>(screenWidth) / widthUnits;
  // Far outside the screen the product could leave int's range.
  auto toPixel = [](float v) {
    if (!(v > -1.0e9f)) return -1000000000;
    if (!(v < 1.0e9f)) return 1000000000;
    return static_cast<int>(v);
  };
  return POINT{toPixel(position.x * scale) + screenWidth / 2, toPixel(position.z * scale) + screenHeight / 2};
}

bool stampWake(WaterSurface& surface, const D3DXVECTOR3& oldPosition, const D3DXVECTOR3& newPosition) {
  if (surface.empty()) return false;
  const int width = surface.screenWidth(), height = surface.screenHeight();
  const POINT a = wakePixel(oldPosition, width, height, surface.widthUnits());
  const POINT b = wakePixel(newPosition, width, height, surface.widthUnits());
  auto onOrNear = [&](const POINT& p) {
    return p.x >= -kWakeMargin && p.x <= width + kWakeMargin && p.y >= -kWakeMargin && p.y <= height + kWakeMargin;
  };
  if (!onOrNear(a) && !onOrNear(b)) return false;
  surface.dragLine(a.x, a.y, b.x, b.y, Boat::kWakeStrength);
  return true;
}
