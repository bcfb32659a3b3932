// The shape of a spline segment between two keys, for the curve's evaluation and sampling.
//
// A segment is the cubic Bezier through (t0, v0), (t0 + tr, v0 + vr), (t1 + tl, v1 + vl) and
// (t1, v1), where tr, vr are the left key's right tangent and tl, vl the right key's left
// tangent. A time handle is clamped to the segment (0 <= tr <= t1 - t0, likewise tl), so the
// time along the curve never runs backwards; a handle shortened that way has its value offset
// scaled by the same factor, so the slope at the key is kept. The segment's parameter for a
// time is found by Newton's method inside a shrinking bracket, which converges whatever the
// handles (the time is monotone in the parameter once the handles are clamped).
#ifndef LUM_CURVEMATH_H
#define LUM_CURVEMATH_H

#include <cmath>

#include "animation/lum_ckey.h"

namespace lumora {
namespace curvemath {

inline Float Clamp01(Float u) { return u > 0.0 ? (u < 1.0 ? u : 1.0) : 0.0; }

// The parameter s in [0, 1] at which the normalised time 3a s(1-s)^2 + 3b s^2(1-s) + s^3
// reaches u (0 <= a, b <= 1; u in [0, 1]).
inline Float SolveParameter(Float a, Float b, Float u) {
  const Float c1 = 3.0 * a, c2 = 3.0 * b - 6.0 * a, c3 = 1.0 - 3.0 * b + 3.0 * a;
  Float lo = 0.0, hi = 1.0, s = u;
  for (Int32 i = 0; i < 64; ++i) {
    const Float x = ((c3 * s + c2) * s + c1) * s - u;
    if (x == 0.0 || hi - lo <= 1e-15) break;
    if (x < 0.0) {
      lo = s;
    } else {
      hi = s;
    }
    const Float slope = (3.0 * c3 * s + 2.0 * c2) * s + c1;
    Float next = slope > 0.0 ? s - x / slope : lo;
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    if (next == s) break;
    s = next;
  }
  return s;
}

struct Point {
  Float x, y;
};

inline Point Lerp(const Point& p, const Point& q, Float s) {
  return {p.x + (q.x - p.x) * s, p.y + (q.y - p.y) * s};
}

// A cubic Bezier in (seconds, value), for sampling.
struct Bezier {
  Point p[4];

  // An upper bound of the vertical distance of the curve from its chord: the curve lies in the
  // hull of its four points, and that distance is affine in the point.
  Float ChordDistance() const {
    const Float dx = p[3].x - p[0].x;
    if (!(dx > 0.0)) return 0.0;
    const Float slope = (p[3].y - p[0].y) / dx;
    const Float d1 = p[1].y - (p[0].y + (p[1].x - p[0].x) * slope);
    const Float d2 = p[2].y - (p[0].y + (p[2].x - p[0].x) * slope);
    return std::fmax(std::fabs(d1), std::fabs(d2));
  }

  // Splits at the point whose time is t (inside the span): left ends and right starts there.
  void SplitAtTime(Float t, Bezier& left, Bezier& right) const {
    const Float dx = p[3].x - p[0].x;
    const Float s =
        SolveParameter((p[1].x - p[0].x) / dx, (p[2].x - p[0].x) / dx, Clamp01((t - p[0].x) / dx));
    const Point p01 = Lerp(p[0], p[1], s), p12 = Lerp(p[1], p[2], s), p23 = Lerp(p[2], p[3], s);
    const Point p012 = Lerp(p01, p12, s), p123 = Lerp(p12, p23, s);
    Point mid = Lerp(p012, p123, s);
    mid.x = t;
    left = Bezier{{p[0], p01, p012, mid}};
    right = Bezier{{mid, p123, p23, p[3]}};
  }
};

// A spline segment with its handles clamped, its time normalised to [0, 1].
struct Segment {
  Float t0, span;        // seconds
  Float a, b;            // the handles' times, as fractions of the span
  Float y0, y1, y2, y3;  // the values of the four points

  // The value at the normalised time u.
  Float ValueAt(Float u) const {
    const Float s = SolveParameter(a, b, u);
    const Float r = 1.0 - s;
    return r * r * (r * y0 + 3.0 * s * y1) + s * s * (3.0 * r * y2 + s * y3);
  }

  Bezier ToBezier() const {
    return Bezier{{{t0, y0}, {t0 + a * span, y1}, {t0 + b * span, y2}, {t0 + span, y3}}};
  }
};

// A handle reaching time seconds (from its key, towards the other key) with value offset value,
// clamped to a segment of span seconds.
inline void ClampHandle(Float& time, Float& value, Float span) {
  if (time > span) {
    value *= span / time;
    time = span;
  } else if (!(time >= 0.0)) {
    time = 0.0;
  }
}

inline Segment MakeSegment(const CKey& left, const CKey& right) {
  Segment g;
  g.t0 = left.GetTime().Get();
  g.span = right.GetTime().Get() - g.t0;
  Float reachRight = left.GetTimeRight().Get(), valueRight = left.GetValueRight();
  Float reachLeft = -right.GetTimeLeft().Get(), valueLeft = right.GetValueLeft();
  ClampHandle(reachRight, valueRight, g.span);
  ClampHandle(reachLeft, valueLeft, g.span);
  const bool open = g.span > 0.0;
  g.a = open ? reachRight / g.span : 0.0;
  g.b = open ? 1.0 - reachLeft / g.span : 1.0;
  g.y0 = left.GetValue();
  g.y1 = g.y0 + valueRight;
  g.y3 = right.GetValue();
  g.y2 = g.y3 + valueLeft;
  return g;
}

}  // namespace curvemath
}  // namespace lumora

#endif  // LUM_CURVEMATH_H
