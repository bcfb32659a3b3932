// The growable arrays and GeSortAndSearch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

// Orders elements of any size as unsigned bytes.
class ByteOrder : public GeSortAndSearch {
 public:
  explicit ByteOrder(Int32 size) : _size(size) {}
  Int32 Compare(const void* a, const void* b) override { return std::memcmp(a, b, size_t(_size)); }

 private:
  Int32 _size;
};

// Orders 8-byte records by their first Int32 only, so that equal keys carry different payloads.
struct Record {
  Int32 key;
  Int32 payload;
};
class KeyOrder : public GeSortAndSearch {
 public:
  Int32 Compare(const void* a, const void* b) override {
    Int32 x = static_cast<const Record*>(a)->key, y = static_cast<const Record*>(b)->key;
    return x < y ? -1 : (x > y ? 1 : 0);
  }
};

// An element that owns a block from the memory functions, so that leaks, double frees and lost
// moves show up in the live-block count and the values.
struct Owned {
  Int32* p = nullptr;
  Owned() = default;
  explicit Owned(Int32 v) {
    p = static_cast<Int32*>(MemAlloc(4));
    if (p != nullptr) *p = v;
  }
  Owned(const Owned& o) : Owned(o.p != nullptr ? *o.p : -1) {}
  Owned(Owned&& o) noexcept : p(o.p) { o.p = nullptr; }
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      DeleteMem(p);
      p = o.p;
      o.p = nullptr;
    }
    return *this;
  }
  Owned& operator=(const Owned&) = delete;
  ~Owned() { DeleteMem(p); }
  Int32 Value() const { return p != nullptr ? *p : -1; }
  bool operator==(const Owned& o) const { return Value() == o.Value(); }
  bool operator<(const Owned& o) const { return Value() < o.Value(); }
};

}  // namespace

TEST(GeSortAndSearch, SortMatchesStdSortForSeveralElementSizes) {
  std::mt19937 rng(7);
  for (Int32 size : {1, 2, 3, 4, 5, 8, 12, 13, 24}) {
    for (Int32 count : {0, 1, 2, 3, 17, 100, 1000}) {
      // Few distinct byte values, so that there are many equal elements.
      std::vector<UChar> data(size_t(size) * size_t(count));
      for (auto& b : data) b = UChar(rng() % 4);
      std::vector<std::vector<UChar>> expect;
      for (Int32 i = 0; i < count; ++i)
        expect.emplace_back(data.begin() + i * size, data.begin() + (i + 1) * size);
      std::sort(expect.begin(), expect.end());
      ByteOrder order(size);
      order.Sort(data.data(), count, size);
      for (Int32 i = 0; i < count; ++i)
        ASSERT_TRUE(std::equal(expect[i].begin(), expect[i].end(), data.begin() + i * size))
            << "size " << size << " count " << count << " element " << i;
    }
  }
}

TEST(GeSortAndSearch, SortKeepsEveryElementWhenOnlyKeysAreCompared) {
  std::mt19937 rng(11);
  std::vector<Record> records(5000);
  for (Int32 i = 0; i < 5000; ++i) records[i] = {Int32(rng() % 50), i};
  KeyOrder order;
  order.Sort(records.data(), 5000, Int32(sizeof(Record)));
  std::vector<bool> seen(5000, false);
  for (Int32 i = 0; i < 5000; ++i) {
    if (i > 0) {
      ASSERT_LE(records[i - 1].key, records[i].key);
    }
    ASSERT_FALSE(seen[records[i].payload]);
    seen[records[i].payload] = true;
  }
}

TEST(GeSortAndSearch, SearchReturnsTheFirstOfEqualElements) {
  // Keys: 3 3 3 5 5 5 5 5 8 9 9
  std::vector<Record> a;
  for (Int32 k : {3, 3, 3, 5, 5, 5, 5, 5, 8, 9, 9}) a.push_back({k, Int32(a.size())});
  KeyOrder order;
  const Int32 n = Int32(a.size()), size = Int32(sizeof(Record));
  struct Case {
    Int32 key, found, insertAt;  // found: payload of the element returned, -1 for null
  } cases[] = {{3, 0, 0},  {5, 3, 3},  {8, 8, 8},  {9, 9, 9},
               {1, -1, 0}, {4, -1, 3}, {6, -1, 8}, {10, -1, 11}};
  for (const Case& c : cases) {
    Record key{c.key, -1};
    Int32 at = -2;
    auto* hit = static_cast<Record*>(order.SearchOrInsert(&key, a.data(), n, size, &at));
    if (c.found < 0) {
      EXPECT_EQ(hit, nullptr) << c.key;
    } else {
      ASSERT_NE(hit, nullptr) << c.key;
      EXPECT_EQ(hit->payload, c.found) << c.key;
    }
    EXPECT_EQ(at, c.insertAt) << c.key;
  }
  Record key{5, 0};
  Int32 at = 0;
  EXPECT_EQ(order.SearchOrInsert(nullptr, a.data(), n, size, &at), nullptr);
  EXPECT_EQ(at, -1);
  at = 0;
  EXPECT_EQ(order.SearchOrInsert(&key, nullptr, n, size, &at), nullptr);
  EXPECT_EQ(at, -1);
  at = 0;
  EXPECT_EQ(order.SearchOrInsert(&key, a.data(), 0, size, &at), nullptr);
  EXPECT_EQ(at, -1);
  at = 0;
  EXPECT_EQ(order.SearchOrInsert(&key, a.data(), n, 0, &at), nullptr);
  EXPECT_EQ(at, -1);
}

