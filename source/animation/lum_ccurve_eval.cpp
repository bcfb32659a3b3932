// CCurve: the value of a curve at a time, and the sample times of a piecewise-linear copy (see
// lum_ccurve.h; the formulas are in doc/animation.md).
#include <cmath>

#include "animation/lum_ccurve.h"
#include "animation/lum_curvemath.h"

namespace lumora {

namespace {

// Sample times between keys lie on a grid of this many steps per second.
constexpr Float kGrid = 1000000.0;
// At most this many sample times: a curve that would need more (a tolerance far below its
// values' scale) is refused rather than filling the memory.
constexpr Int32 kMaxSamples = 1 << 24;

const GeData kEmptyData;

const GeData& EmptyData() { return kEmptyData; }

// Bit 40 read from its word directly: the evaluation's hot path makes no virtual call for it.
bool Skipped(const CKey* key) {
  return (key->GetNBitWord(CKEY_BIT_SKIPNEIGHBOUR >> 5) & (1u << (CKEY_BIT_SKIPNEIGHBOUR & 31))) !=
         0;
}

// The value of the segment from left to right at t seconds.
Float SegmentValue(const CKey& left, const CKey& right, Float t) {
  const Float t0 = left.GetTime().Get();
  const Float t1 = right.GetTime().Get();
  const Float v0 = left.GetValue();
  const Float span = t1 - t0;
  // Two keys whose times differ by less than a double resolves: nothing lies between them.
  if (left.GetInterpolation() == CINTERPOLATION_STEP || !(span > 0.0)) return v0;
  const Float u = curvemath::Clamp01((t - t0) / span);
  if (left.GetInterpolation() == CINTERPOLATION_LINEAR) return v0 + (right.GetValue() - v0) * u;
  return curvemath::MakeSegment(left, right).ValueAt(u);
}

// The largest grid time strictly below t, in grid steps.
Float GridStepBefore(Float seconds) { return std::ceil(seconds * kGrid) - 1.0; }

// Appends the grid times strictly inside bezier's time span at which a straight-line copy
// needs a sample to stay within tolerance. The curve of bezier lies in the hull of its four
// points, so its distance from the chord is at most the larger distance of the two inner
// points: splitting stops once that is within tolerance, or at the grid's resolution.
bool Subdivide(const curvemath::Bezier& bezier, Float tolerance, BaseArray<BaseTime>& times) {
  // A piece whose values are not finite has no line to follow: it is not split.
  const Float distance = bezier.ChordDistance();
  if (distance <= tolerance || !std::isfinite(distance)) return true;
  if (times.GetCount() >= kMaxSamples) return false;
  const Float ta = bezier.p[0].x, tb = bezier.p[3].x;
  const Float step = std::floor((ta + tb) * 0.5 * kGrid + 0.5);
  const Float tm = step / kGrid;
  if (!(tm > ta && tm < tb)) return true;
  curvemath::Bezier left, right;
  bezier.SplitAtTime(tm, left, right);
  return Subdivide(left, tolerance, times) && times.Append(BaseTime(step, kGrid)) &&
         Subdivide(right, tolerance, times);
}

// Appends a time just before t (on the grid) when it lies after the last time appended.
bool AppendBefore(const BaseTime& t, BaseArray<BaseTime>& times) {
  const Float step = GridStepBefore(t.Get());
  const BaseTime before(step, kGrid);
  if (times.GetCount() > 0 && !(times[times.GetCount() - 1] < before)) return true;
  return !(before < t) || times.Append(before);
}

}  // namespace

Int32 CCurve::SearchAtOrBefore(const BaseTime& t) const {
  Int32 index = -1;
  FindKey(t, &index, FINDANIM_LEFT);
  if (index < 0) return -1;
  const Int32 count = _index.GetCount();
  while (index + 1 < count && _index[index + 1].time <= t) ++index;
  return index;
}

Int32 CCurve::ActiveFrom(Int32 from) const {
  for (Int32 i = from < 0 ? 0 : from; i < _index.GetCount(); ++i)
    if (!Skipped(_index[i].key)) return i;
  return -1;
}

namespace {

// Asks for the cache lines of a key the evaluation reads (its bit words, and its time, value,
// tangents and interpolation) at once: in a large curve they are seldom in the cache, and the
// misses of both keys of a segment then overlap instead of following one another.
void PrefetchKey(const CKey* key) {
  __builtin_prefetch(key->GetNBitWords());
  __builtin_prefetch(&key->GetTime());
  __builtin_prefetch(&key->GetTimeRight());
}

}  // namespace

void CCurve::FindSegment(const BaseTime& t, const CKey** left, const CKey** right) const {
  *left = *right = nullptr;
  Int32 at = SearchAtOrBefore(t);
  if (at >= 0) PrefetchKey(_index[at].key);
  if (at + 1 < _index.GetCount()) PrefetchKey(_index[at + 1].key);
  while (at >= 0 && Skipped(_index[at].key)) --at;
  const Int32 next = ActiveFrom(at + 1);
  if (at >= 0) *left = _index[at].key;
  if (next >= 0) *right = _index[next].key;
}

Float CCurve::GetValue(const BaseTime& t) const {
  const CKey* left = nullptr;
  const CKey* right = nullptr;
  FindSegment(t, &left, &right);
  if (left == nullptr) return right != nullptr ? right->GetValue() : 0.0;
  if (right == nullptr) return left->GetValue();
  return SegmentValue(*left, *right, t.Get());
}

const GeData& CCurve::GetGeData(const BaseTime& t) const {
  const CKey* left = nullptr;
  const CKey* right = nullptr;
  FindSegment(t, &left, &right);
  if (left != nullptr) return left->GetGeData();
  return right != nullptr ? right->GetGeData() : EmptyData();
}

Bool SampleCurve(const CCurve* curve, Float tolerance, BaseArray<BaseTime>& times) {
  times.Flush();
  if (curve == nullptr || !(tolerance > 0.0)) return false;
  const CKey* prev = nullptr;
  bool ok = true;
  for (Int32 i = 0; ok && i < curve->GetKeyCount(); ++i) {
    const CKey* key = curve->GetKey(i);
    if (Skipped(key)) continue;
    if (prev == nullptr) {
      ok = times.Append(key->GetTime());
    } else if (prev->GetTime() < key->GetTime()) {
      const bool step = prev->GetInterpolation() == CINTERPOLATION_STEP;
      if (!step && prev->GetInterpolation() != CINTERPOLATION_LINEAR)
        ok = Subdivide(curvemath::MakeSegment(*prev, *key).ToBezier(), tolerance, times);
      // The line into the key must end at the value the curve takes there; where the segment
      // arrives elsewhere (a step, or a later key at the same time), the curve jumps.
      const Float arrival = step ? prev->GetValue() : key->GetValue();
      if (ok && arrival != curve->GetValue(key->GetTime()))
        ok = AppendBefore(key->GetTime(), times);
      ok = ok && times.Append(key->GetTime());
    }
    prev = key;
  }
  if (!ok) times.Flush();
  return ok;
}

}  // namespace lumora
