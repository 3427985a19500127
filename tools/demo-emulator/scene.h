// The demo emulator's synthetic scene: tile layers and sprites drawn in software into a
// 1280x1024 frame buffer of 32-bit pixels, with a scaling and filtering step for Direct3D.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace velotrax::demo {

inline constexpr int kScreenWidth = 1280;
inline constexpr int kScreenHeight = 1024;

// How much a game draws each frame; derived from its rom name so that games differ.
struct SceneShape {
  int tile_size = 16;    // 8 or 16 pixels
  int layers = 1;        // 1 to 3 tile layers, the first opaque
  int sprites = 64;      // moving sprites over the layers
  int sprite_size = 16;  // 16 or 32 pixels
  uint32_t seed = 0;     // for the tile and sprite pictures
};

SceneShape ShapeForGame(std::string_view rom);

class Scene {
 public:
  Scene(const SceneShape& shape, bool direct3d);

  // Draws frame number `frame` and presents it.
  void RenderFrame(int frame);
  // A checksum of what has been presented so far; keeps the drawing honest.
  uint32_t Checksum() const { return checksum_; }
  const std::vector<uint32_t>& Presented() const { return presented_; }

 private:
  struct Sprite {
    int x, y, dx, dy, picture;
  };

  void DrawOpaqueLayer(int scroll_x, int scroll_y);
  void DrawTransparentLayer(int layer, int scroll_x, int scroll_y);
  void DrawSprites(int frame);
  void PresentDirect();
  void PresentScaledFiltered(int frame);

  SceneShape shape_;
  bool direct3d_;
  int map_columns_, map_rows_;
  std::vector<uint32_t> tiles_;  // 256 tiles per layer, pixel 0 transparent
  std::vector<uint8_t> maps_;    // one map of tile numbers per layer
  std::vector<uint32_t> sprite_pictures_;
  std::vector<Sprite> sprites_;
  std::vector<uint32_t> frame_buffer_;
  std::vector<uint32_t> presented_;
  std::vector<uint32_t> blended_row_, column_source_, column_weight_;  // scaling scratch
  uint32_t checksum_ = 0;
};

}  // namespace velotrax::demo
