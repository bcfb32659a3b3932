// BaseTime reduction and ordering, DateTime and DateTimeData, and the two clocks.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

void ExpectFraction(const BaseTime& t, double num, double den, const char* what) {
  EXPECT_EQ(num, t.GetNumerator()) << what;
  EXPECT_EQ(den, t.GetDenominator()) << what;
}

bool IsWhole(double v) { return std::isfinite(v) && std::floor(v) == v; }

}  // namespace

TEST(BaseTime, DefaultIsZeroOverOne) {
  BaseTime t;
  ExpectFraction(t, 0, 1, "default");
  EXPECT_EQ(0.0, t.Get());
}

TEST(BaseTime, SecondsRoundToMillisecondsAndReduce) {
  ExpectFraction(BaseTime(0.5), 1, 2, "0.5");
  ExpectFraction(BaseTime(1.0 / 30.0), 33, 1000, "1/30 s");
  ExpectFraction(BaseTime(2.0), 2, 1, "2");
  ExpectFraction(BaseTime(-0.25), -1, 4, "-0.25");
  ExpectFraction(BaseTime(0.0005), 1, 1000, "half a millisecond rounds up");
  ExpectFraction(BaseTime(-0.0005), 0, 1, "and towards +inf for negatives");
  ExpectFraction(BaseTime(0.0004), 0, 1, "below half a millisecond");
  EXPECT_FALSE(std::signbit(BaseTime(-0.0001).GetNumerator()));
}

TEST(BaseTime, SecondsAreClampedAndLargeValuesReduceExactly) {
  ExpectFraction(BaseTime(2e15), 1e15, 1, "clamped");
  ExpectFraction(BaseTime(-2e15), -1e15, 1, "clamped below");
  ExpectFraction(BaseTime(std::numeric_limits<double>::infinity()), 1e15, 1, "inf");
  // Past the integer range: the floating reduction.
  ExpectFraction(BaseTime(3e6), 3e6, 1, "3e6 s");
  ExpectFraction(BaseTime(2147483.521), 2147483521, 1000, "just past the integer limit");
  ExpectFraction(BaseTime(2147483.52), 2147483520 / 40.0, 1000 / 40.0, "at the integer limit");
  ExpectFraction(BaseTime(2147483.5), 4294967, 2, "just below");
  ExpectFraction(BaseTime(std::nan("")), 0, 1, "NaN");
}

TEST(BaseTime, FractionRoundsBothPartsAndCarriesTheSign) {
  ExpectFraction(BaseTime(1, 30), 1, 30, "1/30");
  ExpectFraction(BaseTime(2, 60), 1, 30, "2/60");
  ExpectFraction(BaseTime(-3, 6), -1, 2, "-3/6");
  ExpectFraction(BaseTime(3, -6), -1, 2, "3/-6");
  ExpectFraction(BaseTime(-3, -6), 1, 2, "-3/-6");
  ExpectFraction(BaseTime(-7, 1), -7, 1, "-7/1");
  ExpectFraction(BaseTime(1.4, 2.6), 1, 3, "rounded parts");
  ExpectFraction(BaseTime(2.5, 1), 3, 1, "half rounds away from zero in magnitude");
  ExpectFraction(BaseTime(-2.5, 1), -3, 1, "also when negative");
  ExpectFraction(BaseTime(0.0004, 1), 0, 1, "numerator rounds to 0");
  ExpectFraction(BaseTime(0, -5), 0, 1, "a zero is never negative");
  EXPECT_FALSE(std::signbit(BaseTime(-0.0, 5).GetNumerator()));
  ExpectFraction(BaseTime(-0.0, -5), 0, 1, "-0 counts as non-negative");
}

