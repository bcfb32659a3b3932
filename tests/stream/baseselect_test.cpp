// Selections: BaseSelect, SelectBlockArray with its block array, the bit sets, and their file
// forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "lumora.h"
#include "stream_support.h"
#include "test_support.h"

using namespace lumora;

namespace {

using Runs = std::vector<std::pair<Int32, Int32>>;

Runs RunsOf(const std::set<Int32>& s) {
  Runs runs;
  for (Int32 v : s) {
    if (!runs.empty() && Int64(runs.back().second) + 1 == v)
      runs.back().second = v;
    else
      runs.push_back({v, v});
  }
  return runs;
}

Runs RunsOf(const BaseSelect& sel) {
  Runs runs;
  for (Int32 i = 0; i < sel.GetSegments(); ++i)
    runs.push_back({sel.GetData()[i].first, sel.GetData()[i].last});
  return runs;
}

Runs RunsOf(const SelectBlockArray& sel) {
  Runs runs;
  Int32 cursor = 0, first, last;
  while (sel.GetBlockRange(&cursor, &first, &last)) runs.push_back({first, last});
  return runs;
}

// The block rules that hold after every edit; returns a description of the first violation.
template <typename A>
std::string BlockProblems(const A& a) {
  Int64 total = 0, gap = 0;
  for (Int32 b = 0; b < a.GetBlockCount(); ++b) {
    Int32 used = a.GetUsed(b), cap = a.GetCapacity(b);
    if (cap != 32 && cap != 64 && cap != 128 && cap != 256 && cap != 512)
      return "block " + std::to_string(b) + " capacity " + std::to_string(cap);
    if (used < 1 || used > cap)
      return "block " + std::to_string(b) + " used " + std::to_string(used);
    if (a.GetGap(b) != gap) return "block " + std::to_string(b) + " gap";
    // The head is what the search over the blocks compares: a stale one misplaces lookups.
    if (std::memcmp(&a.GetHead(b), &a.At(b, 0), sizeof(a.At(b, 0))) != 0)
      return "block " + std::to_string(b) + " head";
    gap += 512 - used;
    total += used;
  }
  if (total != a.GetCount()) return "element count";
  Int32 cap = a.GetTableCapacity();
  if (a.GetBlockCount() > 0 && (cap < 128 || cap % 128 != 0 || a.GetBlockCount() > cap))
    return "table capacity " + std::to_string(cap);
  return "";
}

// Change in the number of runs when v joins (+) or leaves (-) the set.
int RunDelta(const std::set<Int32>& s, Int32 v, bool adding) {
  int neighbours = int(s.count(v - 1)) + int(s.count(v + 1));
  return adding ? 1 - neighbours : neighbours - 1;
}

}  // namespace

// ---- BaseSelect ----

TEST(BaseSelect, SelectsMergeIntoRunsAndCountIndices) {
  BaseSelect sel;
  EXPECT_TRUE(sel.Select(5));
  EXPECT_TRUE(sel.Select(7));
  EXPECT_EQ(sel.GetSegments(), 2);
  EXPECT_TRUE(sel.Select(6));
  EXPECT_EQ(RunsOf(sel), (Runs{{5, 7}}));
  EXPECT_TRUE(sel.Select(4));
  EXPECT_EQ(RunsOf(sel), (Runs{{4, 7}}));
  EXPECT_EQ(sel.GetCount(), 4);
  EXPECT_EQ(sel.GetSegments(), 1);
  Int32 first = 0, last = 0;
  EXPECT_TRUE(sel.GetRange(0, &first, &last));
  EXPECT_EQ(first, 4);
  EXPECT_EQ(last, 7);
  EXPECT_FALSE(sel.GetRange(1, &first, &last));
  EXPECT_FALSE(sel.GetRange(-1, &first, &last));
}

TEST(BaseSelect, ReselectingChangesNothingAndLastSelectedFollowsExtensions) {
  BaseSelect sel;
  ASSERT_TRUE(sel.Select(10));  // a new run leaves last selected alone
  EXPECT_EQ(sel.GetLastSelected(), 0);
  ASSERT_TRUE(sel.Select(11));  // extends
  EXPECT_EQ(sel.GetLastSelected(), 11);
  ASSERT_TRUE(sel.Select(20));
  EXPECT_EQ(sel.GetLastSelected(), 11);
  ASSERT_TRUE(sel.Select(19));  // extends the next run downwards
  EXPECT_EQ(sel.GetLastSelected(), 19);
  ASSERT_TRUE(sel.Select(9));  // extends the first run downwards
  EXPECT_EQ(sel.GetLastSelected(), 9);
  Int32 changes = sel.GetDirty();
  EXPECT_TRUE(sel.Select(10));
  EXPECT_EQ(sel.GetDirty(), changes);
  EXPECT_EQ(sel.GetLastSelected(), 9);
  sel.DeselectAll();
  EXPECT_EQ(sel.GetSegments(), 0);
  EXPECT_EQ(sel.GetData(), nullptr);
  EXPECT_EQ(sel.GetLastSelected(), 0);
  EXPECT_GT(sel.GetDirty(), changes);
}

TEST(BaseSelect, FindNumReportsTheRunAtOrBeforeTheIndex) {
  BaseSelect sel;
  for (Int32 v : {3, 4, 5, 10, 20, 21}) ASSERT_TRUE(sel.Select(v));
  struct {
    Int32 index, run;
    bool selected;
  } cases[] = {{2, -1, false}, {3, 0, true},  {5, 0, true},   {6, 0, false},   {10, 1, true},
               {15, 1, false}, {21, 2, true}, {99, 2, false}, {-5, -1, false}, {4, 0, true}};
  for (auto& c : cases) {
    Int32 run = 77;
    EXPECT_EQ(sel.FindNum(c.index, &run), c.selected) << c.index;
    EXPECT_EQ(run, c.run) << c.index;
  }
  BaseSelect empty;
  Int32 run = 5;
  EXPECT_FALSE(empty.FindNum(0, &run));
  EXPECT_EQ(run, -1);
}

TEST(BaseSelect, ExtremeIndicesDoNotOverflow) {
  BaseSelect sel;
  const Int32 hi = 0x7FFFFFFF, lo = -0x7FFFFFFF - 1;
  ASSERT_TRUE(sel.Select(hi));
  ASSERT_TRUE(sel.Select(hi - 1));
  ASSERT_TRUE(sel.Select(lo));
  ASSERT_TRUE(sel.Select(lo + 1));
  EXPECT_EQ(RunsOf(sel), (Runs{{lo, lo + 1}, {hi - 1, hi}}));
  EXPECT_EQ(sel.GetCount(), 4);
  ASSERT_TRUE(sel.Deselect(hi));
  EXPECT_EQ(RunsOf(sel), (Runs{{lo, lo + 1}, {hi - 1, hi - 1}}));
  // A stored run covering everything counts as the largest count there is.
  BaseSelectData all{lo, hi};
  ASSERT_TRUE(sel.CopyFrom(&all, 1));
  EXPECT_EQ(sel.GetCount(), 0x7FFFFFFF);
}

TEST(BaseSelect, RandomSelectsAndDeselectsMatchASetAfterEveryStep) {
  std::mt19937 rng(12345);
  BaseSelect sel;
  std::set<Int32> oracle;
  Int64 runs = 0;
  const Int32 range = 12000;
  for (int step = 0; step < 60000; ++step) {
    // Grow for a while, then thin out, then grow again.
    int phase = (step / 15000) % 2;
    bool adding = Int32(rng() % 100) < (phase == 0 ? 65 : 35);
    Int32 v = Int32(rng() % range);
    bool had = oracle.count(v) != 0;
    if (adding) {
      ASSERT_TRUE(sel.Select(v));
      if (!had) {
        runs += RunDelta(oracle, v, true);
        oracle.insert(v);
      }
    } else {
      ASSERT_TRUE(sel.Deselect(v));
      if (had) {
        runs += RunDelta(oracle, v, false);
        oracle.erase(v);
      }
    }
    ASSERT_EQ(sel.GetCount(), Int32(oracle.size())) << step;
    ASSERT_EQ(sel.GetSegments(), runs) << step;
    for (Int32 w = v - 2; w <= v + 2; ++w) ASSERT_EQ(sel.IsSelected(w), oracle.count(w) != 0);
    if (step % 3000 == 0) {
      ASSERT_EQ(RunsOf(sel), RunsOf(oracle)) << step;
    }
  }
  EXPECT_GT(runs, 1000);
  EXPECT_EQ(RunsOf(sel), RunsOf(oracle));
}

