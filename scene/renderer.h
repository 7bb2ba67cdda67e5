#pragma once
// Drawing one frame of the water with the fixed-function pipeline: the
// camera straight above the surface, a thin black frame at the screen edge,
// the two pictures mapped onto the refracted surface and cross-faded by the
// blend field, and the lit additive pass that puts the moving glint on it.
//
// Every pass sets the states it needs beyond the base states of the
// application's restore (clockwise culling, Gouraud shading, linear
// filtering) and restores nothing.  Vertices and indices are written into
// the surface's scratch buffers: nothing is allocated per frame.
#include <cstdint>

#include "platform/d3d8.h"
#include "platform/d3dx.h"
#include "scene/tileset.h"
#include "scene/watersurface.h"

// Vertex layouts of the passes.
struct PictureVertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1
  float x, y, z;
  uint32_t diffuse;
  float u, v;
};
static_assert(sizeof(PictureVertex) == 24, "the picture vertex is 24 bytes");
struct FrameVertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE
  float x, y, z;
  uint32_t diffuse;
};
static_assert(sizeof(FrameVertex) == 16, "the frame vertex is 16 bytes");

inline constexpr DWORD kPictureFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;              // 0x142
inline constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x152
inline constexpr DWORD kFrameFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;                              // 0x42

// The camera above the water: it looks straight down from half the
// surface's width, and at the water plane it sees exactly the visible
// region, so the surface fills the screen.
struct Camera {
  D3DXMATRIX world, camera, view, projection;
  D3DXVECTOR3 eye;
  void build(float widthUnits, float aspect);
  // Sets the projection, the world (identity) and the view.
  void apply(Direct3DDevice8* device) const;
};

// This thread's processor time in seconds.
double threadSeconds();

// Time spent in the scene's own arithmetic during a frame (the benchmark's
// "CPU part outside the driver"); the scene adds to it when one is given.
struct FrameProfile {
  double updateSeconds = 0.0;  // frame update and simulation step
  double buildSeconds = 0.0;   // vertex and index building of the passes
  void clear() { updateSeconds = buildSeconds = 0.0; }
};

// Which nodes one tile of a picture covers and where its texture lies on
// them.  Rows rowBegin..rowEnd-1 and columns columnBegin..columnEnd-1.
struct TileCoverage {
  int rowBegin = 0, rowEnd = 0;
  int columnBegin = 0, columnEnd = 0;
  float u0 = 0.0f, v0 = 0.0f;  // at the first column and row
  float du = 0.0f, dv = 0.0f;  // per node column and row
};
// The coverage as the picture passes draw it; `lit` gives the lit pass's
// range, one row and column less, so that neighbouring tiles share exactly
// one row and column.
TileCoverage coverTile(const WaterSurface& surface, const TileSet& tiles, int row, int column, bool lit);

void drawFrame(Direct3DDevice8* device, WaterSurface& surface, FrameProfile* profile = nullptr);
// One picture pass: alphaOp is D3DTOP_SELECTARG1 for the lower picture,
// D3DTOP_MODULATE for the upper one (its alpha follows the blend field).
void drawPicture(Direct3DDevice8* device, WaterSurface& surface, const TileSet& tiles, D3DTEXTUREOP alphaOp,
                 FrameProfile* profile = nullptr);
// The lit pass: the light's specular term added to the frame; the tile set
// gives only its tiling.
void drawSpecular(Direct3DDevice8* device, WaterSurface& surface, const TileSet& tiles,
                  FrameProfile* profile = nullptr);

// The light and material: a directional light that tilts from straight down
// to 65 degrees in 5 s and then circles, and a specular colour that fades in
// (or fades between random colours every 20 s).  One per application,
// shared by all screens.
class LightState {
 public:
  static constexpr uint32_t kSpecularRandomColor = 16;

  // Advances by dt seconds and sets light 0 and the material.  The water
  // settings are read as they are now, not as the scene copied them.
  void update(Direct3DDevice8* device, float dt, uint32_t waterFlags, COLORREF specularColor, int specularPower);

  float yaw = 0.0f;
  float pitch = 90.0f;
  float colourTimer = 20.1f;
  float previousColour[3] = {0.0f, 0.0f, 0.0f};
  float currentColour[3] = {0.0f, 0.0f, 0.0f};
  // Fade-in of the fixed specular colour, from 0 at the start of the run.
  float fadeIn = 0.0f;
};