TEST(GeSortAndSearch, SearchAgreesWithLowerBoundOnRandomArrays) {
  std::mt19937 rng(3);
  KeyOrder order;
  for (int round = 0; round < 200; ++round) {
    std::vector<Record> a(1 + rng() % 60);
    for (auto& r : a) r = {Int32(rng() % 30), 0};
    std::sort(a.begin(), a.end(), [](const Record& x, const Record& y) { return x.key < y.key; });
    for (Int32 k = -1; k <= 31; ++k) {
      Record key{k, 0};
      Int32 at = -2;
      auto* hit = static_cast<Record*>(
          order.SearchOrInsert(&key, a.data(), Int32(a.size()), Int32(sizeof(Record)), &at));
      auto lb = std::lower_bound(a.begin(), a.end(), k,
                                 [](const Record& r, Int32 v) { return r.key < v; });
      ASSERT_EQ(at, Int32(lb - a.begin()));
      ASSERT_EQ(hit, (lb != a.end() && lb->key == k) ? &*lb : nullptr);
    }
  }
}

TEST(GeToolDynArray, GrowsByInitialCapacityThenStepOrDoubling) {
  int dummy[64];
  GeToolDynArray doubling(4, 0);
  std::vector<Int32> caps;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(doubling.Append(&dummy[i]));
    caps.push_back(doubling.GetCapacity());
  }
  EXPECT_EQ(caps, (std::vector<Int32>{4,  4,  4,  4,  8,  8,  8,  8,  16, 16,
                                      16, 16, 16, 16, 16, 16, 32, 32, 32, 32}));
  GeToolDynArray stepped(2, 3);
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(stepped.Append(&dummy[i]));
  EXPECT_EQ(stepped.GetCapacity(), 11);  // 2, 5, 8, 11
  for (int i = 0; i < 9; ++i) EXPECT_EQ(stepped.GetIndex(i), &dummy[i]);

  // No initial capacity: nothing can ever be added.
  GeToolDynArray none(0, 0);
  EXPECT_FALSE(none.Append(&dummy[0]));
  EXPECT_EQ(none.GetCount(), 0);
  stepped.FlushThis();
  EXPECT_EQ(stepped.GetCount(), 0);
  EXPECT_EQ(stepped.GetCapacity(), 0);
  EXPECT_EQ(stepped.GetArray(), nullptr);
}

TEST(GeToolDynArray, InsertClampsRemoveChecksFindTakesTheFirst) {
  int d[5];
  GeToolDynArray a(2, 0);
  ASSERT_TRUE(a.Append(&d[1]));
  ASSERT_TRUE(a.Insert(&d[0], -5));  // front
  ASSERT_TRUE(a.Insert(&d[3], 99));  // end
  ASSERT_TRUE(a.Insert(&d[2], 2));
  ASSERT_TRUE(a.Append(&d[1]));
  ASSERT_EQ(a.GetCount(), 5);
  void* expect[] = {&d[0], &d[1], &d[2], &d[3], &d[1]};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.GetIndex(i), expect[i]);
  EXPECT_EQ(a.GetIndex(5), nullptr);
  EXPECT_EQ(a.GetIndex(-1), nullptr);
  EXPECT_EQ(a.Find(&d[1]), 1);
  EXPECT_EQ(a.Find(&d[4]), -1);
  EXPECT_FALSE(a.Remove(5));
  EXPECT_FALSE(a.Remove(-1));
  EXPECT_TRUE(a.Remove(1));
  EXPECT_EQ(a.GetIndex(1), &d[2]);
  EXPECT_EQ(a.Find(&d[1]), 3);
}

