#include "scene/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "platform/crtrand.h"

namespace {

constexpr float kQuarterTurn = 1.5707964f;     // the camera's tilt: straight down
constexpr float kHalfFieldAngle = 0.7853982f;  // 45 degrees each side
constexpr float kNearFactor = 0.8f, kFarFactor = 1.2f;
constexpr float kFrameWidthFactor = 0.02f;  // the black frame: 2 % of the width
constexpr uint32_t kBlack = 0xFF000000u;
// 1.5 texels: where a tile after the first starts sampling, inside its
// transparent ring and its overlap with the previous tile.
constexpr float kTileInset = 0.005859375f;
constexpr float kTexels = 256.0f;
constexpr float kDegrees = 0.017453292f;

// Adds the processor time of this thread since its start to a profile
// field, when there is one (processor time, so that other programs on a
// busy machine do not count).
class Span {
 public:
  explicit Span(double* field) : field_(field) {
    if (field_) start_ = threadSeconds();
  }
  ~Span() {
    if (field_) *field_ += threadSeconds() - start_;
  }
  Span(const Span&) = delete;
  Span& operator=(const Span&) = delete;

 private:
  double* field_;
  double start_ = 0.0;
};

// The scratch buffers hold whatever layout a pass draws; vertices are
// copied in as bytes.
template <class Vertex>
void putVertex(uint8_t* scratch, size_t index, const Vertex& vertex) {
  std::memcpy(scratch + index * sizeof(Vertex), &vertex, sizeof(Vertex));
}

// Two triangles per quad of a rows x columns grid, wound so that clockwise
// culling keeps them.
UINT buildGridIndices(uint16_t* indices, int rows, int columns) {
  size_t at = 0;
  for (int r = 0; r + 1 < rows; ++r) {
    for (int c = 0; c + 1 < columns; ++c) {
      const uint16_t k = static_cast<uint16_t>(r * columns + c);
      const uint16_t n = static_cast<uint16_t>(columns);
      indices[at++] = k;
      indices[at++] = static_cast<uint16_t>(k + n + 1);
      indices[at++] = static_cast<uint16_t>(k + 1);
      indices[at++] = k;
      indices[at++] = static_cast<uint16_t>(k + n);
      indices[at++] = static_cast<uint16_t>(k + n + 1);
    }
  }
  return static_cast<UINT>(at / 3);
}

// The states the picture passes and the lit pass share.
void setPictureStates(Direct3DDevice8* device, const WaterSurface& surface, D3DTEXTUREOP alphaOp) {
  device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  device->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, alphaOp);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  // Running back the other way, the upper picture fades out where the
  // blend rises, so it takes the complement of the vertex alpha.
  const bool complement = surface.blendDirection() == 2 && alphaOp == D3DTOP_MODULATE;
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, complement ? (D3DTA_CURRENT | D3DTA_COMPLEMENT) : D3DTA_CURRENT);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
}

// Half a pixel in grid units: puts texel centres on pixel centres.
float halfPixel(const WaterSurface& surface) {
  return -0.5f * surface.widthUnits() / static_cast<float>(surface.screenWidth());
}

}  // namespace

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void Camera::build(float widthUnits, float aspect) {
  D3DXMatrixIdentity(&world);
  eye = D3DXVECTOR3(0.0f, widthUnits * 0.5f, 0.0f);
  D3DXMatrixRotationX(&camera, -kQuarterTurn);
  camera._41 = eye.x;
  camera._42 = eye.y;
  camera._43 = eye.z;
  D3DXMatrixInverse(&view, nullptr, &camera);
  const float zn = widthUnits * 0.5f * kNearFactor;
  const float r = std::tan(kHalfFieldAngle) * zn;
  const float t = r / aspect;
  const float zf = widthUnits * 0.5f * kFarFactor;
  D3DXMatrixPerspectiveOffCenterRH(&projection, -r, r, -t, t, zn, zf);
}

void Camera::apply(Direct3DDevice8* device) const {
  device->SetTransform(D3DTS_PROJECTION, &projection);
  device->SetTransform(D3DTS_WORLD, &world);
  device->SetTransform(D3DTS_VIEW, &view);
}