// Rounding to whole numbers must not move numbers that are whole already, nor a number just
// below a half.
TEST(BaseTime, RoundingKeepsWholeNumbersAndHalvesGoUp) {
  const double odd = 4503599627370497.0;  // 2^52 + 1
  ExpectFraction(BaseTime(odd, 1), odd, 1, "odd whole numerator above 2^52");
  ExpectFraction(BaseTime(1, odd), 1, odd, "odd whole denominator above 2^52");
  ExpectFraction(BaseTime(odd, 3), odd, 3, "odd over 3");
  ExpectFraction(BaseTime(0.49999999999999994, 1), 0, 1, "just below a half");
  ExpectFraction(BaseTime(1.49999999999999978, 1), 1, 1, "just below one and a half");
  for (double seconds : {4503599627370.497, 5e12 + 0.001, -6e12 - 0.003, 8.9e12 + 0.005}) {
    const double ms = seconds * 1000.0;  // whole and above 2^52: kept as it is
    ASSERT_EQ(std::floor(ms), ms);
    const BaseTime t(seconds);
    EXPECT_EQ(ms, t.GetNumerator() * (1000.0 / t.GetDenominator())) << seconds;
  }
  ExpectFraction(BaseTime(0.00049999999999999995), 0, 1, "just below half a millisecond");
}

TEST(BaseTime, DenominatorBelowOneAlertsAndCountsAsOne) {
  lumtest::ResetAlerts();
  ExpectFraction(BaseTime(1, 0), 1, 1, "1/0");
  ASSERT_EQ(1, lumtest::AlertCount());
  EXPECT_EQ("source/lum_basetime", lumtest::Alerts()[0].file);
  ExpectFraction(BaseTime(7, 0.4), 7, 1, "7/0.4");
  ExpectFraction(BaseTime(0, 0), 0, 1, "0/0");
  ExpectFraction(BaseTime(3, std::nan("")), 3, 1, "NaN denominator");
  EXPECT_EQ(4, lumtest::AlertCount());
  lumtest::ResetAlerts();
  BaseTime(1, 0.5);  // rounds to 1: no alert
  BaseTime(5, 2);
  EXPECT_EQ(0, lumtest::AlertCount());
}

// Whole members below 2^31 (what files and frame counts hold) and zero numerators take short
// paths of their own: they must give what the general reduction gives for the same fraction
// reached through rounding (a quarter more in magnitude), and what Euclid gives.
TEST(BaseTime, WholeMembersReduceAsTheGeneralReductionDoes) {
  std::mt19937_64 random(20261209);
  const std::int64_t edges[] = {1, 2, 3, 30, 1000, 1 << 20, 2147483519, 2147483520, 2147483647};
  auto pick = [&](int kind) -> std::int64_t {
    switch (kind) {
      case 0:
        return edges[random() % (sizeof edges / sizeof edges[0])];
      case 1:
        return std::int64_t(1) << (random() % 31);
      case 2:
        return 1 + std::int64_t(random() % 1000);
      case 3:
        return 1 + std::int64_t(random() % 2147483647);
      default:
        return std::int64_t(random() % 97 + 1) * std::int64_t(random() % 97 + 1) * 24;
    }
  };
  auto nudged = [](double v) { return v < 0 ? v - 0.25 : v + 0.25; };
  lumtest::ResetAlerts();
  for (int i = 0; i < 200000; ++i) {
    const std::int64_t n = i % 17 == 0 ? 0 : pick(int(random() % 5));
    const std::int64_t d = pick(int(random() % 5));
    const double sn = (random() & 1) ? -double(n) : double(n);
    const double sd = (random() & 1) ? -double(d) : double(d);
    const BaseTime got(sn, sd), general(nudged(sn), nudged(sd));
    ASSERT_EQ(general.GetNumerator(), got.GetNumerator()) << sn << "/" << sd;
    ASSERT_EQ(general.GetDenominator(), got.GetDenominator()) << sn << "/" << sd;
    if (n == 0 || double(n) >= 2147483520.0 || double(d) >= 2147483520.0) continue;
    const std::int64_t g = std::gcd(n, d);
    ASSERT_EQ(((sn < 0) != (sd < 0) ? -1.0 : 1.0) * double(n / g), got.GetNumerator());
    ASSERT_EQ(double(d / g), got.GetDenominator());
  }
  // A zero over any denominator that rounds to 1 or more is 0/1, without an alert.
  for (double d : {1.0, -1.0, 0.5, 7.0, -3e9, 1e300, std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()}) {
    ExpectFraction(BaseTime(0.0, d), 0, 1, "zero");
    ExpectFraction(BaseTime(-0.0, d), 0, 1, "negative zero");
    EXPECT_FALSE(std::signbit(BaseTime(-0.0, d).GetNumerator()));
  }
  EXPECT_EQ(0, lumtest::AlertCount());
}