TEST(BaseSelect, CopyToCopyFromInsertDataAndFlushData) {
  BaseSelect a, b;
  for (Int32 v : {1, 2, 3, 8, 9, 40}) ASSERT_TRUE(a.Select(v));
  ASSERT_TRUE(b.Select(100));
  ASSERT_TRUE(a.CopyTo(&b));
  EXPECT_EQ(RunsOf(b), RunsOf(a));
  EXPECT_EQ(b.GetLastSelected(), a.GetLastSelected());
  EXPECT_NE(b.GetData(), a.GetData());

  BaseSelectData runs[] = {{0, 4}, {10, 10}, {12, 30}};
  ASSERT_TRUE(b.CopyFrom(runs, 3));
  EXPECT_EQ(RunsOf(b), (Runs{{0, 4}, {10, 10}, {12, 30}}));
  EXPECT_EQ(b.GetLastSelected(), 30);
  EXPECT_EQ(b.GetCount(), 25);
  // From its own array, shorter: the source lives in the block being replaced.
  ASSERT_TRUE(b.CopyFrom(b.GetData(), 2));
  EXPECT_EQ(RunsOf(b), (Runs{{0, 4}, {10, 10}}));
  EXPECT_EQ(b.GetLastSelected(), 10);
  // No runs given: zeroed for the caller to fill.
  ASSERT_TRUE(b.CopyFrom(nullptr, 2));
  EXPECT_EQ(RunsOf(b), (Runs{{0, 0}, {0, 0}}));
  EXPECT_EQ(b.GetLastSelected(), 0);
  ASSERT_TRUE(b.CopyFrom(nullptr, 0));
  EXPECT_EQ(b.GetSegments(), 0);
  EXPECT_FALSE(b.CopyFrom(runs, -1));

  ASSERT_TRUE(b.InsertData(-1, 5, 6));
  ASSERT_TRUE(b.InsertData(0, 10, 12));
  ASSERT_TRUE(b.InsertData(0, 8, 8));
  EXPECT_EQ(RunsOf(b), (Runs{{5, 6}, {8, 8}, {10, 12}}));
  EXPECT_FALSE(b.InsertData(3, 1, 1));
  EXPECT_FALSE(b.InsertData(-2, 1, 1));
  ASSERT_TRUE(b.FlushData(1));
  EXPECT_EQ(RunsOf(b), (Runs{{5, 6}, {10, 12}}));
  EXPECT_FALSE(b.FlushData(2));
  ASSERT_TRUE(b.FlushData(0));
  ASSERT_TRUE(b.FlushData(0));
  EXPECT_EQ(b.GetData(), nullptr);

  BaseSelect* heap = BaseSelect::Alloc();
  ASSERT_NE(heap, nullptr);
  ASSERT_TRUE(a.CopyTo(heap));
  BaseSelect::Free(heap);
  EXPECT_EQ(heap, nullptr);
  BaseSelect::Free(heap);
}

// An operation that needs a larger block fails without changing anything when it cannot have
// one; removing runs needs no memory and cannot fail.
TEST(BaseSelect, FailedAllocationsLeaveTheSelectionAsItWas) {
  struct Op {
    const char* what;
    bool needsMemory;
    bool (*run)(BaseSelect&);
  } ops[] = {
      {"new run", true, [](BaseSelect& s) { return s.Select(50); }},
      {"new first run", true, [](BaseSelect& s) { return s.Select(0); }},
      {"merge", false, [](BaseSelect& s) { return s.Select(12); }},
      {"split", true, [](BaseSelect& s) { return s.Deselect(21); }},
      {"remove run", false, [](BaseSelect& s) { return s.Deselect(30); }},
      {"insert", true, [](BaseSelect& s) { return s.InsertData(0, 6, 6); }},
      {"flush", false, [](BaseSelect& s) { return s.FlushData(1); }},
      {"copy from", true,
       [](BaseSelect& s) {
         BaseSelectData r[] = {{1, 2}};
         return s.CopyFrom(r, 1);
       }},
  };
  // Runs copied in fill their block exactly: the next new run needs a larger one.
  const BaseSelectData runs[] = {{2, 3}, {10, 11}, {13, 13}, {20, 22}, {30, 30}};
  for (const Op& op : ops) {
    BaseSelect sel, expected;
    ASSERT_TRUE(sel.CopyFrom(runs, 5));
    ASSERT_TRUE(expected.CopyFrom(runs, 5));
    ASSERT_TRUE(op.run(expected)) << op.what;
    const Runs before = RunsOf(sel);
    const Int32 lastSelected = sel.GetLastSelected();
    bool done;
    {
      lumtest::ScopedAllocFailure fail(1);
      done = op.run(sel);
    }
    EXPECT_EQ(!op.needsMemory, done) << op.what;
    if (!done) {
      EXPECT_EQ(RunsOf(sel), before) << op.what;
      EXPECT_EQ(sel.GetLastSelected(), lastSelected) << op.what;
      EXPECT_TRUE(op.run(sel)) << op.what;
    }
    EXPECT_EQ(RunsOf(sel), RunsOf(expected)) << op.what;
    EXPECT_EQ(sel.GetLastSelected(), expected.GetLastSelected()) << op.what;
  }
  BaseSelect src, dest;
  ASSERT_TRUE(src.Select(1));
  ASSERT_TRUE(dest.Select(7));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(src.CopyTo(&dest));
  }
  EXPECT_EQ(RunsOf(dest), (Runs{{7, 7}}));
}

// Building a selection run by run in index order grows its block geometrically: the number of
// reallocations grows with the logarithm of the runs, not with the runs. Deselecting most of
// them again gives the room back. Seen from outside, the runs are the same as ever.
TEST(BaseSelect, InOrderBuildingReallocatesRarely) {
  BaseSelect sel;
  const std::int64_t before = lumtest::AllocationCalls();
  for (Int32 i = 0; i < 100000; ++i) ASSERT_TRUE(sel.Select(2 * i));
  EXPECT_LT(lumtest::AllocationCalls() - before, 40);
  ASSERT_EQ(100000, sel.GetSegments());
  EXPECT_EQ(100000, sel.GetCount());
  EXPECT_EQ(0, sel.GetLastSelected());  // only new runs: never extended
  for (Int32 i = 0; i < 100000; i += 997) {
    Int32 first = -1, last = -1;
    ASSERT_TRUE(sel.GetRange(i, &first, &last));
    EXPECT_EQ(2 * i, first);
    EXPECT_EQ(2 * i, last);
  }
  // Joining every pair of runs halves them, in place.
  for (Int32 i = 0; i < 100000; i += 2) ASSERT_TRUE(sel.Select(2 * i + 1));
  EXPECT_EQ(50000, sel.GetSegments());
  EXPECT_EQ(150000, sel.GetCount());
  for (Int32 i = 0; i < 50000; i += 499) {
    Int32 first = -1, last = -1;
    ASSERT_TRUE(sel.GetRange(i, &first, &last));
    EXPECT_EQ(4 * i, first);
    EXPECT_EQ(4 * i + 2, last);
  }
  // Emptied from the back: the block shrinks as it goes (a few reallocations), and where no
  // memory can be had, removing runs still works.
  const std::int64_t calls = lumtest::AllocationCalls();
  for (Int32 i = 49999; i >= 30000; --i) ASSERT_TRUE(sel.FlushData(i));
  EXPECT_GT(lumtest::AllocationCalls(), calls);
  EXPECT_LT(lumtest::AllocationCalls() - calls, 10);
  {
    lumtest::ScopedAllocFailure fail(1, true);
    for (Int32 i = 29999; i >= 10; --i) ASSERT_TRUE(sel.FlushData(i));
  }
  EXPECT_EQ(10, sel.GetSegments());
  EXPECT_EQ(RunsOf(sel), (Runs{{0, 2},
                               {4, 6},
                               {8, 10},
                               {12, 14},
                               {16, 18},
                               {20, 22},
                               {24, 26},
                               {28, 30},
                               {32, 34},
                               {36, 38}}));
  for (Int32 i = 0; i < 10; ++i) ASSERT_TRUE(sel.FlushData(0));
  EXPECT_EQ(nullptr, sel.GetData());
}

// ---- DynamicBlockArray ----

