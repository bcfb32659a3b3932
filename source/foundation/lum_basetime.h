// BaseTime: exact time values; DateTime: calendar date and clock time; the millisecond clock.
//
// A BaseTime is a reduced fraction of seconds held in two doubles, so that frame times such as
// 1/30 s compare and store without rounding drift. Both members are whole numbers and the
// denominator is at least 1 after construction.
#ifndef LUM_BASETIME_H
#define LUM_BASETIME_H

#include "lum_types.h"

namespace lumora {

class BaseTime {
 public:
  // 0/1.
  BaseTime() = default;
  // The seconds rounded to whole milliseconds (clamped to +-1e15 s), reduced. NaN gives 0/1.
  explicit BaseTime(Float64 seconds);
  // The fraction with both parts rounded to whole numbers, reduced; the sign is carried by the
  // numerator. A denominator that rounds below 1 raises the debug alert and counts as 1. When a
  // part exceeds 1e18 the result is the fraction closest to the given one whose parts are at
  // most 1e18 (within 3e-16 of it for values from 1e-18 to 1e18; 1e18/1 above, 0 or 1/1e18
  // below).
  BaseTime(Float64 numerator, Float64 denominator) {
    // 0 over a denominator of 1 or more is 0/1 (a key's tangent times, mostly): no call.
    if (numerator == 0.0 && (denominator >= 1.0 || denominator <= -1.0)) return;
    Reduce(numerator, denominator);
  }

  // Seconds; 0 when the denominator is 0.
  Float64 Get() const { return _denominator != 0.0 ? _numerator / _denominator : 0.0; }
  Float64 GetNumerator() const { return _numerator; }
  Float64 GetDenominator() const { return _denominator; }

  // Equal when both members match; otherwise ordered by floor(p * s) against floor(r * q) for
  // p/q against r/s (and equal when those match). Tracks and keys sort by this rule.
  bool operator==(const BaseTime& other) const { return Order(other) == 0; }
  bool operator!=(const BaseTime& other) const { return Order(other) != 0; }
  bool operator<(const BaseTime& other) const { return Order(other) < 0; }
  bool operator<=(const BaseTime& other) const { return Order(other) <= 0; }
  bool operator>(const BaseTime& other) const { return Order(other) > 0; }
  bool operator>=(const BaseTime& other) const { return Order(other) >= 0; }

 private:
  Int32 Order(const BaseTime& other) const;
  void Reduce(Float64 numerator, Float64 denominator);
  void ReduceGeneral(Float64 numerator, Float64 denominator);

  Float64 _numerator = 0.0;
  Float64 _denominator = 1.0;
};

// A calendar date and clock time, local to the system's time zone where it comes from the clock.
struct DateTime {
  Int32 year = 0;
  Int32 month = 0;  // 1-12
  Int32 day = 0;    // 1-31
  Int32 hour = 0;
  Int32 minute = 0;
  Int32 second = 0;

  DateTime() = default;
  DateTime(Int32 y, Int32 mo, Int32 d, Int32 h, Int32 mi, Int32 s)
      : year(y), month(mo), day(d), hour(h), minute(mi), second(s) {}

  bool operator!=(const DateTime& o) const {
    return year != o.year || month != o.month || day != o.day || hour != o.hour ||
           minute != o.minute || second != o.second;
  }
  bool operator==(const DateTime& o) const { return !(*this != o); }
};

// The value of a date-time parameter; a new one is 2000-01-01 00:00:00.
class DateTimeData {
 public:
  DateTimeData() : _dateTime(2000, 1, 1, 0, 0, 0) {}

  // Copies year, month and day when setDate, hour, minute and second when setTime. A null
  // source changes nothing.
  void SetDateTime(const DateTime* dateTime, bool setDate, bool setTime);
  const DateTime& GetDateTime() const { return _dateTime; }

  DateTime _dateTime;
};

// The current local date and time, seconds truncated. Leaves dt unchanged when the system
// cannot tell the time.
void GetDateTimeNow(DateTime& dt);

// Milliseconds of the host's monotonic clock (its origin is arbitrary: only differences mean
// anything).
Int64 GeGetTimer();

}  // namespace lumora

#endif  // LUM_BASETIME_H