TEST(BaseTime, LargeFractionsReduceWithFloatingEuclid) {
  ExpectFraction(BaseTime(3e9, 6e9), 1, 2, "3e9/6e9");
  ExpectFraction(BaseTime(2147483520.0, 1), 2147483520.0, 1, "at the limit");
  ExpectFraction(BaseTime(4294967296.0, 65536), 65536, 1, "2^32/2^16");
}

// Members above 1e18 give way to the closest fraction whose members are at most 1e18.
TEST(BaseTime, LargeMembersKeepTheValue) {
  // Fractions that reduce to members within the limit come out exact.
  ExpectFraction(BaseTime(1e19, 2e19), 1, 2, "1e19/2e19");
  ExpectFraction(BaseTime(3 * std::ldexp(1.0, 62), 7 * std::ldexp(1.0, 60)), 12, 7, "12/7");
  ExpectFraction(BaseTime(1e19, std::ldexp(1.0, 64)), 19073486328125.0, 35184372088832.0,
                 "5^19 / 2^45");
  ExpectFraction(BaseTime(std::ldexp(1.0, 80) + std::ldexp(1.0, 28), 3 * std::ldexp(1.0, 80)),
                 4503599627370497.0, 13510798882111488.0, "(2^52 + 1) / (3 * 2^52)");
  // 1e20/150 is 666666666666666666.67: the nearest whole number, as a double.
  ExpectFraction(BaseTime(1e20, 150), 666666666666666624.0, 1, "1e20/150");
  ExpectFraction(BaseTime(-1e20, 150), -666666666666666624.0, 1, "negative");
  // Beyond the limits: the largest member, or zero.
  ExpectFraction(BaseTime(1e20, 3), 1e18, 1, "above 1e18");
  ExpectFraction(BaseTime(std::numeric_limits<double>::infinity(), 1), 1e18, 1, "inf");
  ExpectFraction(BaseTime(DBL_MAX, 1), 1e18, 1, "DBL_MAX");
  ExpectFraction(BaseTime(1, 1e30), 0, 1, "below 1e-18");
  ExpectFraction(BaseTime(1, 3e18), 0, 1, "below half of 1e-18");
  ExpectFraction(BaseTime(1, 1.5e18), 1, 1e18, "nearer 1e-18 than 0");
  ExpectFraction(BaseTime(1e300, 1e300), 1, 1, "equal members");
}

// A sweep of large and awkward ratios: whatever the members, the result is a reduced fraction of
// whole members within 1e18 whose value is within 1e-15 of the exact ratio (for ratios from
// 1e-18 to 1e18; outside them no such fraction exists).
TEST(BaseTime, LargeMembersSweepStaysWithinRelativeError) {
  std::vector<double> members = {1e18 + 128,
                                 1e19,
                                 1.5e19,
                                 std::ldexp(1.0, 63),
                                 1e20,
                                 3e20 + 4096,
                                 1e30,
                                 1e100,
                                 1e300,
                                 DBL_MAX,
                                 7,
                                 150,
                                 1e9 + 7,
                                 2147483647,
                                 9007199254740993.0,
                                 999999999999999872.0};
  std::mt19937_64 rng(26);
  for (int i = 0; i < 4000; ++i) {
    // Random 53-bit mantissas at random scales, mostly near each other so that the ratios
    // stay in range and their continued fractions run long.
    const double mantissa = static_cast<double>(rng() >> 11) + 1;
    const int exponent = static_cast<int>(rng() % 300);
    members.push_back(std::ldexp(mantissa, exponent));
  }
  long double worst = 0;
  int checked = 0, inRange = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    for (size_t k : {i, (i * 7 + 3) % members.size(), (i + 1) % members.size()}) {
      const double n = members[i], d = members[k];
      if (std::fmax(n, d) <= 1e18) continue;
      const BaseTime t(n, d);
      const double p = t.GetNumerator(), q = t.GetDenominator();
      ++checked;
      ASSERT_TRUE(IsWhole(p) && IsWhole(q)) << n << "/" << d;
      ASSERT_TRUE(p >= 0 && p <= 1e18 && q >= 1 && q <= 1e18) << n << "/" << d;
      if (p != 0) {
        ASSERT_EQ(1u, std::gcd(static_cast<uint64_t>(p), static_cast<uint64_t>(q)))
            << n << "/" << d;
      }
      const long double exact = static_cast<long double>(n) / static_cast<long double>(d);
      if (exact < 1e-18L || exact > 1e18L) {
        // Only the limit or zero can be nearest.
        if (exact > 1e18L) {
          EXPECT_EQ(1e18, p) << n << "/" << d;
        }
        continue;
      }
      ++inRange;
      const long double got = static_cast<long double>(p) / static_cast<long double>(q);
      const long double error = std::fabs(got - exact) / exact;
      worst = std::max(worst, error);
      ASSERT_LT(error, 1e-15L) << n << "/" << d << " became " << p << "/" << q;
    }
  }
  EXPECT_GT(inRange, 3000);
  EXPECT_GT(checked, inRange);
  // Rounding a member to a double costs at most 2^-53 each.
  EXPECT_LT(worst, 2.3e-16L);
}