namespace {

using IntBlocks = DynamicBlockArray<Int32, 32, 512>;

std::vector<Int32> Layout(const IntBlocks& a) {
  std::vector<Int32> used;
  for (Int32 b = 0; b < a.GetBlockCount(); ++b) used.push_back(a.GetUsed(b));
  return used;
}

std::vector<Int32> Capacities(const IntBlocks& a) {
  std::vector<Int32> caps;
  for (Int32 b = 0; b < a.GetBlockCount(); ++b) caps.push_back(a.GetCapacity(b));
  return caps;
}

std::vector<Int32> Values(const IntBlocks& a) {
  std::vector<Int32> v;
  for (Int32 b = 0; b < a.GetBlockCount(); ++b)
    for (Int32 s = 0; s < a.GetUsed(b); ++s) v.push_back(a.At(b, s));
  return v;
}

void Fill(IntBlocks& a, Int32 n) {
  for (Int32 i = 0; i < n; ++i) ASSERT_TRUE(a.AddData(i));
}

// Inserts value before overall index i, the way a caller holding a (block, slot) would.
bool InsertAtIndex(IntBlocks& a, Int32 i, Int32 value, Int32* where = nullptr) {
  Int32 b, s;
  if (i == a.GetCount()) {
    b = a.GetBlockCount() - 1;
    s = b >= 0 ? a.GetUsed(b) : 0;
    if (b < 0) b = 0;
  } else if (!a.IndexToPosition(i, &b, &s)) {
    return false;
  }
  return a.InsertData(b, s, value, where);
}

}  // namespace

TEST(DynamicBlockArray, AppendsFillBlocksOf512AndDoubleCapacities) {
  IntBlocks a;
  Fill(a, 600);
  EXPECT_EQ(Layout(a), (std::vector<Int32>{512, 88}));
  EXPECT_EQ(Capacities(a), (std::vector<Int32>{512, 128}));
  EXPECT_EQ(a.GetGap(1), 0);
  Fill(a, 1);  // one more: the last block, not a new one
  EXPECT_EQ(Layout(a), (std::vector<Int32>{512, 89}));
  IntBlocks small;
  std::vector<Int32> caps;
  for (Int32 i = 0; i < 513; ++i) {
    ASSERT_TRUE(small.AddData(i));
    if (caps.empty() || caps.back() != small.GetCapacity(small.GetBlockCount() - 1))
      caps.push_back(small.GetCapacity(small.GetBlockCount() - 1));
  }
  EXPECT_EQ(caps, (std::vector<Int32>{32, 64, 128, 256, 512, 32}));
}

TEST(DynamicBlockArray, InsertIntoAFullBlockSpillsToTheNextBlock) {
  IntBlocks a;
  Fill(a, 612);  // [512][100 of 128]
  std::vector<Int32> model = Values(a);
  Int32 where = -1;
  // Room in the next block after doubling is 156, but only 12 runs lie behind slot 500.
  ASSERT_TRUE(InsertAtIndex(a, 500, -1, &where));
  model.insert(model.begin() + 500, -1);
  EXPECT_EQ(Layout(a), (std::vector<Int32>{501, 112}));
  EXPECT_EQ(where, 500);
  EXPECT_EQ(Values(a), model);
  EXPECT_EQ(BlockProblems(a), "");
  IntBlocks b;
  Fill(b, 612);
  model = Values(b);
  ASSERT_TRUE(InsertAtIndex(b, 10, -2, &where));  // 156 runs move: the next block doubles
  model.insert(model.begin() + 10, -2);
  EXPECT_EQ(Layout(b), (std::vector<Int32>{357, 256}));
  EXPECT_EQ(Capacities(b), (std::vector<Int32>{512, 256}));
  EXPECT_EQ(Values(b), model);
  // After the last slot of a full block: the front of the next block.
  IntBlocks c;
  Fill(c, 612);
  ASSERT_TRUE(c.InsertData(0, 512, -3, &where));
  EXPECT_EQ(where, 512);
  EXPECT_EQ(Layout(c), (std::vector<Int32>{512, 101}));
  EXPECT_EQ(c.At(1, 0), -3);
}

TEST(DynamicBlockArray, InsertIntoAFullBlockSpillsToThePreviousBlock) {
  IntBlocks a;
  Fill(a, 1024);
  for (int i = 0; i < 412; ++i) a.Remove(0, 0);  // [100 of 128][512]
  ASSERT_EQ(Layout(a), (std::vector<Int32>{100, 512}));
  ASSERT_EQ(Capacities(a), (std::vector<Int32>{128, 512}));
  std::vector<Int32> model = Values(a);
  Int32 where = -1;
  ASSERT_TRUE(a.InsertData(1, 300, -1, &where));  // 156 front runs move back, at most 300
  model.insert(model.begin() + 400, -1);
  EXPECT_EQ(Layout(a), (std::vector<Int32>{256, 357}));
  EXPECT_EQ(where, 512 + 144);
  EXPECT_EQ(Values(a), model);
  EXPECT_EQ(BlockProblems(a), "");
  // At most s runs move: inserting before slot 3 moves 3 runs.
  IntBlocks b;
  Fill(b, 1024);
  for (int i = 0; i < 412; ++i) b.Remove(0, 0);
  model = Values(b);
  ASSERT_TRUE(b.InsertData(1, 3, -2, &where));
  model.insert(model.begin() + 103, -2);
  EXPECT_EQ(Layout(b), (std::vector<Int32>{103, 510}));
  EXPECT_EQ(Values(b), model);
  // Before the first slot: the end of the previous block.
  IntBlocks c;
  Fill(c, 1024);
  for (int i = 0; i < 412; ++i) c.Remove(0, 0);
  ASSERT_TRUE(c.InsertData(1, 0, -3, &where));
  EXPECT_EQ(where, 100);
  EXPECT_EQ(Layout(c), (std::vector<Int32>{101, 512}));
  EXPECT_EQ(c.At(0, 100), -3);
}

TEST(DynamicBlockArray, InsertIntoFullBlocksWithoutRoomSplitsOffANewBlock) {
  IntBlocks a;
  Fill(a, 1024);  // [512][512]
  std::vector<Int32> model = Values(a);
  Int32 where = -1;
  ASSERT_TRUE(a.InsertData(0, 100, -1, &where));  // a new block takes the last 32
  model.insert(model.begin() + 100, -1);
  EXPECT_EQ(Layout(a), (std::vector<Int32>{481, 32, 512}));
  EXPECT_EQ(Capacities(a), (std::vector<Int32>{512, 32, 512}));
  EXPECT_EQ(Values(a), model);
  EXPECT_EQ(BlockProblems(a), "");
  IntBlocks b;
  Fill(b, 1024);
  ASSERT_TRUE(b.InsertData(1, 500, -2, &where));  // only 12 behind the slot
  EXPECT_EQ(Layout(b), (std::vector<Int32>{512, 501, 12}));
  EXPECT_EQ(BlockProblems(b), "");
  // After the last slot, previous and next full: a block of its own.
  IntBlocks c;
  Fill(c, 1536);
  ASSERT_TRUE(c.InsertData(1, 512, -3, &where));
  EXPECT_EQ(Layout(c), (std::vector<Int32>{512, 512, 1, 512}));
  EXPECT_EQ(where, 1024);
  EXPECT_EQ(c.At(2, 0), -3);
}

TEST(DynamicBlockArray, RemovingHalvesBlocksDropsEmptyOnesAndShrinksTheTable) {
  IntBlocks a;
  Fill(a, 512);
  for (int i = 0; i < 256; ++i) a.Remove(0, 0);
  EXPECT_EQ(Capacities(a), (std::vector<Int32>{256}));
  for (int i = 0; i < 224; ++i) a.Remove(0, 10);
  EXPECT_EQ(Capacities(a), (std::vector<Int32>{32}));
  EXPECT_EQ(Layout(a), (std::vector<Int32>{32}));
  while (a.GetCount() > 0) a.Remove(0, 0);
  EXPECT_EQ(a.GetBlockCount(), 0);

  IntBlocks big;
  Fill(big, 130 * 512);
  EXPECT_EQ(big.GetBlockCount(), 130);
  EXPECT_EQ(big.GetTableCapacity(), 256);
  for (int b = 0; b < 2; ++b)
    for (int i = 0; i < 512; ++i) big.Remove(0, 0);
  EXPECT_EQ(big.GetBlockCount(), 128);
  EXPECT_EQ(big.GetTableCapacity(), 128);
  EXPECT_EQ(big.At(0, 0), 1024);
  EXPECT_EQ(BlockProblems(big), "");
}

