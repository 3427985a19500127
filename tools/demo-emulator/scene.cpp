#include "tools/demo-emulator/scene.h"

#include <algorithm>
#include <cstring>

namespace velotrax::demo {

namespace {

constexpr int kTilesPerLayer = 256;
constexpr int kSpritePictures = 16;

// A small, fast generator; the scene must be the same on every run of a game.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }

 private:
  uint32_t state_;
};

uint32_t NameHash(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// An opaque colour from the game's palette; never 0, which marks a transparent pixel.
uint32_t PaletteColour(Random& random, int shade) {
  const uint32_t base = random.Next();
  const uint32_t r = ((base & 0xFF) * static_cast<uint32_t>(shade)) >> 8;
  const uint32_t g = (((base >> 8) & 0xFF) * static_cast<uint32_t>(shade)) >> 8;
  const uint32_t b = (((base >> 16) & 0xFF) * static_cast<uint32_t>(shade)) >> 8;
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// Linear blend of two pixels by weight/256 of the second, two channels at a time.
inline uint32_t Blend(uint32_t p, uint32_t q, uint32_t weight) {
  const uint32_t keep = 256 - weight;
  const uint32_t red_blue = (((p & 0x00FF00FFu) * keep + (q & 0x00FF00FFu) * weight) >> 8);
  const uint32_t alpha_green =
      (((p >> 8) & 0x00FF00FFu) * keep + ((q >> 8) & 0x00FF00FFu) * weight);
  return (red_blue & 0x00FF00FFu) | (alpha_green & 0xFF00FF00u);
}

// Copies the non-transparent pixels of a span over the frame. Transparent pixels come in no
// predictable order, so each pixel is selected with a mask rather than branched on; spans of the
// usual tile and sprite widths get a loop of fixed length, which the compiler turns into vector
// code.
inline uint32_t OverlayPixel(uint32_t under, uint32_t over) {
  const uint32_t opaque = 0u - ((over | (0u - over)) >> 31);  // all ones unless over is 0
  return (over & opaque) | (under & ~opaque);
}

template <int kWidth>
inline void OverlayFixed(uint32_t* __restrict out, const uint32_t* __restrict in) {
  for (int i = 0; i < kWidth; ++i) out[i] = OverlayPixel(out[i], in[i]);
}

inline void Overlay(uint32_t* out, const uint32_t* in, int n) {
  switch (n) {
    case 8:
      return OverlayFixed<8>(out, in);
    case 16:
      return OverlayFixed<16>(out, in);
    case 32:
      return OverlayFixed<32>(out, in);
    default:
      for (int i = 0; i < n; ++i) out[i] = OverlayPixel(out[i], in[i]);
  }
}

// One row blended from two; the rows never overlap, which lets the compiler use vector code.
void BlendRows(uint32_t* __restrict out, const uint32_t* __restrict upper,
               const uint32_t* __restrict lower, uint32_t weight) {
  for (int x = 0; x < kScreenWidth; ++x) out[x] = Blend(upper[x], lower[x], weight);
}

// Walks the screen over a scrolled, wrapping tile map one run of a tile row at a time;
// put(out, in, n) draws the n pixels at `in` to `out`.
template <typename PutRun>
void DrawTileMap(uint32_t* frame_buffer, const uint8_t* map, int map_columns, int map_rows,
                 const uint32_t* tiles, int ts, int scroll_x, int scroll_y, PutRun put) {
  for (int y = 0; y < kScreenHeight; ++y) {
    const int map_row = ((y + scroll_y) / ts) % map_rows;
    const int tile_row = (y + scroll_y) % ts;
    uint32_t* out = &frame_buffer[static_cast<std::size_t>(y) * kScreenWidth];
    int map_column = (scroll_x / ts) % map_columns;
    int offset = scroll_x % ts;
    for (int x = 0; x < kScreenWidth;) {
      const int n = std::min(ts - offset, kScreenWidth - x);
      const int tile = map[map_row * map_columns + map_column];
      const uint32_t* in =
          &tiles[static_cast<std::size_t>(tile) * ts * ts + tile_row * ts + offset];
      put(out + x, in, n);
      x += n;
      offset = 0;
      map_column = (map_column + 1) % map_columns;
    }
  }
}

}  // namespace

SceneShape ShapeForGame(std::string_view rom) {
  const uint32_t hash = NameHash(rom);
  SceneShape shape;
  shape.tile_size = (hash & 1) ? 8 : 16;
  shape.layers = 1 + static_cast<int>((hash >> 1) % 3);
  shape.sprites = 24 + static_cast<int>((hash >> 3) % 12) * 16;
  shape.sprite_size = ((hash >> 8) & 1) ? 32 : 16;
  shape.seed = hash | 1;
  return shape;
}

Scene::Scene(const SceneShape& shape, bool direct3d)
    : shape_(shape),
      direct3d_(direct3d),
      map_columns_(2 * kScreenWidth / shape.tile_size),
      map_rows_(2 * kScreenHeight / shape.tile_size),
      frame_buffer_(static_cast<std::size_t>(kScreenWidth) * kScreenHeight),
      presented_(frame_buffer_.size()),
      blended_row_(kScreenWidth),
      column_source_(kScreenWidth),
      column_weight_(kScreenWidth) {
  Random random(shape_.seed);
  const int ts = shape_.tile_size;

  tiles_.resize(static_cast<std::size_t>(shape_.layers) * kTilesPerLayer * ts * ts);
  for (int layer = 0; layer < shape_.layers; ++layer) {
    for (int tile = 0; tile < kTilesPerLayer; ++tile) {
      uint32_t* pixels =
          &tiles_[(static_cast<std::size_t>(layer) * kTilesPerLayer + tile) * ts * ts];
      const uint32_t light = PaletteColour(random, 255);
      const uint32_t dark = PaletteColour(random, 120);
      const int pattern = random.Below(4);
      for (int y = 0; y < ts; ++y) {
        for (int x = 0; x < ts; ++x) {
          const bool on = pattern == 0   ? ((x ^ y) & 2) != 0
                          : pattern == 1 ? (x + y) % 5 < 2
                          : pattern == 2 ? (x * y) % 7 < 3
                                         : random.Below(3) == 0;
          uint32_t colour = on ? light : dark;
          // Upper layers let the ones below show through about half of their pixels.
          if (layer > 0 && !on && ((x + 2 * y + tile) & 1)) colour = 0;
          pixels[y * ts + x] = colour;
        }
      }
    }
  }

  maps_.resize(static_cast<std::size_t>(shape_.layers) * map_columns_ * map_rows_);
  for (uint8_t& cell : maps_) cell = static_cast<uint8_t>(random.Next() >> 24);

  const int ss = shape_.sprite_size;
  sprite_pictures_.resize(static_cast<std::size_t>(kSpritePictures) * ss * ss);
  for (int picture = 0; picture < kSpritePictures; ++picture) {
    const uint32_t body = PaletteColour(random, 255);
    const uint32_t edge = PaletteColour(random, 160);
    uint32_t* pixels = &sprite_pictures_[static_cast<std::size_t>(picture) * ss * ss];
    const int centre = ss / 2;
    for (int y = 0; y < ss; ++y) {
      for (int x = 0; x < ss; ++x) {
        const int d = (x - centre) * (x - centre) + (y - centre) * (y - centre);
        const int r = centre * centre;
        pixels[y * ss + x] = d > r ? 0 : d > r * 2 / 3 ? edge : body;
      }
    }
  }

  sprites_.resize(static_cast<std::size_t>(shape_.sprites));
  for (Sprite& sprite : sprites_) {
    sprite = {random.Below(kScreenWidth + ss), random.Below(kScreenHeight + ss),
              random.Below(9) - 4, random.Below(9) - 4, random.Below(kSpritePictures)};
  }
}

void Scene::DrawOpaqueLayer(int scroll_x, int scroll_y) {
  const int ts = shape_.tile_size;
  DrawTileMap(frame_buffer_.data(), maps_.data(), map_columns_, map_rows_, tiles_.data(), ts,
              scroll_x, scroll_y, [](uint32_t* out, const uint32_t* in, int n) {
                std::memcpy(out, in, static_cast<std::size_t>(n) * sizeof(uint32_t));
              });
}

void Scene::DrawTransparentLayer(int layer, int scroll_x, int scroll_y) {
  const int ts = shape_.tile_size;
  const uint8_t* map = &maps_[static_cast<std::size_t>(layer) * map_columns_ * map_rows_];
  const uint32_t* layer_tiles = &tiles_[static_cast<std::size_t>(layer) * kTilesPerLayer * ts * ts];
  DrawTileMap(frame_buffer_.data(), map, map_columns_, map_rows_, layer_tiles, ts, scroll_x,
              scroll_y, [](uint32_t* out, const uint32_t* in, int n) { Overlay(out, in, n); });
}

void Scene::DrawSprites(int frame) {
  const int ss = shape_.sprite_size;
  const int span_x = kScreenWidth + ss;
  const int span_y = kScreenHeight + ss;
  for (const Sprite& sprite : sprites_) {
    // Positions follow from the frame number, wrapping round the screen's edges.
    const int left = (((sprite.x + sprite.dx * frame) % span_x) + span_x) % span_x - ss;
    const int top = (((sprite.y + sprite.dy * frame) % span_y) + span_y) % span_y - ss;
    const uint32_t* picture = &sprite_pictures_[static_cast<std::size_t>(sprite.picture) * ss * ss];
    const int x0 = std::max(left, 0), x1 = std::min(left + ss, kScreenWidth);
    const int y0 = std::max(top, 0), y1 = std::min(top + ss, kScreenHeight);
    for (int y = y0; y < y1; ++y) {
      const uint32_t* in = picture + (y - top) * ss;
      uint32_t* out = &frame_buffer_[static_cast<std::size_t>(y) * kScreenWidth];
      Overlay(out + x0, in + (x0 - left), x1 - x0);
    }
  }
}

void Scene::PresentDirect() {
  std::memcpy(presented_.data(), frame_buffer_.data(), frame_buffer_.size() * sizeof(uint32_t));
}

void Scene::PresentScaledFiltered(int frame) {
  // Zooms a slightly smaller, slowly panning part of the frame onto the whole screen with
  // bilinear filtering, in 16.16 fixed point: each row pair is blended vertically first, then
  // the blended row horizontally.
  constexpr int kMarginX = 64, kMarginY = 52;
  const uint32_t step_x = (static_cast<uint32_t>(kScreenWidth - kMarginX) << 16) / kScreenWidth;
  const uint32_t step_y = (static_cast<uint32_t>(kScreenHeight - kMarginY) << 16) / kScreenHeight;
  const uint32_t origin_x = static_cast<uint32_t>(frame % (kMarginX / 2)) << 16;
  const uint32_t origin_y = static_cast<uint32_t>(frame % (kMarginY / 2)) << 16;
  for (int x = 0; x < kScreenWidth; ++x) {
    const uint32_t source_x = origin_x + static_cast<uint32_t>(x) * step_x;
    column_source_[static_cast<std::size_t>(x)] = source_x >> 16;
    column_weight_[static_cast<std::size_t>(x)] = (source_x >> 8) & 0xFF;
  }
  for (int y = 0; y < kScreenHeight; ++y) {
    const uint32_t source_y = origin_y + static_cast<uint32_t>(y) * step_y;
    const uint32_t* row0 = &frame_buffer_[(source_y >> 16) * kScreenWidth];
    const uint32_t* row1 = row0 + kScreenWidth;
    const uint32_t weight_y = (source_y >> 8) & 0xFF;
    BlendRows(blended_row_.data(), row0, row1, weight_y);
    uint32_t* out = &presented_[static_cast<std::size_t>(y) * kScreenWidth];
    for (int x = 0; x < kScreenWidth; ++x) {
      const uint32_t sx = column_source_[static_cast<std::size_t>(x)];
      out[x] = Blend(blended_row_[sx], blended_row_[sx + 1],
                     column_weight_[static_cast<std::size_t>(x)]);
    }
  }
}

void Scene::RenderFrame(int frame) {
  DrawOpaqueLayer(frame % (kScreenWidth * 2), (frame / 2) % (kScreenHeight * 2));
  for (int layer = 1; layer < shape_.layers; ++layer) {
    DrawTransparentLayer(layer, (frame * (layer + 1)) % (kScreenWidth * 2),
                         (frame * layer) % (kScreenHeight * 2));
  }
  DrawSprites(frame);
  if (direct3d_) {
    PresentScaledFiltered(frame);
  } else {
    PresentDirect();
  }

  const uint32_t* row =
      &presented_[static_cast<std::size_t>((frame * 7) % kScreenHeight) * kScreenWidth];
  uint32_t sum = 0;
  for (int x = 0; x < kScreenWidth; ++x) sum += row[x] * static_cast<uint32_t>(x + 1);
  checksum_ = checksum_ * 31u + sum;
}

}  // namespace velotrax::demo
