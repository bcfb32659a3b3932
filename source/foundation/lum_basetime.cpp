// BaseTime reduction and ordering, the calendar clock and the millisecond clock.
#include "foundation/lum_basetime.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "lum_debug.h"
#include "platform/lum_platform.h"

namespace lumora {
namespace {

// Below this (the largest float under 2^31) the members are reduced with integer arithmetic.
constexpr Float64 kIntegerLimit = 2147483520.0;

Int64 IntegerGcd(Int64 a, Int64 b) {
  // Binary (Stein's) algorithm: shifts and subtractions instead of a division per step, which
  // matters where every time read from a file is reduced.
  UInt64 u = static_cast<UInt64>(a), v = static_cast<UInt64>(b);
  if (u == 0 || v == 0) return static_cast<Int64>(u | v);
  const int shift = __builtin_ctzll(u | v);
  u >>= __builtin_ctzll(u);
  do {
    v >>= __builtin_ctzll(v);
    if (u > v) std::swap(u, v);
    v -= u;
  } while (v != 0);
  return static_cast<Int64>(u << shift);
}

// The same for two numbers from 1 to 2^31 - 1, without branches in the loop: the larger of the
// two is replaced by the difference, which the next step strips of its factors of two.
UInt32 SmallGcd(UInt32 u, UInt32 v) {
  const int shift = __builtin_ctz(u | v);
  u >>= __builtin_ctz(u);
  do {
    v >>= __builtin_ctz(v);
    const UInt32 low = std::min(u, v), high = std::max(u, v);
    u = low;
    v = high - low;
  } while (v != 0);
  return u << shift;
}

// Euclid on whole-numbered doubles; fmod is exact, so this is exact too. Returns the last
// divisor, the common divisor of a and b.
Float64 FloatGcd(Float64 a, Float64 b) {
  for (;;) {
    Float64 r = std::fmod(a, b);
    if (!(r >= 0.5)) return b;
    a = b;
    b = r;
  }
}

// Largest member a reduced fraction keeps.
constexpr UInt64 kMemberLimit = 1000000000000000000ull;  // 1e18

using U128 = unsigned __int128;

// Whether a * b < c * d for a, c below 2^128 and b, d below 2^64, compared exactly in 192 bits.
bool ProductLess(U128 a, UInt64 b, U128 c, UInt64 d) {
  struct Wide {
    UInt64 high;
    U128 low;
  };
  auto multiply = [](U128 x, UInt64 y) {
    const U128 low = static_cast<U128>(static_cast<UInt64>(x)) * y;
    const U128 high = static_cast<U128>(static_cast<UInt64>(x >> 64)) * y;
    // x * y = high * 2^64 + low; the sum's carry goes into the top word.
    const U128 mid = (low >> 64) + static_cast<UInt64>(high);
    return Wide{static_cast<UInt64>(high >> 64) + static_cast<UInt64>(mid >> 64),
                (mid << 64) | static_cast<UInt64>(low)};
  };
  const Wide left = multiply(a, b), right = multiply(c, d);
  return left.high != right.high ? left.high < right.high : left.low < right.low;
}

// A whole, finite double v >= 1 as odd * 2^shift.
void SplitWhole(Float64 v, UInt64* odd, Int32* shift) {
  int exponent = 0;
  const Float64 mantissa = std::frexp(v, &exponent);  // v = mantissa * 2^exponent, [0.5, 1)
  UInt64 m = static_cast<UInt64>(std::ldexp(mantissa, 53));
  Int32 e = exponent - 53;
  const int zeros = __builtin_ctzll(m);
  *odd = m >> zeros;
  *shift = e + zeros;
}

// The fraction p/q closest to n/d with p and q at most 1e18, for whole n, d >= 1 (n >= 0). The
// continued fraction of n/d is followed, exactly, until the next convergent would exceed the
// limit; the closest fraction is then the last convergent or the largest semiconvergent that
// still fits, whichever lies nearer (the two lie on either side of n/d). Ties keep the
// convergent.
void ClosestBoundedFraction(Float64 n, Float64 d, UInt64* p, UInt64* q) {
  // n/d exactly as num/den in 128 bits. Values whose numerator or denominator would not fit lie
  // far outside [1e-18, 1e18], where the answer is the limit itself or zero.
  UInt64 nOdd, dOdd;
  Int32 nShift, dShift;
  SplitWhole(n, &nOdd, &nShift);
  SplitWhole(d, &dOdd, &dShift);
  const Int32 shift = nShift - dShift;
  const Int32 nBits = 64 - __builtin_clzll(nOdd), dBits = 64 - __builtin_clzll(dOdd);
  if (shift > 0 && nBits + shift > 126) {  // n/d >= 2^(125 - 53)
    *p = kMemberLimit;
    *q = 1;
    return;
  }
  if (shift < 0 && dBits - shift > 126) {  // n/d < 2^(53 - 125)
    *p = 0;
    *q = 1;
    return;
  }
  U128 num = static_cast<U128>(nOdd) << (shift > 0 ? shift : 0);
  U128 den = static_cast<U128>(dOdd) << (shift < 0 ? -shift : 0);

  // Convergents p1/q1 (the latest) and p0/q0 (the one before), starting from 1/0 and 0/1.
  UInt64 p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  while (den != 0) {
    const U128 a = num / den;
    const U128 rest = num - a * den;
    // The largest t with t * p1 + p0 and t * q1 + q0 both within the limit.
    UInt64 t = ~0ull;
    if (p1 != 0) t = std::min(t, (kMemberLimit - p0) / p1);
    if (q1 != 0) t = std::min(t, (kMemberLimit - q0) / q1);
    if (a <= t) {
      const UInt64 step = static_cast<UInt64>(a);
      const UInt64 p2 = step * p1 + p0, q2 = step * q1 + q0;
      p0 = p1;
      q0 = q1;
      p1 = p2;
      q1 = q2;
      num = den;
      den = rest;
      continue;
    }
    // The semiconvergent (t p1 + p0)/(t q1 + q0) against p1/q1: with x = num/den the complete
    // quotient, the semiconvergent is nearer exactly when x < 2t + q0/q1. Before the first
    // convergent (q1 = 0, p1/q1 infinite) it always is.
    bool semi;
    if (q1 == 0) {
      semi = true;
    } else if (a < 2 * static_cast<U128>(t)) {
      semi = true;
    } else if (a > 2 * static_cast<U128>(t)) {
      semi = false;
    } else {
      semi = ProductLess(rest, q1, den, q0);  // rest/den < q0/q1
    }
    if (semi) {
      *p = t * p1 + p0;
      *q = t * q1 + q0;
    } else {
      *p = p1;
      *q = q1;
    }
    return;
  }
  *p = p1;
  *q = q1;
}

// v rounded to the nearest whole number, halves upwards: floor(v + 0.5) as exact arithmetic has
// it. Computed as floor(v + 0.5) in doubles the sum itself rounds, which moves odd whole numbers
// from 2^52 to 2^53 up by one and 0.49999999999999994 up to 1.
Float64 RoundHalfUp(Float64 v) {
  const Float64 whole = std::floor(v);
  return v - whole >= 0.5 ? whole + 1.0 : whole;
}

// |v| rounded to a whole number. NaN counts as 0; infinities are held at the largest double so
// that large fractions stay finite.
Float64 WholeMagnitude(Float64 v) {
  if (std::isnan(v)) return 0.0;
  return RoundHalfUp(std::fmin(std::fabs(v), DBL_MAX));
}

}  // namespace

BaseTime::BaseTime(Float64 seconds) {
  if (std::isnan(seconds)) return;
  if (seconds < -1e15) seconds = -1e15;
  if (seconds > 1e15) seconds = 1e15;
  Float64 n = RoundHalfUp(seconds * 1000.0);
  if (std::fabs(n) < 0.001) return;
  Float64 g;
  if (std::fabs(n) < kIntegerLimit) {
    g = static_cast<Float64>(IntegerGcd(static_cast<Int64>(std::fabs(n)), 1000));
  } else {
    g = FloatGcd(std::fabs(n), 1000.0);
  }
  _numerator = n / g;
  _denominator = 1000.0 / g;
}

void BaseTime::Reduce(Float64 numerator, Float64 denominator) {
  // Whole members of a few digits, as files and frame counts hold them: nothing to round, and
  // a denominator of 1 nothing to reduce. Kept apart from the general reduction so that this
  // path stays a short leaf.
  const Float64 wholeN = std::fabs(numerator), wholeD = std::fabs(denominator);
  if (wholeN < kIntegerLimit && wholeD >= 1.0 && wholeD < kIntegerLimit) {
    const Int32 in = static_cast<Int32>(wholeN), id = static_cast<Int32>(wholeD);
    if (static_cast<Float64>(in) == wholeN && static_cast<Float64>(id) == wholeD && in != 0) {
      // Both below 2^31: the divisions in 32 bits, and none for a fraction already reduced
      // (every time this library writes).
      UInt32 n32 = static_cast<UInt32>(in), d32 = static_cast<UInt32>(id);
      const UInt32 g = d32 == 1 ? 1 : SmallGcd(n32, d32);
      if (g != 1) {
        n32 /= g;
        d32 /= g;
      }
      const bool negative = (numerator < 0.0) != (denominator < 0.0);
      _numerator = negative ? -static_cast<Float64>(n32) : static_cast<Float64>(n32);
      _denominator = static_cast<Float64>(d32);
      return;
    }
  }
  ReduceGeneral(numerator, denominator);
}

__attribute__((noinline)) void BaseTime::ReduceGeneral(Float64 numerator, Float64 denominator) {
  const bool negative = (numerator < 0.0) != (denominator < 0.0);
  Float64 n = WholeMagnitude(numerator);
  Float64 d = WholeMagnitude(denominator);
  if (d < 1.0) {
    _GeDebugBreak(__LINE__, "source/lum_basetime");
    d = 1.0;
  }
  if (n < 0.001) return;

  Float64 g;
  if (n < kIntegerLimit && d < kIntegerLimit) {
    g = static_cast<Float64>(IntegerGcd(static_cast<Int64>(n), static_cast<Int64>(d)));
  } else {
    const Float64 larger = n > d ? n : d;
    if (larger > static_cast<Float64>(kMemberLimit)) {
      // Members above 1e18 give way to the closest fraction with members up to 1e18. Those are
      // held as doubles, so a member above 2^53 may round to its neighbour (2^-53 of it); the
      // value stays within 3e-16 of n/d, and the reduction below makes it exact again.
      UInt64 p, q;
      ClosestBoundedFraction(n, d, &p, &q);
      if (p == 0) return;
      n = static_cast<Float64>(p);
      d = static_cast<Float64>(q);
    }
    g = FloatGcd(n, d);
  }
  _numerator = negative ? -(n / g) : n / g;
  _denominator = d / g;
}

Int32 BaseTime::Order(const BaseTime& other) const {
  if (_numerator == other._numerator && _denominator == other._denominator) return 0;
  // floor(p * s) against floor(r * q): the members are whole, so each product is whole too
  // (exact below 2^53, and every double from 2^52 up is whole), and the floors change nothing.
  const Float64 left = _numerator * other._denominator;
  const Float64 right = other._numerator * _denominator;
  if (left < right) return -1;
  if (left > right) return 1;
  return 0;
}

void DateTimeData::SetDateTime(const DateTime* dateTime, bool setDate, bool setTime) {
  if (dateTime == nullptr) return;
  if (setDate) {
    _dateTime.year = dateTime->year;
    _dateTime.month = dateTime->month;
    _dateTime.day = dateTime->day;
  }
  if (setTime) {
    _dateTime.hour = dateTime->hour;
    _dateTime.minute = dateTime->minute;
    _dateTime.second = dateTime->second;
  }
}

void GetDateTimeNow(DateTime& dt) {
  PlatformGregorianDate now;
  if (!PlatformGetLocalDateNow(&now)) return;
  dt.year = now.year;
  dt.month = now.month;
  dt.day = now.day;
  dt.hour = now.hour;
  dt.minute = now.minute;
  dt.second = static_cast<Int32>(now.second);
}

Int64 GeGetTimer() {
  const Float64 frequency = PlatformGetHostClockFrequency();
  const UInt64 host = PlatformGetHostTime();
  return static_cast<Int64>(static_cast<Float64>(host) * (1000.0 / frequency));
}

}  // namespace lumora