TEST(GeToolDynArray, FailedGrowthLeavesTheArrayUnchanged) {
  int d[8];
  GeToolDynArray a(2, 0);
  ASSERT_TRUE(a.Append(&d[0]));
  ASSERT_TRUE(a.Append(&d[1]));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(a.Insert(&d[2], 0));
  }
  EXPECT_EQ(a.GetCount(), 2);
  EXPECT_EQ(a.GetCapacity(), 2);
  EXPECT_EQ(a.GetIndex(0), &d[0]);
  EXPECT_EQ(a.GetIndex(1), &d[1]);
  EXPECT_TRUE(a.Append(&d[2]));
}

TEST(GeTempDynArray, TypedPointersToUnownedObjects) {
  Int32 values[3] = {10, 20, 30};
  GeTempDynArray<Int32> a;
  for (Int32& v : values) ASSERT_TRUE(a.Append(&v));
  EXPECT_EQ(*a[1], 20);
  EXPECT_EQ(a.Find(&values[2]), 2);
  EXPECT_EQ(a.GetIndex(3), nullptr);
}

TEST(BaseArray, GrowsToOneAndAHalfOfCapacityPlusRequestInBlocks) {
  BaseArray<Int32, 16> a;
  std::vector<Int32> caps;
  for (Int32 i = 0; i < 120; ++i) {
    ASSERT_TRUE(a.Append(i));
    if (caps.empty() || caps.back() != a.GetCapacity()) caps.push_back(a.GetCapacity());
  }
  // (0+1)*1.5 -> 16; (16+1)*1.5 = 25 -> 32; 49 -> 64; 97 -> 112; 169 -> 176
  EXPECT_EQ(caps, (std::vector<Int32>{16, 32, 64, 112, 176}));
  BaseArray<Int32, 16> b;
  ASSERT_TRUE(b.EnsureRoom(40));  // (0+40)*1.5 = 60 -> 64
  EXPECT_EQ(b.GetCapacity(), 64);
}

TEST(BaseArray, MovesOwningElementsWithoutLeaksOrLosses) {
  {
    BaseArray<Owned, 4> a;
    for (Int32 i = 0; i < 50; ++i) ASSERT_TRUE(a.Append(Owned(i)));
    ASSERT_TRUE(a.Insert(0, Owned(-7)));
    ASSERT_TRUE(a.Insert(25, a[3]));  // an element of the array itself, while it grows
    ASSERT_TRUE(a.Erase(10, 5));
    ASSERT_EQ(a.GetCount(), 47);
    EXPECT_EQ(a[0].Value(), -7);
    EXPECT_EQ(a[1].Value(), 0);
    EXPECT_EQ(a[9].Value(), 8);
    EXPECT_EQ(a[10].Value(), 14);
    EXPECT_EQ(a[20].Value(), 2);
    EXPECT_EQ(a.Find(Owned(49)), 46);
    BaseArray<Owned, 4> copy;
    ASSERT_TRUE(copy.CopyFrom(a));
    ASSERT_EQ(copy.GetCount(), 47);
    for (Int32 i = 0; i < 47; ++i) EXPECT_EQ(copy[i].Value(), a[i].Value());
    ASSERT_TRUE(a.Resize(3));
    ASSERT_TRUE(a.Resize(5));
    EXPECT_EQ(a[4].p, nullptr);
    EXPECT_FALSE(a.Erase(4, 2));
    EXPECT_FALSE(a.Insert(6, Owned(1)));
  }
  EXPECT_EQ(lumtest::LiveBlocks(), 0);
}

TEST(BaseArray, FailedGrowthLeavesTheElementsInPlace) {
  BaseArray<Owned, 4> a;
  for (Int32 i = 0; i < 4; ++i) ASSERT_TRUE(a.Append(Owned(i)));
  Owned extra(99);
  {
    // The copy of extra succeeds, the new block fails.
    lumtest::ScopedAllocFailure fail(2);
    EXPECT_FALSE(a.Append(extra));
  }
  ASSERT_EQ(a.GetCount(), 4);
  EXPECT_EQ(a.GetCapacity(), 4);
  for (Int32 i = 0; i < 4; ++i) EXPECT_EQ(a[i].Value(), i);
  BaseArray<Owned, 4> copy;
  ASSERT_TRUE(copy.Append(Owned(5)));
  {
    lumtest::ScopedAllocFailure fail(1);  // the copy's block
    EXPECT_FALSE(copy.CopyFrom(a));
  }
  ASSERT_EQ(copy.GetCount(), 1);
  EXPECT_EQ(copy[0].Value(), 5);
}