TEST(DynamicBlockArray, RandomInsertsAndRemovesKeepOrderAndBlockRules) {
  std::mt19937 rng(99);
  IntBlocks a;
  std::vector<Int32> model;
  for (int step = 0; step < 40000; ++step) {
    bool grow = model.size() < 3000 ? rng() % 100 < 70 : rng() % 100 < 30;
    if (grow || model.empty()) {
      Int32 i = Int32(rng() % (model.size() + 1));
      Int32 where = -1;
      ASSERT_TRUE(InsertAtIndex(a, i, step, &where));
      model.insert(model.begin() + i, step);
      ASSERT_EQ(a.At(where / 512, where % 512), step);
      ASSERT_EQ(a.PositionToIndex(where / 512, where % 512), i);
    } else {
      Int32 i = Int32(rng() % model.size()), b, s;
      ASSERT_TRUE(a.IndexToPosition(i, &b, &s));
      ASSERT_EQ(a.At(b, s), model[i]);
      a.Remove(b, s);
      model.erase(model.begin() + i);
    }
    if (step % 500 == 0) {
      ASSERT_EQ(Values(a), model) << step;
      ASSERT_EQ(BlockProblems(a), "") << step;
    }
  }
  EXPECT_EQ(Values(a), model);
}

TEST(DynamicBlockArray, SetCountLaysOutFullBlocksAndKeepsTheFirstElements) {
  IntBlocks a;
  Fill(a, 700);
  ASSERT_TRUE(a.SetCount(1100));
  EXPECT_EQ(Layout(a), (std::vector<Int32>{512, 512, 76}));
  EXPECT_EQ(Capacities(a), (std::vector<Int32>{512, 512, 128}));
  std::vector<Int32> v = Values(a);
  for (Int32 i = 0; i < 700; ++i) ASSERT_EQ(v[i], i);
  for (Int32 i = 700; i < 1100; ++i) ASSERT_EQ(v[i], 0);
  ASSERT_TRUE(a.SetCount(20));
  EXPECT_EQ(Layout(a), (std::vector<Int32>{20}));
  EXPECT_EQ(Capacities(a), (std::vector<Int32>{32}));
  EXPECT_EQ(a.At(0, 19), 19);
  {
    lumtest::ScopedAllocFailure fail(2);
    EXPECT_FALSE(a.SetCount(2000));
  }
  EXPECT_EQ(Layout(a), (std::vector<Int32>{20}));
  ASSERT_TRUE(a.SetCount(0));
  EXPECT_EQ(a.GetBlockCount(), 0);
  EXPECT_FALSE(a.SetCount(-1));
}

TEST(DynamicBlockArray, FailedInsertsLeaveEverythingInPlace) {
  // Each layout takes a different path: growing a block, doubling the next or the previous
  // block, a new block, a new block that also grows the table.
  struct Case {
    const char* what;
    Int32 fill, trimBlock, trim, block, slot, failAt;
  } cases[] = {{"grow block", 32, 0, 0, 0, 5, 1},
               {"spill to next", 1024 + 32, 1, 480, 0, 5, 1},  // [512][32 of 32][32]
               {"spill to previous", 1024, 0, 480, 1, 5, 1},   // [32 of 32][512]
               {"new block", 1024, 0, 0, 0, 5, 1},
               {"table of the new block", 128 * 512, 0, 0, 3, 5, 2}};
  for (const Case& c : cases) {
    IntBlocks a;
    Fill(a, c.fill);
    for (Int32 i = 0; i < c.trim; ++i) a.Remove(c.trimBlock, 0);
    std::vector<Int32> before = Values(a), layout = Layout(a), caps = Capacities(a);
    {
      lumtest::ScopedAllocFailure fail(c.failAt);
      EXPECT_FALSE(a.InsertData(c.block, c.slot, -1, nullptr)) << c.what;
    }
    EXPECT_EQ(Values(a), before) << c.what;
    EXPECT_EQ(Layout(a), layout) << c.what;
    EXPECT_EQ(Capacities(a), caps) << c.what;
    EXPECT_TRUE(a.InsertData(c.block, c.slot, -1, nullptr)) << c.what;
    EXPECT_EQ(BlockProblems(a), "") << c.what;
  }
}

// ---- SelectBlockArray ----

TEST(SelectBlockArray, DeselectingAnInnerIndexSplitsTheRun) {
  SelectBlockArray sel;
  for (Int32 v : {5, 6, 7}) ASSERT_TRUE(sel.Select(v));
  EXPECT_EQ(RunsOf(sel), (Runs{{5, 7}}));
  ASSERT_TRUE(sel.Deselect(6));
  EXPECT_EQ(RunsOf(sel), (Runs{{5, 5}, {7, 7}}));
  EXPECT_EQ(sel.GetCount(), 2);
  ASSERT_TRUE(sel.Deselect(5));
  ASSERT_TRUE(sel.Deselect(5));
  EXPECT_EQ(RunsOf(sel), (Runs{{7, 7}}));
  ASSERT_TRUE(sel.Select(6));
  ASSERT_TRUE(sel.Select(8));
  EXPECT_EQ(RunsOf(sel), (Runs{{6, 8}}));
  ASSERT_TRUE(sel.Deselect(6));
  ASSERT_TRUE(sel.Deselect(8));
  EXPECT_EQ(RunsOf(sel), (Runs{{7, 7}}));
  EXPECT_EQ(sel.GetCount(), 1);
  sel.DeselectAll();
  EXPECT_EQ(sel.GetSegments(), 0);
  EXPECT_EQ(sel.GetCount(), 0);
  EXPECT_TRUE(sel.Deselect(3));
}

TEST(SelectBlockArray, SixHundredSeparateRunsOccupyTwoBlocks) {
  SelectBlockArray sel;
  for (Int32 i = 0; i < 600; ++i) ASSERT_TRUE(sel.Select(i * 2));
  const SelectArrayData& blocks = sel.GetBlocks();
  ASSERT_EQ(blocks.GetBlockCount(), 2);
  EXPECT_EQ(blocks.GetUsed(0), 512);
  EXPECT_EQ(blocks.GetUsed(1), 88);
  EXPECT_EQ(sel.GetSegments(), 600);
  Int32 first = 0, last = 0;
  ASSERT_TRUE(sel.GetRange(599, &first, &last));
  EXPECT_EQ(first, 1198);
  ASSERT_TRUE(sel.GetRange(512, &first, &last));
  EXPECT_EQ(first, 1024);
  EXPECT_FALSE(sel.GetRange(600, &first, &last));
  // Iteration crosses from the end of block 0 to the start of block 1.
  Int32 cursor = 511;
  ASSERT_TRUE(sel.GetBlockRange(&cursor, &first, &last));
  EXPECT_EQ(first, 1022);
  EXPECT_EQ(cursor, 512);
  cursor = 512 + 87;
  ASSERT_TRUE(sel.GetBlockRange(&cursor, &first, &last));
  EXPECT_FALSE(sel.GetBlockRange(&cursor, &first, &last));
  // A cursor past the used slots of a block goes on with the next block.
  SelectBlockArray two;
  for (Int32 i = 0; i < 700; ++i) ASSERT_TRUE(two.Select(i * 2));
  ASSERT_TRUE(two.Deselect(1398));  // [512][187]
  cursor = 1 * 512 + 300;
  EXPECT_FALSE(two.GetBlockRange(&cursor, &first, &last));
  cursor = 0 * 512 + 511;
  ASSERT_TRUE(two.GetBlockRange(&cursor, &first, &last));
  ASSERT_TRUE(two.GetBlockRange(&cursor, &first, &last));
  EXPECT_EQ(first, 1024);
}