// Where the limit leaves only a few thousand denominators, every one of them is tried: none comes
// closer than the fraction taken (before its numerator is rounded to a double).
TEST(BaseTime, LargeMembersGiveTheClosestFractionOfAll) {
  std::mt19937_64 rng(1026);
  for (int round = 0; round < 300; ++round) {
    // n/d from 2^44 to 2^58, so that from about 3 to 57000 denominators are left; d just large
    // enough that n exceeds 1e18.
    const double v = std::ldexp(1.0 + static_cast<double>(rng() % 1000000) / 1e6,
                                44 + static_cast<int>(rng() % 14));
    const double d = std::ceil(1.1e18 / v) + static_cast<double>(rng() % 1000);
    const double n = std::floor(d * v);
    ASSERT_GT(n, 1e18);
    const unsigned __int128 num = static_cast<unsigned __int128>(n);
    const unsigned __int128 den = static_cast<unsigned __int128>(d);
    const uint64_t limit = 1000000000000000000ull;
    uint64_t bestP = 0, bestQ = 0;
    unsigned __int128 bestError = 0;  // |p den - n q|; the distance is that over q den
    for (uint64_t q = 1; q <= limit / static_cast<uint64_t>(n / d) + 1; ++q) {
      const unsigned __int128 p = (2 * num * q + den) / (2 * den);
      if (p == 0 || p > limit) continue;
      const unsigned __int128 a = p * den, b = num * q;
      const unsigned __int128 error = a > b ? a - b : b - a;
      if (bestQ == 0 || error * bestQ < bestError * q) {
        bestP = static_cast<uint64_t>(p);
        bestQ = q;
        bestError = error;
      }
    }
    ASSERT_NE(0u, bestQ);
    // The numerator as the nearest double, then reduced.
    const uint64_t rounded = static_cast<uint64_t>(static_cast<double>(bestP));
    const uint64_t g = std::gcd(rounded, bestQ);
    const BaseTime t(n, d);
    EXPECT_EQ(static_cast<double>(rounded / g), t.GetNumerator()) << n << "/" << d;
    EXPECT_EQ(static_cast<double>(bestQ / g), t.GetDenominator()) << n << "/" << d;
  }
}

TEST(BaseTime, GetDividesAndGuardsZero) {
  EXPECT_DOUBLE_EQ(0.5, BaseTime(1, 2).Get());
  EXPECT_DOUBLE_EQ(-1.0 / 30.0, BaseTime(-1, 30).Get());
  EXPECT_DOUBLE_EQ(0.033, BaseTime(1.0 / 30.0).Get());
}