TEST(BaseSortArray, InsertSortedKeepsOrderAndFindsTheFirstOfEquals) {
  BaseSortArray<Int32> a;
  std::mt19937 rng(5);
  std::vector<Int32> ref;
  for (int i = 0; i < 300; ++i) {
    Int32 v = Int32(rng() % 40);
    ASSERT_GE(a.InsertSorted(v), 0);
    ref.push_back(v);
  }
  std::sort(ref.begin(), ref.end());
  ASSERT_EQ(std::vector<Int32>(a.begin(), a.end()), ref);
  for (Int32 k = -1; k < 42; ++k) {
    auto it = std::lower_bound(ref.begin(), ref.end(), k);
    Int32 expect = (it != ref.end() && *it == k) ? Int32(it - ref.begin()) : -1;
    EXPECT_EQ(a.FindSorted(k), expect);
  }
}

TEST(DynamicArrayBase, StartsAtItsInitialCapacityDoublesAndCompactsToHalf) {
  DynamicArrayBase<Int64, 8> a;
  EXPECT_EQ(a.GetCapacity(), 0);
  ASSERT_TRUE(a.Append(Int64(1)));
  EXPECT_EQ(a.GetCapacity(), 8);
  for (Int64 i = 2; i <= 17; ++i) ASSERT_TRUE(a.Append(i));
  EXPECT_EQ(a.GetCapacity(), 32);
  ASSERT_TRUE(a.Insert(0, Int64(0)));
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[17], 17);
  while (a.GetCount() > 16) ASSERT_TRUE(a.Remove(a.GetCount() - 1));
  a.Compact();
  EXPECT_EQ(a.GetCapacity(), 16);
  while (a.GetCount() > 2) ASSERT_TRUE(a.Remove(0));
  a.Compact();
  EXPECT_EQ(a.GetCapacity(), 8);
  a.Compact();  // never below the initial capacity
  EXPECT_EQ(a.GetCapacity(), 8);
  EXPECT_EQ(a[1], 15);
  EXPECT_FALSE(a.Remove(2));
}

namespace {

class IntSortArray : public CDynSortArray<Int32> {
 public:
  IntSortArray() : CDynSortArray<Int32>(4, 0) {}
  Int32 Compare(const Int32& a, const Int32& b) const override { return a < b ? -1 : a > b; }
};

struct Entry {
  UInt64 id;
  Int32 tag;
};

class EntryIndex : public GeTempDynSortSearchArray<Entry, UInt64, 0> {
 public:
  Int32 CompareElements(const Entry* a, const Entry* b) const override {
    return a->id < b->id ? -1 : a->id > b->id;
  }
  Int32 CompareKey(const UInt64& key, const Entry* e) const override {
    return key < e->id ? -1 : key > e->id;
  }
};

class OwnedList : public CDynObjectArray<Owned> {
 public:
  Owned* AllocObject() override { return NewObj<Owned>(Int32(GetCount())); }
};

}  // namespace

TEST(CDynArray, PlainElementsWithSetCountCopyAndSortedSearch) {
  CDynArray<Int32> a(2, 3);
  for (Int32 i = 0; i < 6; ++i) ASSERT_TRUE(a.Append(i * 10));
  EXPECT_EQ(a.GetCapacity(), 8);  // 2, 5, 8
  ASSERT_TRUE(a.Insert(a[5], 0));
  EXPECT_EQ(a[0], 50);
  ASSERT_TRUE(a.SetCount(9));
  EXPECT_EQ(a[8], 0);
  EXPECT_EQ(a.Find(30), 4);
  CDynArray<Int32> b;
  ASSERT_TRUE(a.CopyTo(&b));
  ASSERT_EQ(b.GetCount(), 9);
  EXPECT_EQ(b[0], 50);
  EXPECT_TRUE(b.Remove(0));
  EXPECT_FALSE(b.Remove(8));

  IntSortArray s;
  std::mt19937 rng(9);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(s.Append(Int32(rng() % 25)));
  s.Sort();
  for (Int32 i = 1; i < s.GetCount(); ++i) ASSERT_LE(s[i - 1], s[i]);
  Int32 at = -1;
  Int32* hit = s.Search(s[50], &at);
  ASSERT_NE(hit, nullptr);
  EXPECT_TRUE(at == 0 || s[at - 1] < *hit);
  Int32 pos = s.InsertSorted(12);
  ASSERT_GE(pos, 0);
  EXPECT_EQ(s[pos], 12);
  EXPECT_TRUE(pos + 1 == s.GetCount() || s[pos + 1] > 12);
}