TEST(SelectBlockArray, RandomSelectsAndDeselectsMatchASetAcrossManyBlocks) {
  std::mt19937 rng(2024);
  SelectBlockArray sel;
  std::set<Int32> oracle;
  Int64 runs = 0, maxRuns = 0;
  const Int32 range = 160000;
  for (int step = 0; step < 400000; ++step) {
    // Build up to tens of thousands of runs, thin out, build up again.
    int phase = (step / 100000) % 2;
    bool adding = Int32(rng() % 100) < (phase == 0 ? 60 : 40);
    // A third of the edits go to a narrow window, so that runs grow, merge and split often.
    Int32 v = (rng() % 3) ? Int32(rng() % range) : Int32(80000 + rng() % 200);
    bool had = oracle.count(v) != 0;
    if (adding) {
      ASSERT_TRUE(sel.Select(v));
      if (!had) {
        runs += RunDelta(oracle, v, true);
        oracle.insert(v);
      }
    } else {
      ASSERT_TRUE(sel.Deselect(v));
      if (had) {
        runs += RunDelta(oracle, v, false);
        oracle.erase(v);
      }
    }
    maxRuns = std::max(maxRuns, runs);
    ASSERT_EQ(sel.GetCount(), Int32(oracle.size())) << step;
    ASSERT_EQ(sel.GetSegments(), runs) << step;
    for (Int32 w = v - 1; w <= v + 1; ++w) ASSERT_EQ(sel.IsSelected(w), oracle.count(w) != 0);
    if (step % 10000 == 0) {
      ASSERT_EQ(RunsOf(sel), RunsOf(oracle)) << step;
      ASSERT_EQ(BlockProblems(sel.GetBlocks()), "") << step;
    }
  }
  EXPECT_GT(maxRuns, 20000);
  EXPECT_EQ(RunsOf(sel), RunsOf(oracle));
  // Run by run through the overall index as well.
  Runs expect = RunsOf(oracle);
  for (Int32 i = 0; i < Int32(expect.size()); i += 97) {
    Int32 first, last;
    ASSERT_TRUE(sel.GetRange(i, &first, &last));
    ASSERT_EQ(first, expect[i].first);
    ASSERT_EQ(last, expect[i].second);
  }
}

TEST(SelectBlockArray, ConvertsToAndFromBaseSelect) {
  SelectBlockArray sel;
  std::set<Int32> oracle;
  for (Int32 i = 0; i < 1300; ++i) {
    Int32 v = i * 3 + (i % 5 == 0);
    ASSERT_TRUE(sel.Select(v));
    oracle.insert(v);
  }
  BaseSelect flat;
  ASSERT_TRUE(flat.Select(99999));
  ASSERT_TRUE(sel.CopyTo(&flat));
  EXPECT_EQ(RunsOf(flat), RunsOf(oracle));
  SelectBlockArray back;
  ASSERT_TRUE(back.Select(-5));
  ASSERT_TRUE(back.CopyFrom(&flat));
  EXPECT_EQ(RunsOf(back), RunsOf(oracle));
  EXPECT_EQ(back.GetCount(), Int32(oracle.size()));
  const SelectArrayData& blocks = back.GetBlocks();
  std::vector<Int32> used;
  for (Int32 b = 0; b < blocks.GetBlockCount(); ++b) used.push_back(blocks.GetUsed(b));
  Int32 n = Int32(RunsOf(oracle).size());
  std::vector<Int32> expect(size_t(n / 512), 512);
  if (n % 512) expect.push_back(n % 512);
  EXPECT_EQ(used, expect);
  // Edits after the conversion keep working.
  ASSERT_TRUE(back.Select(1));
  oracle.insert(1);
  ASSERT_TRUE(back.Deselect(3));
  oracle.erase(3);
  EXPECT_EQ(RunsOf(back), RunsOf(oracle));

  SelectBlockArray copy;
  ASSERT_TRUE(back.CopyTo(&copy));
  EXPECT_EQ(RunsOf(copy), RunsOf(back));
  EXPECT_EQ(copy.GetCount(), back.GetCount());
  SelectBlockArray empty;
  ASSERT_TRUE(empty.CopyTo(&flat));
  EXPECT_EQ(flat.GetSegments(), 0);
}

TEST(SelectBlockArray, FailedAllocationsLeaveTheSelectionAsItWas) {
  // Runs {6i, 6i + 2} in two full blocks: a new run or a split needs a new block.
  SelectBlockArray sel;
  for (Int32 i = 0; i < 1024; ++i)
    for (Int32 d = 0; d < 3; ++d) ASSERT_TRUE(sel.Select(i * 6 + d));
  ASSERT_EQ(sel.GetBlocks().GetBlockCount(), 2);
  Runs before = RunsOf(sel);
  Int32 count = sel.GetCount();
  struct {
    const char* what;
    bool (*op)(SelectBlockArray&);
  } ops[] = {{"select new run", [](SelectBlockArray& s) { return s.Select(4); }},
             {"select below all", [](SelectBlockArray& s) { return s.Select(-10); }},
             {"split", [](SelectBlockArray& s) { return s.Deselect(1); }},
             {"split in the second block", [](SelectBlockArray& s) { return s.Deselect(4201); }}};
  for (auto& op : ops) {
    SelectBlockArray work;
    ASSERT_TRUE(sel.CopyTo(&work));
    {
      lumtest::ScopedAllocFailure fail(1, true);
      EXPECT_FALSE(op.op(work)) << op.what;
    }
    EXPECT_EQ(RunsOf(work), before) << op.what;
    EXPECT_EQ(work.GetCount(), count) << op.what;
    EXPECT_TRUE(op.op(work)) << op.what;
    EXPECT_EQ(work.GetSegments(), 1025) << op.what;
    EXPECT_EQ(BlockProblems(work.GetBlocks()), "") << op.what;
  }
  SelectBlockArray dest;
  ASSERT_TRUE(dest.Select(7));
  {
    lumtest::ScopedAllocFailure fail(2);
    EXPECT_FALSE(sel.CopyTo(&dest));
  }
  EXPECT_EQ(RunsOf(dest), (Runs{{7, 7}}));
  BaseSelect flat;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(sel.CopyTo(&flat));
  }
  EXPECT_EQ(flat.GetSegments(), 0);
  ASSERT_TRUE(flat.Select(3));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(dest.CopyFrom(&flat));
  }
  EXPECT_EQ(RunsOf(dest), (Runs{{7, 7}}));
  EXPECT_EQ(dest.GetCount(), 1);
}

// ---- Bit sets ----

TEST(BitArray, SetsAndTestsBitsAndIgnoresIndicesOutside) {
  BitArray bits;
  EXPECT_FALSE(bits.IsSelected(0));
  bits.Select(0);  // no words yet: ignored
  ASSERT_TRUE(bits.Init(70));
  EXPECT_EQ(bits.GetWordCount(), 3);
  for (Int32 i : {0, 31, 32, 69, 31}) bits.Select(i);
  EXPECT_EQ(bits.GetCount(), 4);
  EXPECT_TRUE(bits.IsSelected(31));
  EXPECT_TRUE(bits.IsSelected(32));
  EXPECT_FALSE(bits.IsSelected(33));
  EXPECT_EQ(bits.GetWords()[0], 0x80000001u);
  EXPECT_EQ(bits.GetWords()[1], 0x00000001u);
  EXPECT_EQ(bits.GetWords()[2], 0x00000020u);
  bits.Select(70);
  bits.Select(-1);
  bits.Select(1000000);
  EXPECT_EQ(bits.GetCount(), 4);
  EXPECT_FALSE(bits.IsSelected(70));
  EXPECT_FALSE(bits.IsSelected(-1));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(bits.Init(10));
  }
  EXPECT_EQ(bits.GetBitCount(), 70);
  EXPECT_TRUE(bits.IsSelected(69));
  ASSERT_TRUE(bits.Init(0));
  EXPECT_EQ(bits.GetWordCount(), 0);
  EXPECT_EQ(bits.GetCount(), 0);
  EXPECT_FALSE(bits.Init(-3));
}

TEST(SelectBitArray, CopiesHeaderWordsAndWords) {
  SelectBitArray a, b;
  EXPECT_EQ(a.GetFirst(), 64u);
  EXPECT_EQ(a.GetSecond(), 0u);
  EXPECT_EQ(a.GetFourth(), 0u);
  EXPECT_EQ(a.GetFifth(), -1);
  ASSERT_TRUE(a.SetWordCount(3));
  a.GetWords()[2] = -5;
  a.SetHeader(1, 2, 4, 5);
  ASSERT_TRUE(a.CopyTo(&b));
  EXPECT_EQ(b.GetWordCount(), 3u);
  EXPECT_EQ(b.GetWords()[2], -5);
  EXPECT_EQ(b.GetFirst(), 1u);
  EXPECT_EQ(b.GetFifth(), 5);
  SelectBitArray c;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(a.CopyTo(&c));
  }
  EXPECT_EQ(c.GetWordCount(), 0u);
  SelectBitArray empty;
  ASSERT_TRUE(empty.CopyTo(&b));
  EXPECT_EQ(b.GetWordCount(), 0u);
  EXPECT_EQ(b.GetWords(), nullptr);
  EXPECT_EQ(b.GetFirst(), 64u);
}

// ---- File forms ----