TEST(BaseTime, ComparisonByCrossProducts) {
  EXPECT_TRUE(BaseTime(1, 3) > BaseTime(333, 1000));
  EXPECT_TRUE(BaseTime(333, 1000) < BaseTime(1, 3));
  EXPECT_TRUE(BaseTime(1, 30) == BaseTime(2, 60));
  EXPECT_FALSE(BaseTime(1, 30) != BaseTime(2, 60));
  EXPECT_TRUE(BaseTime(1.0 / 30.0) != BaseTime(1, 30));  // 33/1000 is not 1/30
  EXPECT_TRUE(BaseTime(1.0 / 30.0) < BaseTime(1, 30));
  EXPECT_TRUE(BaseTime(0.5) == BaseTime(1, 2));
  EXPECT_TRUE(BaseTime(1, 2) <= BaseTime(1, 2));
  EXPECT_TRUE(BaseTime(1, 2) >= BaseTime(1, 2));
  EXPECT_FALSE(BaseTime(1, 2) < BaseTime(1, 2));

  BaseTime sorted[] = {BaseTime(-1, 2), BaseTime(),     BaseTime(1, 1000),
                       BaseTime(1, 30), BaseTime(1, 2), BaseTime(3e9, 1)};
  const int n = static_cast<int>(sizeof(sorted) / sizeof(sorted[0]));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      EXPECT_EQ(i < j, sorted[i] < sorted[j]) << i << " " << j;
      EXPECT_EQ(i == j, sorted[i] == sorted[j]) << i << " " << j;
      EXPECT_EQ(i > j, sorted[i] > sorted[j]) << i << " " << j;
    }
  }
}

TEST(DateTime, InequalityLooksAtEveryField) {
  const DateTime base(2024, 2, 29, 23, 59, 58);
  EXPECT_FALSE(base != DateTime(2024, 2, 29, 23, 59, 58));
  EXPECT_TRUE(base == DateTime(2024, 2, 29, 23, 59, 58));
  for (int field = 0; field < 6; ++field) {
    DateTime other = base;
    Int32* f[] = {&other.year, &other.month, &other.day, &other.hour, &other.minute, &other.second};
    *f[field] += 1;
    EXPECT_TRUE(base != other) << field;
  }
}

TEST(DateTimeData, NewValueIsTheMillenniumAndSetsDateAndTimeSeparately) {
  DateTimeData data;
  EXPECT_TRUE(data.GetDateTime() == DateTime(2000, 1, 1, 0, 0, 0));
  const DateTime src(1999, 12, 31, 13, 14, 15);
  data.SetDateTime(&src, true, false);
  EXPECT_TRUE(data.GetDateTime() == DateTime(1999, 12, 31, 0, 0, 0));
  DateTimeData timeOnly;
  timeOnly.SetDateTime(&src, false, true);
  EXPECT_TRUE(timeOnly.GetDateTime() == DateTime(2000, 1, 1, 13, 14, 15));
  DateTimeData both;
  both.SetDateTime(&src, true, true);
  EXPECT_TRUE(both.GetDateTime() == src);
  both.SetDateTime(nullptr, true, true);
  both.SetDateTime(&data.GetDateTime(), false, false);
  EXPECT_TRUE(both.GetDateTime() == src);
}

TEST(Clock, DateTimeNowIsTheLocalTime) {
  auto Local = [](time_t t) {
    tm local{};
    localtime_r(&t, &local);
    return std::make_tuple(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec);
  };
  // time() reads the kernel's coarse clock, which can lag the precise one by a tick; read the
  // same clock on both sides as the library does.
  auto Now = [] {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
  };
  time_t before = Now();
  DateTime now;
  GetDateTimeNow(now);
  time_t after = Now();
  auto got = std::make_tuple(now.year, now.month, now.day, now.hour, now.minute, now.second);
  EXPECT_LE(Local(before), got);
  EXPECT_LE(got, Local(after));
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

TEST(Clock, TimerIsMillisecondsOfTheMonotonicClock) {
  auto Ms = [] {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Int64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  };
  Int64 before = Ms();
  Int64 t1 = GeGetTimer();
  Int64 t2 = GeGetTimer();
  Int64 after = Ms();
  EXPECT_LE(before - 1, t1);  // the conversion truncates
  EXPECT_LE(t1, t2);
  EXPECT_LE(t2, after);
}