TileCoverage coverTile(const WaterSurface& surface, const TileSet& tiles, int row, int column, bool lit) {
  TileCoverage t;
  const float py = static_cast<float>(tiles.canvasHeight()) / surface.heightUnits();
  const float px = static_cast<float>(tiles.canvasWidth()) / surface.widthUnits();
  const float step = static_cast<float>(TileSet::kTileStep);

  const float bottom =
      (step * static_cast<float>(row) + 254.5f - static_cast<float>(tiles.topPad())) / py + surface.rowOffset();
  const float top = row == 0 ? surface.rowOffset() : bottom - step / py;
  const float right =
      (step * static_cast<float>(column) + 254.5f - static_cast<float>(tiles.leftPad())) / px + surface.colOffset();
  const float left = column == 0 ? surface.colOffset() : right - step / px;

  t.rowBegin = static_cast<int>(top);
  t.columnBegin = static_cast<int>(left);
  const int trim = lit ? 1 : 0;
  t.rowEnd = std::min(static_cast<int>(bottom) + 2, surface.rows()) - trim;
  t.columnEnd = std::min(static_cast<int>(right) + 2, surface.cols()) - trim;

  const float fy = (top - static_cast<float>(t.rowBegin)) * py;
  const float fx = (left - static_cast<float>(t.columnBegin)) * px;
  t.v0 = row == 0 ? (static_cast<float>(tiles.topPad()) - fy) / kTexels : kTileInset - fy / kTexels;
  t.u0 = column == 0 ? (static_cast<float>(tiles.leftPad()) - fx) / kTexels : kTileInset - fx / kTexels;
  t.dv = py / kTexels;
  t.du = px / kTexels;
  return t;
}

void drawFrame(Direct3DDevice8* device, WaterSurface& surface, FrameProfile* profile) {
  if (!device || surface.empty()) return;
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
  device->SetVertexShader(kFrameFvf);

  auto* vertices = reinterpret_cast<uint8_t*>(surface.vertexScratch());
  uint16_t* indices = surface.indexScratch();
  {
    Span span(profile ? &profile->buildSeconds : nullptr);
    const float b = surface.widthUnits() * 0.5f;
    const float e = surface.heightUnits() * 0.5f;
    const float a = surface.widthUnits() * kFrameWidthFactor;
    const float corners[8][2] = {
        {-b, e}, {b, e}, {-b, -e}, {b, -e}, {-(b - a), e - a}, {b - a, e - a}, {-(b - a), -(e - a)}, {b - a, -(e - a)}};
    for (size_t i = 0; i < 8; ++i) putVertex(vertices, i, FrameVertex{corners[i][0], 0.0f, corners[i][1], kBlack});
    static constexpr uint16_t kFrameIndices[24] = {0, 1, 5, 0, 5, 4, 1, 3, 7, 1, 7, 5,
                                                   3, 2, 6, 3, 6, 7, 2, 0, 4, 2, 4, 6};
    std::memcpy(indices, kFrameIndices, sizeof kFrameIndices);
  }
  device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 8, 8, indices, D3DFMT_INDEX16, vertices, sizeof(FrameVertex));
}

void drawPicture(Direct3DDevice8* device, WaterSurface& surface, const TileSet& tiles, D3DTEXTUREOP alphaOp,
                 FrameProfile* profile) {
  if (!device || surface.empty() || !tiles.hasPicture()) return;
  setPictureStates(device, surface, alphaOp);
  device->SetVertexShader(kPictureFvf);

  const int width = surface.cols();
  const float delta = halfPixel(surface);
  const SurfaceVertex* grid = surface.vertices();
  const BlendNode* blend = surface.blendNodes();
  auto* vertices = reinterpret_cast<uint8_t*>(surface.vertexScratch());
  uint16_t* indices = surface.indexScratch();

  for (int i = 0; i < tiles.pictureRows(); ++i) {
    for (int j = 0; j < tiles.pictureCols(); ++j) {
      device->SetTexture(0, tiles.tileTexture(i, j));
      const TileCoverage t = coverTile(surface, tiles, i, j, false);
      const int rows = t.rowEnd - t.rowBegin, columns = t.columnEnd - t.columnBegin;
      if (rows < 2 || columns < 2) continue;
      UINT primitives = 0;
      {
        Span span(profile ? &profile->buildSeconds : nullptr);
        size_t at = 0;
        float v = t.v0;
        for (int r = t.rowBegin; r < t.rowEnd; ++r, v += t.dv) {
          float u = t.u0;
          for (int c = t.columnBegin; c < t.columnEnd; ++c, u += t.du) {
            const int node = r * width + c;
            putVertex(vertices, at++,
                      PictureVertex{grid[node].x + delta, 0.0f, grid[node].z + delta, blend[node].colour, u, v});
          }
        }
        primitives = buildGridIndices(indices, rows, columns);
      }
      device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(rows * columns), primitives, indices,
                                     D3DFMT_INDEX16, vertices, sizeof(PictureVertex));
    }
  }
}