namespace {

using Bytes = std::vector<unsigned char>;

// A stream over bytes the reader keeps.
struct Reader : lumtest::MemReader {
  using lumtest::MemReader::MemReader;
  // Reads the chunk start that a selection's Read expects to have been consumed.
  bool Start(Int32* id, Int32* level) {
    HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
    return hf.ReadValueHeader(&kind) && kind == HYPERFILEVALUE_CHUNKSTART &&
           hf.ReadChunkStart(id, level);
  }
};

BaseSelect* MakeSelect(std::initializer_list<Int32> indices) {
  BaseSelect* s = BaseSelect::Alloc();
  for (Int32 v : indices) EXPECT_TRUE(s->Select(v));
  return s;
}

}  // namespace

TEST(BaseSelectFile, WriteStoresChunk110011WithRunsAndLastSelected) {
  BaseSelect* sel = MakeSelect({5, 6, 7, 10});
  ASSERT_EQ(sel->GetLastSelected(), 7);
  Bytes bytes = lumtest::WriteStream([&](HyperFile& hf) { return sel->Write(&hf); });
  EXPECT_EQ(lumtest::ToHex(bytes), lumtest::NormHex("01 0001adbb 00000001  0f00000002"
                                                    "  0f00000005 0f00000007  0f0000000a 0f0000000a"
                                                    "  0f00000007  02"));
  BaseSelect empty;
  bytes = lumtest::WriteStream([&](HyperFile& hf) { return empty.Write(&hf); });
  EXPECT_EQ(lumtest::ToHex(bytes),
            lumtest::NormHex("01 0001adbb 00000001 0f00000000 0f00000000 02"));
  BaseSelect::Free(sel);
}

TEST(BaseSelectFile, ReadTakesRunsByLevelAndSkipsToTheChunkEnd) {
  // Runs {1,3} {8,8}, last selected 3, then a value and a nested chunk a later writer added,
  // then a value after the chunk.
  const std::string chunk =
      "01 0001adbb 00000001  0f00000002 0f00000001 0f00000003 0f00000008 0f00000008"
      "  0f00000003  0f00000063  01 00000005 00000000 0f00000001 02  02  0f0000002a";
  for (Int32 level : {0, 1, 7}) {
    Reader r(chunk);
    Int32 id = 0, lvl = 0;
    ASSERT_TRUE(r.Start(&id, &lvl));
    BaseSelect sel;
    ASSERT_TRUE(sel.Select(50));
    ASSERT_TRUE(sel.Select(51));  // last selected 51
    ASSERT_TRUE(sel.Read(&r.hf, id, level)) << level;
    EXPECT_EQ(RunsOf(sel), (Runs{{1, 3}, {8, 8}})) << level;
    EXPECT_EQ(sel.GetLastSelected(), level > 0 ? 3 : 51) << level;
    EXPECT_EQ(r.hf.GetChunkDepth(), 0);
    Int32 after = 0;
    EXPECT_TRUE(r.hf.ReadInt32(&after));
    EXPECT_EQ(after, 42);
  }
  // A negative level only skips; another id is not taken at all.
  Reader r(chunk);
  Int32 id = 0, lvl = 0;
  ASSERT_TRUE(r.Start(&id, &lvl));
  BaseSelect sel;
  ASSERT_TRUE(sel.Select(9));
  EXPECT_FALSE(sel.Read(&r.hf, 110012, 1));
  EXPECT_TRUE(sel.Read(&r.hf, id, -1));
  EXPECT_EQ(RunsOf(sel), (Runs{{9, 9}}));
  Int32 after = 0;
  EXPECT_TRUE(r.hf.ReadInt32(&after));
  EXPECT_EQ(after, 42);
}

TEST(BaseSelectFile, RoundTripThroughARealFile) {
  std::mt19937 rng(8);
  BaseSelect sel;
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(sel.Select(Int32(rng() % 20000)));
  std::string path = lumtest::TempPath("select.bin");
  {
    HyperFile hf;
    ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_WRITE));
    ASSERT_TRUE(sel.Write(&hf));
    ASSERT_TRUE(sel.Write_API(&hf));
    ASSERT_TRUE(hf.Close());
  }
  HyperFile hf;
  ASSERT_TRUE(hf.Open(Filename(path.c_str()), FILEOPEN_READ));
  HYPERFILEVALUE kind;
  Int32 id, level;
  ASSERT_TRUE(hf.ReadValueHeader(&kind));
  ASSERT_TRUE(hf.ReadChunkStart(&id, &level));
  BaseSelect chunk, api;
  ASSERT_TRUE(chunk.Read(&hf, id, level));
  ASSERT_TRUE(api.Read_API(&hf));
  EXPECT_EQ(RunsOf(chunk), RunsOf(sel));
  EXPECT_EQ(chunk.GetLastSelected(), sel.GetLastSelected());
  EXPECT_EQ(RunsOf(api), RunsOf(sel));
}

TEST(BaseSelectFile, ReadRejectsBadCountsAndShortChunksWithoutChange) {
  struct {
    const char* what;
    std::string hex;
    FILEERROR error;
  } cases[] = {
      {"negative count", "01 0001adbb 00000001 0f ffffffff 0f00000000 02", FILEERROR_WRONG_VALUE},
      {"count beyond the file", "01 0001adbb 00000001 0f 10000000 0f00000001 0f00000001 02",
       FILEERROR_READ},
      {"cut inside the runs", "01 0001adbb 00000001 0f00000002 0f00000001 0f00000003 0f000000",
       FILEERROR_READ},
      {"no last selected", "01 0001adbb 00000001 0f00000001 0f00000001 0f00000003 02",
       FILEERROR_WRONG_VALUE},
  };
  for (auto& c : cases) {
    Reader r(c.hex);
    Int32 id, level;
    ASSERT_TRUE(r.Start(&id, &level));
    BaseSelect sel;
    ASSERT_TRUE(sel.Select(4));
    EXPECT_FALSE(sel.Read(&r.hf, id, level)) << c.what;
    EXPECT_EQ(r.hf.GetError(), c.error) << c.what;
    EXPECT_EQ(RunsOf(sel), (Runs{{4, 4}})) << c.what;
  }
  // The runs are read but the chunk never ends: no success is reported.
  Reader r("01 0001adbb 00000000 0f00000001 0f00000001 0f00000003 0f00000009");
  Int32 id, level;
  ASSERT_TRUE(r.Start(&id, &level));
  BaseSelect sel;
  EXPECT_FALSE(sel.Read(&r.hf, id, level));
}

TEST(BaseSelectFile, ReadReportsOutOfMemory) {
  Reader r("01 0001adbb 00000001 0f00000001 0f00000001 0f00000003 0f00000000 02");
  Int32 id, level;
  ASSERT_TRUE(r.Start(&id, &level));
  BaseSelect sel;
  ASSERT_TRUE(sel.Select(4));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(sel.Read(&r.hf, id, level));
  }
  EXPECT_EQ(r.hf.GetError(), FILEERROR_OUTOFMEMORY);
  EXPECT_EQ(RunsOf(sel), (Runs{{4, 4}}));
}

TEST(BaseSelectFile, ApiFormSortsAndMergesRunsLikeSelectingEachIndex) {
  BaseSelect* sel = MakeSelect({1, 2, 5, 6});
  Bytes bytes = lumtest::WriteStream([&](HyperFile& hf) { return sel->Write_API(&hf); });
  EXPECT_EQ(lumtest::ToHex(bytes),
            lumtest::NormHex("0f00000000 0f00000002 0f00000001 0f00000002 0f00000005 0f00000006"));
  BaseSelect::Free(sel);
  {
    // Stored out of order.
    Reader r("0f00000000 0f00000002 0f00000005 0f00000006 0f00000001 0f00000002");
    BaseSelect got;
    ASSERT_TRUE(got.Read_API(&r.hf));
    EXPECT_EQ(RunsOf(got), (Runs{{1, 2}, {5, 6}}));
  }
  {
    // A negative version: nothing further is read and nothing changes.
    Reader r("0f ffffffff 0f00000001 0f00000001 0f00000001");
    BaseSelect got;
    ASSERT_TRUE(got.Select(3));
    ASSERT_TRUE(got.Read_API(&r.hf));
    EXPECT_EQ(RunsOf(got), (Runs{{3, 3}}));
    Int32 next = 0;
    EXPECT_TRUE(r.hf.ReadInt32(&next));
    EXPECT_EQ(next, 1);
  }
  // Random runs, overlapping, touching, reversed and single: the same runs and last selected
  // as selecting the indices one by one.
  std::mt19937 rng(77);
  for (int round = 0; round < 300; ++round) {
    int n = 1 + int(rng() % 12);
    std::vector<std::pair<Int32, Int32>> stored;
    for (int i = 0; i < n; ++i) {
      Int32 a = Int32(rng() % 60), len = Int32(rng() % 6) - 1;
      stored.push_back({a, a + len});
    }
    BaseSelect expect;
    for (auto& run : stored)
      for (Int32 v = run.first; v <= run.second; ++v) ASSERT_TRUE(expect.Select(v));
    Bytes in = lumtest::WriteStream([&](HyperFile& hf) {
      bool ok = hf.WriteInt32(0) && hf.WriteInt32(Int32(stored.size()));
      for (auto& run : stored) ok = ok && hf.WriteInt32(run.first) && hf.WriteInt32(run.second);
      return ok;
    });
    Reader r(in);
    BaseSelect got;
    ASSERT_TRUE(got.Select(1000));
    ASSERT_TRUE(got.Read_API(&r.hf));
    ASSERT_EQ(RunsOf(got), RunsOf(expect)) << round;
    ASSERT_EQ(got.GetLastSelected(), expect.GetLastSelected()) << round;
  }
  {
    // A run over most of the index range is taken whole.
    Reader r("0f00000000 0f00000001 0f00000000 0f 7ffffffe");
    BaseSelect got;
    ASSERT_TRUE(got.Read_API(&r.hf));
    EXPECT_EQ(RunsOf(got), (Runs{{0, 0x7FFFFFFE}}));
    EXPECT_EQ(got.GetLastSelected(), 0x7FFFFFFE);
  }
}

