// The parts of IESLight its files share: the constants of the photometric record, the tables
// being read, and the helpers of the angle grids that both the evaluation and the resampling
// of type A and B files use. Private to source/lights; file-local and inline, as they were when
// IESLight was one file (the intensity is evaluated per sample of the power ratio).
#ifndef LUMORA_LIGHTS_LUM_IESLIGHT_PRIVATE_H_
#define LUMORA_LIGHTS_LUM_IESLIGHT_PRIVATE_H_

#include "lights/lum_ieslight.h"
#include "lum_memory.h"

namespace lumora {
namespace {

constexpr Float kPi = 3.14159265358979323846;
constexpr Int32 kPowerSamples = 65536;
constexpr Int32 kPowerSeed = 117641;
constexpr Float kFoot = 0.3048;

// The smallest stored size of one number of a record: a kind byte and a 32-bit float
// (version 4), a kind byte and a 64-bit float (older versions).
constexpr Int64 kMinFloatBytes = 5;
constexpr Int64 kMinFloat64Bytes = 9;

// The arrays of a record being read; freed unless handed over.
struct Tables {
  Float* vertical = nullptr;
  Float* horizontal = nullptr;
  Float* candela = nullptr;
  ~Tables() {
    DeleteMem(vertical);
    DeleteMem(horizontal);
    DeleteMem(candela);
  }
};

// A number of the file truncated to int32; -1 when it does not fit (the callers reject
// negative counts anyway).
inline Int32 TruncateCount(Float v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return -1;
  return static_cast<Int32>(v);
}

// The luminous opening from the width, length and height of the file (exact comparisons).
inline void ClassifyOpening(Float w, Float l, Float h, Int32* shape, Vector64* size) {
  const int sw = w > 0 ? 1 : (w < 0 ? -1 : 0);
  const int sl = l > 0 ? 1 : (l < 0 ? -1 : 0);
  const int sh = h > 0 ? 1 : (h < 0 ? -1 : 0);
  struct Row {
    int w, l, h;
    Int32 shape;
  };
  // Sign patterns of (W, L, H) and their shape; the sizes follow below.
  static constexpr Row kRows[] = {
      {0, 0, 0, -1}, {1, 1, 0, 1},   {1, 0, 1, 1},   {0, 1, 1, 1},   {1, 1, 1, 4},
      {-1, 0, 0, 0}, {-1, 0, -1, 2}, {-1, 0, 1, 3},  {0, 1, -1, 8},  {1, 0, -1, 8},
      {-1, 1, 1, 0}, {1, -1, 1, 0},  {-1, 1, -1, 2}, {1, -1, -1, 2},
  };
  const Vector64 sizes[] = {
      {0, 0, 0},   {w, l, 0},   {w, h, 0},   {h, l, 0},  {w, l, h},  {-w, -w, -w}, {-w, -w, -w},
      {-w, -w, h}, {l, -h, -h}, {w, -h, -h}, {-w, l, 0}, {w, -l, 0}, {-w, l, -h},  {w, -l, -h},
  };
  for (size_t i = 0; i < sizeof kRows / sizeof kRows[0]; ++i) {
    if (kRows[i].w == sw && kRows[i].l == sl && kRows[i].h == sh) {
      *shape = kRows[i].shape;
      *size = sizes[i];
      return;
    }
  }
  *shape = -1;
  *size = Vector64(0, 0, 0);
}

inline bool Ascending(const Float* a, Int32 n) {
  for (Int32 i = 0; i + 1 < n; ++i) {
    if (!(a[i] <= a[i + 1])) return false;
  }
  return true;
}

// The first i in 0 .. n-2 for which above(i + 1) holds, or -1. above must hold for every
// index from the first one on that it holds for when ascending is set (bisection then).
template <typename Above>
inline Int32 FirstInterval(Int32 n, bool ascending, Above above) {
  if (n < 2) return -1;
  if (!ascending) {
    for (Int32 i = 0; i + 1 < n; ++i) {
      if (above(i + 1)) return i;
    }
    return -1;
  }
  // Bisection without branches on the data (the directions of the power ratio are random, so
  // every branch on them would be mispredicted half the time).
  Int32 lo = 0, count = n - 1;
  while (count > 1) {
    const Int32 half = count / 2;
    lo = above(lo + half) ? lo : lo + half;
    count -= half;
  }
  lo += above(lo + 1) ? 0 : 1;
  return lo < n - 1 ? lo : -1;
}

// The value of a table row between vertical indices i0 and i1 at weight t: a cubic whose
// tangents come from the neighbouring angles (w below i0, k above i1).
inline Float HermiteRowValue(const Float* v, Int32 nv, const Float* row, Int32 i0, Int32 i1,
                             Float t) {
  const Float d = v[i1] - v[i0];
  const Int32 w = i0 < 1 ? 0 : std::min(nv - 1, i0 - 1);
  const Int32 k = i1 < -1 ? 0 : std::min(nv - 1, i1 + 1);
  const Float da = v[i1] - v[w];
  const Float db = v[k] - v[i0];
  const Float a = da > 0 ? d * (row[i1] - row[w]) / da : 0.0;
  const Float b = db > 0 ? d * (row[k] - row[i0]) / db : 0.0;
  const Float delta = row[i1] - row[i0];
  return row[i0] + a * t + (3 * delta - 2 * a - b) * t * t + (a + b - 2 * delta) * t * t * t;
}

inline Float* AllocFloats(Int64 count) {
  if (count <= 0) return nullptr;
  return static_cast<Float*>(MemAllocNC(count * static_cast<Int64>(sizeof(Float))));
}

}  // namespace
}  // namespace lumora

#endif  // LUMORA_LIGHTS_LUM_IESLIGHT_PRIVATE_H_