TEST(GeTempDynSortSearchArray, SortsLazilyAndReportsInsertPositions) {
  Entry e[6] = {{50, 0}, {10, 1}, {40, 2}, {30, 3}, {20, 4}, {30, 5}};
  EntryIndex index;
  for (Entry& x : e) ASSERT_TRUE(index.Append(&x));
  EXPECT_FALSE(index.IsSorted());
  Int32 at = -1;
  Entry* hit = index.Search(30, &at);
  EXPECT_TRUE(index.IsSorted());
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->id, 30u);
  EXPECT_EQ(at, 2);
  EXPECT_EQ(index.Search(35, &at), nullptr);
  EXPECT_EQ(at, 4);
  Entry late{35, 6};
  ASSERT_TRUE(index.InsertAt(&late, at));
  for (Int32 i = 1; i < index.GetCount(); ++i) ASSERT_LE(index[i - 1]->id, index[i]->id);
  Entry first{1, 7};
  ASSERT_TRUE(index.InsertSorted(&first));
  EXPECT_EQ(index[0], &first);
}

TEST(CDynObjectArray, OwnsAndFreesItsObjects) {
  {
    OwnedList list;
    for (int i = 0; i < 5; ++i) ASSERT_NE(list.AppendNew(), nullptr);
    EXPECT_EQ(list.GetObject(3)->Value(), 3);
    EXPECT_TRUE(list.Remove(0));
    EXPECT_EQ(list.GetObject(0)->Value(), 1);
    Owned* kept = list.Detach(0);
    ASSERT_NE(kept, nullptr);
    DeleteObj(kept);
    EXPECT_FALSE(list.Remove(10));
    // AppendNew makes the object (its block, then its value's), then the array grows: a
    // failure of the object or of the array leaves nothing behind.
    for (int n : {1, 3}) {
      OwnedList fresh;
      lumtest::ScopedAllocFailure fail(n);
      EXPECT_EQ(fresh.AppendNew(), nullptr);
      EXPECT_EQ(fresh.GetCount(), 0);
    }
  }
  EXPECT_EQ(lumtest::LiveBlocks(), 0);
}

TEST(Arrays, InsertsClampOrRefuseAndEditsOutsideTheArrayChangeNothing) {
  // DynamicArrayBase and CDynArray clamp an insert position to 0..count.
  DynamicArrayBase<Int32, 4> d;
  ASSERT_TRUE(d.Insert(5, 1));
  ASSERT_TRUE(d.Insert(-3, 0));
  ASSERT_TRUE(d.Insert(9, 2));
  ASSERT_EQ(d.GetCount(), 3);
  EXPECT_EQ(std::vector<Int32>({d[0], d[1], d[2]}), std::vector<Int32>({0, 1, 2}));
  EXPECT_FALSE(d.Remove(-1));
  EXPECT_FALSE(d.Remove(3));
  CDynArray<Int32> c(2, 0);
  ASSERT_TRUE(c.Insert(1, 5));
  ASSERT_TRUE(c.Insert(0, -3));
  ASSERT_TRUE(c.Insert(2, 9));
  ASSERT_EQ(c.GetCount(), 3);
  EXPECT_EQ(std::vector<Int32>({c[0], c[1], c[2]}), std::vector<Int32>({0, 1, 2}));
  EXPECT_FALSE(c.Remove(-1));
  EXPECT_EQ(c.Find(7), -1);
  EXPECT_FALSE(c.SetCount(-1));
  EXPECT_FALSE(c.CopyTo(nullptr));
  EXPECT_TRUE(c.CopyTo(&c));
  ASSERT_TRUE(c.SetCount(1));
  EXPECT_EQ(c.GetCount(), 1);
  EXPECT_EQ(c[0], 0);

  // BaseArray refuses positions and ranges outside the array.
  BaseArray<Int32> b;
  EXPECT_FALSE(b.Insert(-1, 5));
  EXPECT_FALSE(b.Insert(1, 5));
  ASSERT_TRUE(b.Append(4));
  EXPECT_FALSE(b.Erase(-1));
  EXPECT_FALSE(b.Erase(0, -1));
  EXPECT_FALSE(b.Erase(0, 2));
  EXPECT_FALSE(b.Resize(-1));
  EXPECT_FALSE(b.EnsureRoom(-1));
  EXPECT_EQ(b.Find(9), -1);
  EXPECT_TRUE(b.CopyFrom(b));
  ASSERT_EQ(b.GetCount(), 1);
  EXPECT_EQ(b[0], 4);

  // Searching an empty sorted array inserts at 0.
  IntSortArray empty;
  Int32 at = -1;
  EXPECT_EQ(empty.Search(3, &at), nullptr);
  EXPECT_EQ(at, 0);
}