TEST(BaseSelectFile, ApiFormFailuresLeaveTheSelectionUnchanged) {
  {
    Reader r("0f00000000 0f00000003 0f00000001 0f00000002 0f00000005");
    BaseSelect got;
    ASSERT_TRUE(got.Select(3));
    EXPECT_FALSE(got.Read_API(&r.hf));
    EXPECT_EQ(RunsOf(got), (Runs{{3, 3}}));
  }
  {
    Reader r("0f00000000 0f 40000000 0f00000001 0f00000002");
    BaseSelect got;
    EXPECT_FALSE(got.Read_API(&r.hf));
    EXPECT_EQ(r.hf.GetError(), FILEERROR_READ);
  }
  {
    Reader r("0f00000000 0f ffffffff");
    BaseSelect got;
    EXPECT_FALSE(got.Read_API(&r.hf));
    EXPECT_EQ(r.hf.GetError(), FILEERROR_WRONG_VALUE);
  }
  struct Ctx {
    Bytes in;
  } ctx{
      lumtest::FromHex("0f00000000 0f00000003 0f00000001 0f00000002 0f00000009 0f00000009"
                       " 0f00000004 0f00000006")};
  lumtest::SweepAllocationFailures(
      "Read_API",
      [](std::int64_t, void* p) {
        Ctx& c = *static_cast<Ctx*>(p);
        Reader r(c.in);
        BaseSelect got;
        if (!got.Select(20)) return true;  // the failure hit the setup
        bool ok = got.Read_API(&r.hf);
        if (ok) return RunsOf(got) == Runs{{1, 2}, {4, 6}, {9, 9}};
        return r.hf.GetError() == FILEERROR_OUTOFMEMORY && RunsOf(got) == Runs{{20, 20}};
      },
      &ctx);
}

TEST(SelectBlockFile, WritesTwoValuesPerRunAndReadsThemBack) {
  SelectBlockArray sel;
  for (Int32 v : {1, 2, 5}) ASSERT_TRUE(sel.Select(v));
  Bytes bytes = lumtest::WriteStream([&](HyperFile& hf) { return WriteSelectBlock(&hf, &sel); });
  EXPECT_EQ(lumtest::ToHex(bytes),
            lumtest::NormHex("0f00000004  8c 00000011 03 00000001 00000002 00000005 00000005"));
  SelectBlockArray empty;
  bytes = lumtest::WriteStream([&](HyperFile& hf) { return WriteSelectBlock(&hf, &empty); });
  EXPECT_EQ(lumtest::ToHex(bytes), lumtest::NormHex("0f00000000"));
  Reader r(bytes);
  SelectBlockArray got;
  ASSERT_TRUE(got.Select(8));
  ASSERT_TRUE(ReadSelectBlock(&r.hf, &got));
  EXPECT_EQ(got.GetSegments(), 0);
  EXPECT_EQ(got.GetCount(), 0);

  SelectBlockArray four;
  for (Int32 v : {0, 2, 3, 4, 9, 20}) ASSERT_TRUE(four.Select(v));
  ASSERT_EQ(four.GetSegments(), 4);
  Reader r4(lumtest::WriteStream([&](HyperFile& hf) { return WriteSelectBlock(&hf, &four); }));
  SelectBlockArray back;
  ASSERT_TRUE(ReadSelectBlock(&r4.hf, &back));
  EXPECT_EQ(back.GetSegments(), 4);
  EXPECT_EQ(RunsOf(back), RunsOf(four));
  EXPECT_EQ(back.GetCount(), 6);
}

TEST(SelectBlockFile, LargeSelectionsRoundTripIntoFullBlocks) {
  SelectBlockArray sel;
  for (Int32 i = 0; i < 3000; ++i) ASSERT_TRUE(sel.Select(i * 3 + (i & 1)));
  Reader r(lumtest::WriteStream([&](HyperFile& hf) { return WriteSelectBlock(&hf, &sel); }));
  SelectBlockArray back;
  ASSERT_TRUE(ReadSelectBlock(&r.hf, &back));
  EXPECT_EQ(RunsOf(back), RunsOf(sel));
  EXPECT_EQ(back.GetCount(), sel.GetCount());
  EXPECT_EQ(back.GetBlocks().GetBlockCount(), 6);
  EXPECT_EQ(back.GetBlocks().GetUsed(5), 3000 - 5 * 512);
  EXPECT_EQ(BlockProblems(back.GetBlocks()), "");
}

TEST(SelectBlockFile, OlderFilesHoldOneMemoryBlockOfLittleEndianPairs) {
  // 20 bytes: two whole pairs and half of a third.
  Reader r("80 00000014  01000000 02000000  07000000 09000000  0b000000", 11599);
  SelectBlockArray got;
  ASSERT_TRUE(ReadSelectBlock(&r.hf, &got));
  EXPECT_EQ(RunsOf(got), (Runs{{1, 2}, {7, 9}}));
  EXPECT_EQ(got.GetCount(), 5);
  // An odd count in the current layout: the last value belongs to no run.
  Reader odd("0f00000003  8c 0000000d 03 00000001 00000002 00000005");
  ASSERT_TRUE(ReadSelectBlock(&odd.hf, &got));
  EXPECT_EQ(RunsOf(got), (Runs{{1, 2}}));
}

TEST(SelectBlockFile, BadInputFailsWithoutChangingTheSelection) {
  struct {
    const char* what;
    std::string hex;
    Int32 version;
    FILEERROR error;
  } cases[] = {
      {"negative count", "0f ffffffff", HYPERFILE_CURRENT_VERSION, FILEERROR_WRONG_VALUE},
      {"count beyond the file", "0f 7fffffff 8c 00000009 03 00000001 00000002",
       HYPERFILE_CURRENT_VERSION, FILEERROR_READ},
      {"array of another length", "0f00000004 8c 00000009 03 00000001 00000002 0f00000000",
       HYPERFILE_CURRENT_VERSION, FILEERROR_WRONG_VALUE},
      {"not a memory block", "0f00000004", 11000, FILEERROR_WRONG_VALUE},
  };
  for (auto& c : cases) {
    Reader r(c.hex, c.version);
    SelectBlockArray got;
    ASSERT_TRUE(got.Select(5));
    EXPECT_FALSE(ReadSelectBlock(&r.hf, &got)) << c.what;
    EXPECT_EQ(r.hf.GetError(), c.error) << c.what;
    EXPECT_EQ(RunsOf(got), (Runs{{5, 5}})) << c.what;
  }
}

