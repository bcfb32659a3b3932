// The harness itself: leak counting, failure injection and alert observation must work, or
// every other suite's checks mean nothing.
#include <gtest/gtest.h>

#include "lumora.h"
#include "test_support.h"

using namespace lumora;

TEST(Support, CountsLiveBlocksThroughEveryMemoryFunction) {
  std::int64_t before = lumtest::LiveBlocks();
  void* a = MemAlloc(10);
  void* b = MemAllocNC(10);
  void* c = MemRealloc(nullptr, 5);
  EXPECT_EQ(before + 3, lumtest::LiveBlocks());
  c = MemRealloc(c, 500);
  EXPECT_EQ(before + 3, lumtest::LiveBlocks());
  MemFree(a);
  MemFree(b);
  MemFree(c);
  EXPECT_EQ(nullptr, a);
  EXPECT_EQ(before, lumtest::LiveBlocks());
  MemFree(a);  // null is left alone
  EXPECT_EQ(before, lumtest::LiveBlocks());
}

TEST(Support, MemAllocZeroFills) {
  auto* p = static_cast<unsigned char*>(MemAlloc(64));
  ASSERT_NE(nullptr, p);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(0, p[i]);
  DeleteMem(p);
}

TEST(Support, FailsExactlyTheNthAllocation) {
  lumtest::FailNthAllocation(2);
  void* a = MemAlloc(1);
  void* b = MemAlloc(1);
  void* c = MemAlloc(1);
  lumtest::StopFailing();
  EXPECT_NE(nullptr, a);
  EXPECT_EQ(nullptr, b);
  EXPECT_NE(nullptr, c);
  EXPECT_TRUE(lumtest::InjectedFailureHappened());
  MemFree(a);
  MemFree(c);
}

TEST(Support, FailsFromTheNthOn) {
  lumtest::ScopedAllocFailure fail(1, true);
  EXPECT_EQ(nullptr, MemAlloc(1));
  EXPECT_EQ(nullptr, MemAllocNC(1));
  EXPECT_EQ(nullptr, MemRealloc(nullptr, 1));
}

namespace {
bool TwoAllocations(std::int64_t, void*) {
  void* a = MemAlloc(8);
  if (a == nullptr) return true;
  void* b = MemAlloc(8);
  MemFree(a);
  MemFree(b);
  return true;
}
}  // namespace

TEST(Support, SweepStopsWhenNoFailureIsInjected) {
  EXPECT_EQ(2, lumtest::SweepAllocationFailures("two allocations", TwoAllocations));
}

TEST(Support, ObservesDebugAlertsWithoutTheFlag) {
  EXPECT_FALSE(GeGetDebugFlag());
  _GeDebugBreak(485, "source/lum_basebitmap");
  ASSERT_EQ(1, lumtest::AlertCount());
  EXPECT_EQ(485, lumtest::Alerts()[0].line);
  EXPECT_EQ("source/lum_basebitmap", lumtest::Alerts()[0].file);
}

TEST(Support, PlacementHelpersConstructAndDestroy) {
  struct Probe {
    int* counter;
    explicit Probe(int* c) : counter(c) { ++*counter; }
    ~Probe() { --*counter; }
  };
  int alive = 0;
  Probe* p = NewObj<Probe>(&alive);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(1, alive);
  DeleteObj(p);
  EXPECT_EQ(0, alive);
  EXPECT_EQ(nullptr, p);
  lumtest::ScopedAllocFailure fail(1);
  EXPECT_EQ(nullptr, NewObj<Probe>(&alive));
  EXPECT_EQ(0, alive);
}

TEST(Support, HexRoundTrip) {
  auto bytes = lumtest::FromHex("00 90 00 00 04 00 80 01");
  ASSERT_EQ(8u, bytes.size());
  EXPECT_EQ(0x80, bytes[6]);
  EXPECT_EQ("00 90 00 00 04 00 80 01", lumtest::ToHex(bytes));
}
