// BaseTime reduction and ordering, the calendar clock and the millisecond clock.
#include "foundation/lum_basetime.h"

#include <cfloat>
#include <cmath>

#include "lum_debug.h"
#include "platform/lum_platform.h"

namespace lumora {
namespace {

// Below this (the largest float under 2^31) the members are reduced with integer arithmetic.
constexpr Float64 kIntegerLimit = 2147483520.0;

Int64 IntegerGcd(Int64 a, Int64 b) {
  while (b != 0) {
    Int64 r = a % b;
    a = b;
    b = r;
  }
  return a;
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

// |v| rounded to a whole number. NaN counts as 0; infinities are held at the largest double so
// that the scaling of large fractions stays finite.
Float64 WholeMagnitude(Float64 v) {
  if (std::isnan(v)) return 0.0;
  return std::floor(std::fmin(std::fabs(v), DBL_MAX) + 0.5);
}

}  // namespace

BaseTime::BaseTime(Float64 seconds) {
  if (std::isnan(seconds)) return;
  if (seconds < -1e15) seconds = -1e15;
  if (seconds > 1e15) seconds = 1e15;
  Float64 n = std::floor(seconds * 1000.0 + 0.5);
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

BaseTime::BaseTime(Float64 numerator, Float64 denominator) {
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
    Float64 larger = n > d ? n : d;
    if (larger > 1e18) {
      // Scaled back to whole numbers, so that the reduction below works on integers.
      Float64 scale = 1e18 / larger;
      n = std::floor(n * scale + 0.5);
      d = std::floor(d * scale + 0.5);
      if (d < 1.0) d = 1.0;
      if (n < 0.5) return;
    }
    g = FloatGcd(n, d);
  }
  _numerator = negative ? -(n / g) : n / g;
  _denominator = d / g;
}

Int32 BaseTime::Order(const BaseTime& other) const {
  if (_numerator == other._numerator && _denominator == other._denominator) return 0;
  Float64 left = std::floor(_numerator * other._denominator);
  Float64 right = std::floor(other._numerator * _denominator);
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