void drawSpecular(Direct3DDevice8* device, WaterSurface& surface, const TileSet& tiles, FrameProfile* profile) {
  if (!device || surface.empty() || !tiles.hasPicture()) return;
  setPictureStates(device, surface, D3DTOP_MODULATE);
  device->SetRenderState(D3DRS_LIGHTING, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  device->SetVertexShader(kLitFvf);

  const int width = surface.cols();
  const float delta = halfPixel(surface);
  const float halfWidth = surface.widthUnits() * 0.5f, halfHeight = surface.heightUnits() * 0.5f;
  const SurfaceVertex* grid = surface.vertices();
  SurfaceVertex* vertices = surface.vertexScratch();
  uint16_t* indices = surface.indexScratch();

  // Running counts over the whole picture: neighbouring tiles share one
  // row or column, counted once.
  int rowStart = 0;
  for (int i = 0; i < tiles.pictureRows(); ++i) {
    int columnStart = 0;
    int rowsOfThisTileRow = 0;
    for (int j = 0; j < tiles.pictureCols(); ++j) {
      device->SetTexture(0, nullptr);
      const TileCoverage t = coverTile(surface, tiles, i, j, true);
      const int rows = t.rowEnd - t.rowBegin, columns = t.columnEnd - t.columnBegin;
      rowsOfThisTileRow = rows;
      if (rows < 2 || columns < 2) {
        columnStart += std::max(columns - 1, 0);
        continue;
      }
      UINT primitives = 0;
      {
        Span span(profile ? &profile->buildSeconds : nullptr);
        size_t at = 0;
        float v = t.v0;
        for (int r = 0; r < rows; ++r, v += t.dv) {
          float u = t.u0;
          const float z = static_cast<float>(rowStart + r) - halfHeight + delta;
          const SurfaceVertex* node = grid + (t.rowBegin + r) * width + t.columnBegin;
          for (int c = 0; c < columns; ++c, u += t.du, ++node) {
            SurfaceVertex& out = vertices[at++];
            out.x = static_cast<float>(columnStart + c) - halfWidth + delta;
            out.y = node->y;
            out.z = z;
            out.nx = node->nx;
            out.ny = node->ny;
            out.nz = node->nz;
            out.diffuse = kBlack;
            out.u = u;
            out.v = v;
          }
        }
        primitives = buildGridIndices(indices, rows, columns);
      }
      device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(rows * columns), primitives, indices,
                                     D3DFMT_INDEX16, vertices, sizeof(SurfaceVertex));
      columnStart += columns - 1;
    }
    rowStart += std::max(rowsOfThisTileRow - 1, 0);
  }
}

void LightState::update(Direct3DDevice8* device, float dt, uint32_t waterFlags, COLORREF specularColor,
                        int specularPower) {
  if (dt > 0.3f) dt = 0.3f;
  yaw += 2.03f * dt;
  if (yaw > 360.0f) yaw -= 360.0f;
  pitch -= 5.0f * dt;
  if (pitch < 65.0f) pitch = 65.0f;

  D3DLIGHT8 light;
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  light.Specular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  light.Ambient = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
  const float p = pitch * kDegrees, y = yaw * kDegrees;
  light.Direction = D3DVECTOR(std::cos(p) * std::cos(y), -std::sin(p), std::cos(p) * std::sin(y));
  if (device) {
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
  }

  colourTimer += dt;
  if (colourTimer > 20.0f) {
    colourTimer = 0.0f;
    for (int c = 0; c < 3; ++c) previousColour[c] = currentColour[c];
    for (int c = 0; c < 3; ++c) currentColour[c] = static_cast<float>(platform::rand()) * 3.0212403e-5f;
  }

  D3DMATERIAL8 material;
  material.Diffuse = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
  material.Ambient = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
  material.Emissive = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
  material.Specular.a = 1.0f;
  material.Power = static_cast<float>((101 - specularPower) * 10);
  float colour[3];
  if (waterFlags & kSpecularRandomColor) {
    const float k = colourTimer * 0.05f;
    for (int c = 0; c < 3; ++c) colour[c] = (1.0f - k) * previousColour[c] + k * currentColour[c];
  } else {
    if (fadeIn < 0.999f) fadeIn += dt * 0.05f;
    if (fadeIn > 1.0f) fadeIn = 1.0f;
    const uint32_t bytes[3] = {specularColor & 0xFFu, (specularColor >> 8) & 0xFFu, (specularColor >> 16) & 0xFFu};
    for (int c = 0; c < 3; ++c) colour[c] = fadeIn * static_cast<float>(bytes[c]) / 256.0f;
  }
  material.Specular.r = colour[0];
  material.Specular.g = colour[1];
  material.Specular.b = colour[2];
  if (device) device->SetMaterial(&material);
}
