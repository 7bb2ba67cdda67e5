#pragma once
// The little boat: it steers towards a target the scene changes every few
// seconds, heads for its resting place near the left edge while the user
// moves the mouse, and leaves a wake in the water.  It is drawn as a flat
// textured quad lying on the water ("boat.tga", a top-down picture with a
// transparent surround) or, without that picture, as a flat six-point hull.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d8.h"
#include "platform/d3dx.h"
#include "scene/deviceobject.h"
#include "source/loadimage.h"

class WaterSurface;

class Boat {
 public:
  static constexpr uint32_t kSternColour = 0xFFFFFFFF;
  static constexpr uint32_t kHullColour = 0xFFB0B0C0;
  // Steps longer than this advance the boat as if they were this long.
  static constexpr float kLongestStep = 0.1f;
  // Below this speed the boat keeps the way it faces.
  static constexpr float kTurningSpeed = 0.1f;
  static constexpr int kWakeStrength = 5;

  Boat();
  virtual ~Boat();
  Boat(const Boat&) = delete;
  Boat& operator=(const Boat&) = delete;

  // Draws the boat with its frame as the world transform; the picture's
  // alpha cuts out its shape.
  virtual void draw(Direct3DDevice8* device);
  // One steering step of dt seconds (at most kLongestStep); either output
  // may be null.
  virtual void move(D3DXVECTOR3* oldPosition, D3DXVECTOR3* newPosition, float dt);
  virtual void setTarget(const D3DXVECTOR3& point, float newSpeed);

  // Loads the boat picture into a 16-bit texture; without a usable picture
  // the hull is drawn.  The picture is looked for as "boat.tga" in the
  // container, the current directory and pack/, then beside the program
  // file, then in the installed data directory.
  void loadTexture(Direct3DDevice8* device);
  void releaseTexture();

  // The target of a scene tick: somewhere at random while the user has
  // left the mouse alone for more than 10 s, else the resting place.
  void chooseTarget(float idleTime, float surfaceSize);

  D3DXVECTOR3 position() const { return D3DXVECTOR3(frame._41, frame._42, frame._43); }
  D3DXVECTOR3 forward() const { return D3DXVECTOR3(frame._31, frame._32, frame._33); }
  D3DXVECTOR3 right() const { return D3DXVECTOR3(frame._11, frame._12, frame._13); }
  void setPosition(const D3DXVECTOR3& p) {
    frame._41 = p.x;
    frame._42 = p.y;
    frame._43 = p.z;
  }

  uint32_t sternColour = kSternColour;
  uint32_t hullColour = kHullColour;
  TexturePtr texture;
  // Rows: right, up (never changes), forward, position.
  D3DXMATRIX frame;
  float speed = 35.0f;
  D3DXVECTOR3 previousPosition;
  D3DXVECTOR3 target{10.0f, 0.0f, 10.0f};
  D3DXVECTOR3 velocity{0.1f, 0.0f, 0.0f};
  D3DXVECTOR3 acceleration{0.1f, 0.0f, 0.0f};

  // Where the picture is looked for, in order.
  static std::vector<std::string> pictureLocations();
  // The 16-bit texel of a stored blue-green-red-alpha pixel.
  static uint16_t texelOf(const uint8_t* bgra);
};

// The wake: a grid position as a screen pixel (trunc(x * scale) + width / 2,
// trunc(z * scale) + height / 2 with scale = width / widthUnits).
POINT wakePixel(const D3DXVECTOR3& position, int screenWidth, int screenHeight, float widthUnits);
// Stamps the boat's path from old to new into the water with strength 5
// when either end lies on the screen or within 100 pixels of it.  True
// when it stamped.
bool stampWake(WaterSurface& surface, const D3DXVECTOR3& oldPosition, const D3DXVECTOR3& newPosition);