TEST(SelectBlockFile, AllocationFailuresAreReportedAndLeakNothing) {
  struct Ctx {
    Bytes in;
  } ctx;
  {
    SelectBlockArray sel;
    for (Int32 i = 0; i < 700; ++i) EXPECT_TRUE(sel.Select(i * 2));
    ctx.in = lumtest::WriteStream([&](HyperFile& hf) { return WriteSelectBlock(&hf, &sel); });
  }
  lumtest::SweepAllocationFailures(
      "ReadSelectBlock",
      [](std::int64_t, void* p) {
        Ctx& c = *static_cast<Ctx*>(p);
        Reader r(c.in);
        SelectBlockArray got;
        if (!got.Select(-3)) return true;  // the failure hit the setup
        if (ReadSelectBlock(&r.hf, &got)) return got.GetSegments() == 700;
        return r.hf.GetError() != FILEERROR_NONE && RunsOf(got) == Runs{{-3, -3}};
      },
      &ctx);
  lumtest::SweepAllocationFailures("WriteSelectBlock", [](std::int64_t, void*) {
    SelectBlockArray sel;
    for (Int32 i = 0; i < 600; ++i)
      if (!sel.Select(i * 2)) return true;  // the failure hit the setup
    Filename name;
    name.SetMemoryTarget();
    HyperFile hf;
    if (!hf.Open(name, FILEOPEN_WRITE)) return true;
    bool ok = WriteSelectBlock(&hf, &sel);
    return ok || hf.GetError() != FILEERROR_NONE;
  });
}

TEST(SelectBitArrayFile, RoundTripsHeaderWordsAndWordsInBothLayouts) {
  SelectBitArray bits;
  ASSERT_TRUE(bits.SetWordCount(2));
  bits.GetWords()[0] = 0x12345678;
  bits.GetWords()[1] = -2;
  bits.SetHeader(7, 8, 9, -10);
  Bytes bytes = lumtest::WriteStream([&](HyperFile& hf) { return bits.Write(&hf); });
  EXPECT_EQ(lumtest::ToHex(bytes),
            lumtest::NormHex("10 00000007 10 00000008 10 00000009 10 00000002 "
                             "0f fffffff6  0f00000002 8c 00000009 03 12345678 fffffffe"));
  Reader r(bytes);
  SelectBitArray back;
  ASSERT_TRUE(back.Read(&r.hf));
  EXPECT_EQ(back.GetFirst(), 7u);
  EXPECT_EQ(back.GetSecond(), 8u);
  EXPECT_EQ(back.GetFourth(), 9u);
  EXPECT_EQ(back.GetFifth(), -10);
  ASSERT_EQ(back.GetWordCount(), 2u);
  EXPECT_EQ(back.GetWords()[1], -2);
  // No words: nothing after the header words.
  SelectBitArray none;
  bytes = lumtest::WriteStream([&](HyperFile& hf) { return none.Write(&hf); });
  EXPECT_EQ(lumtest::ToHex(bytes),
            lumtest::NormHex("10 00000040 10 00000000 10 00000000 10 00000000 0f ffffffff"));
  // Older files: one memory block of little-endian words.
  Reader old(
      "10 00000001 10 00000002 10 00000003 10 00000002 0f 00000004 "
      "80 00000008 78563412 feffffff",
      11000);
  ASSERT_TRUE(back.Read(&old.hf));
  ASSERT_EQ(back.GetWordCount(), 2u);
  EXPECT_EQ(back.GetWords()[0], 0x12345678);
  EXPECT_EQ(back.GetWords()[1], -2);
}

TEST(SelectBitArrayFile, FailedReadClearsAllButTheFirstHeaderWord) {
  // The stored word count says 5, the array holds 2: the words read are what counts.
  Reader r(
      "10 00000007 10 00000008 10 00000009 10 00000005 0f 00000004 "
      "0f00000002 8c 00000009 03 00000001 00000002");
  SelectBitArray bits;
  ASSERT_TRUE(bits.Read(&r.hf));
  EXPECT_EQ(bits.GetWordCount(), 2u);
  Reader cut("10 00000001 10 00000002 10 00000003 10 00000001 0f 00000004 0f00000001 8c");
  EXPECT_FALSE(bits.Read(&cut.hf));
  EXPECT_EQ(bits.GetFirst(), 7u);
  EXPECT_EQ(bits.GetSecond(), 0u);
  EXPECT_EQ(bits.GetFourth(), 0u);
  EXPECT_EQ(bits.GetFifth(), -1);
  EXPECT_EQ(bits.GetWordCount(), 0u);
  EXPECT_EQ(bits.GetWords(), nullptr);
  Reader wrong("0f 00000001");
  EXPECT_FALSE(bits.Read(&wrong.hf));
  EXPECT_EQ(bits.GetFirst(), 7u);
}

// ---- cut streams and full devices ----

namespace {

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + std::ptrdiff_t(n)); }

}  // namespace

TEST(SelectionFiles, EveryWriterFailsWithTheWriteErrorWhereverTheDiskFills) {
  BaseSelect* sel = MakeSelect({1, 2, 5, 9});
  SelectBlockArray blocks;
  for (Int32 v : {1, 2, 5, 9}) ASSERT_TRUE(blocks.Select(v));
  SelectBitArray bits;
  ASSERT_TRUE(bits.SetWordCount(2));
  const std::pair<const char*, std::function<bool(HyperFile&)>> writers[] = {
      {"Write", [&](HyperFile& hf) { return sel->Write(&hf); }},
      {"Write_API", [&](HyperFile& hf) { return sel->Write_API(&hf); }},
      {"WriteSelectBlock", [&](HyperFile& hf) { return WriteSelectBlock(&hf, &blocks); }},
      {"SelectBitArray::Write", [&](HyperFile& hf) { return bits.Write(&hf); }},
  };
  for (const auto& w : writers) {
    const Int64 n = Int64(lumtest::WriteStream(w.second).size());
    for (Int64 room = 0; room <= n; ++room) {
      lumtest::FullFileWriter full(room);
      EXPECT_EQ(w.second(full.hf), room == n) << w.first << " with room for " << room;
      EXPECT_EQ(full.hf.GetError(), room == n ? FILEERROR_NONE : FILEERROR_WRITE)
          << w.first << " with room for " << room;
    }
  }
  BaseSelect::Free(sel);
}

TEST(SelectionFiles, EveryCutOfAStoredSelectionFails) {
  BaseSelect* sel = MakeSelect({1, 2, 5, 9});
  const Bytes chunk = lumtest::WriteStream([&](HyperFile& hf) { return sel->Write(&hf); });
  const Bytes api = lumtest::WriteStream([&](HyperFile& hf) { return sel->Write_API(&hf); });
  SelectBlockArray blocks;
  for (Int32 v : {1, 2, 5, 9}) ASSERT_TRUE(blocks.Select(v));
  const Bytes block =
      lumtest::WriteStream([&](HyperFile& hf) { return WriteSelectBlock(&hf, &blocks); });
  SelectBitArray stored;
  ASSERT_TRUE(stored.SetWordCount(2));
  stored.SetHeader(7, 8, 9, 10);
  const Bytes bits = lumtest::WriteStream([&](HyperFile& hf) { return stored.Write(&hf); });
  BaseSelect::Free(sel);

  for (size_t n = 9; n < chunk.size(); ++n) {  // the chunk start is read by the caller
    Reader r(Cut(chunk, n));
    Int32 id, level;
    ASSERT_TRUE(r.Start(&id, &level));
    BaseSelect got;
    EXPECT_FALSE(got.Read(&r.hf, id, level)) << "chunk cut to " << n;
  }
  for (size_t n = 0; n < api.size(); ++n) {
    Reader r(Cut(api, n));
    BaseSelect got;
    ASSERT_TRUE(got.Select(30));
    EXPECT_FALSE(got.Read_API(&r.hf)) << "API form cut to " << n;
    EXPECT_EQ(r.hf.GetError(), FILEERROR_READ) << "API form cut to " << n;
    EXPECT_EQ(RunsOf(got), (Runs{{30, 30}})) << "API form cut to " << n;
  }
  for (size_t n = 0; n < block.size(); ++n) {
    Reader r(Cut(block, n));
    SelectBlockArray got;
    ASSERT_TRUE(got.Select(30));
    EXPECT_FALSE(ReadSelectBlock(&r.hf, &got)) << "select block cut to " << n;
    EXPECT_EQ(RunsOf(got), (Runs{{30, 30}})) << "select block cut to " << n;
  }
  for (size_t n = 0; n < bits.size(); ++n) {
    Reader r(Cut(bits, n));
    SelectBitArray got;
    got.SetHeader(1, 2, 3, 4);
    EXPECT_FALSE(got.Read(&r.hf)) << "bit array cut to " << n;
    EXPECT_EQ(got.GetFirst(), 1u) << "bit array cut to " << n;
    EXPECT_EQ(got.GetSecond() + got.GetFourth() + got.GetWordCount(), 0u) << n;
    EXPECT_EQ(got.GetFifth(), -1) << "bit array cut to " << n;
  }
}
