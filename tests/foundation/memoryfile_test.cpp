// Memory files: the block chain and its growth, reading and writing them through a BaseFile,
// ownership when Filenames are copied, and every allocation failure on the way.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lumora.h"
#include "test_support.h"

using namespace lumora;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Pattern(size_t n, unsigned seed = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 131 + seed + (i >> 9)));
  return b;
}

// The sizes of the blocks of a record, in order.
std::vector<Int64> BlockSizes(const MemoryFileStruct& m) {
  std::vector<Int64> sizes;
  if (m.blocks == nullptr || m.blocks->table == nullptr) return sizes;
  for (Int32 i = 0; i <= m.blocks->lastBlock; ++i) sizes.push_back(m.blocks->table[i].size);
  return sizes;
}

Bytes Written(const MemoryFileStruct& m) {
  Bytes out(static_cast<size_t>(m.GetWrittenSize()));
  EXPECT_EQ(m.GetWrittenSize(), m.ReadWritten(0, out.data(), static_cast<Int64>(out.size())));
  return out;
}

}  // namespace

// ---- the block chain ----

TEST(MemoryFileStruct, ANewRecordOwnsNothingYet) {
  MemoryFileStruct m;
  EXPECT_EQ(MemoryFileStruct::FLAG_OWNS, m.flags);
  EXPECT_EQ(0, m.size);
  EXPECT_EQ(nullptr, m.data);
  EXPECT_EQ(nullptr, m.blocks);
  EXPECT_TRUE(m.WriteBytes(nullptr, 0));  // the first write creates the list, even for 0 bytes
  ASSERT_NE(nullptr, m.blocks);
  EXPECT_EQ(-1, m.blocks->lastBlock);
  EXPECT_EQ(1000, m.blocks->tableCapacity);
}

TEST(MemoryFileStruct, TenBytesMakeOneBlockOf50000) {
  MemoryFileStruct m;
  Bytes data = Pattern(10);
  ASSERT_TRUE(m.WriteBytes(data.data(), 10));
  EXPECT_EQ(std::vector<Int64>{50000}, BlockSizes(m));
  EXPECT_EQ(10, m.blocks->used);
  EXPECT_EQ(10, m.GetWrittenSize());
  EXPECT_EQ(data, Written(m));
}

TEST(MemoryFileStruct, OneLargeWriteMakesOneBlockThatHoldsItInStepsOf50000) {
  MemoryFileStruct m;
  Bytes data = Pattern(120000);
  ASSERT_TRUE(m.WriteBytes(data.data(), 120000));
  EXPECT_EQ(std::vector<Int64>{150000}, BlockSizes(m));
  EXPECT_EQ(data, Written(m));

  MemoryFileStruct exact;
  Bytes hundred = Pattern(100000);
  ASSERT_TRUE(exact.WriteBytes(hundred.data(), 100000));
  EXPECT_EQ(std::vector<Int64>{100000}, BlockSizes(exact));
}

TEST(MemoryFileStruct, BlocksDoubleUpTo2000000AndAWriteFillsTheOldBlockFirst) {
  MemoryFileStruct m;
  Bytes all;
  // 49995 bytes, then 10: 5 go into the first block, 5 start the second.
  Bytes a = Pattern(49995, 1);
  ASSERT_TRUE(m.WriteBytes(a.data(), static_cast<Int64>(a.size())));
  Bytes b = Pattern(10, 2);
  ASSERT_TRUE(m.WriteBytes(b.data(), 10));
  EXPECT_EQ((std::vector<Int64>{50000, 100000}), BlockSizes(m));
  EXPECT_EQ(5, m.blocks->used);
  all.insert(all.end(), a.begin(), a.end());
  all.insert(all.end(), b.begin(), b.end());
  // Keep writing in 30000-byte pieces until two capped blocks exist.
  Bytes piece = Pattern(30000, 3);
  while (BlockSizes(m).size() < 8) {
    ASSERT_TRUE(m.WriteBytes(piece.data(), 30000));
    all.insert(all.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ((std::vector<Int64>{50000, 100000, 200000, 400000, 800000, 1600000, 2000000, 2000000}),
            BlockSizes(m));
  EXPECT_EQ(static_cast<Int64>(all.size()), m.GetWrittenSize());
  EXPECT_TRUE(all == Written(m));
  // Beyond the cap a single write still gets one block that holds it.
  Bytes huge = Pattern(2100001, 4);
  ASSERT_TRUE(m.WriteBytes(huge.data(), 2000000 - m.blocks->used));
  ASSERT_TRUE(m.WriteBytes(huge.data(), static_cast<Int64>(huge.size())));
  EXPECT_EQ(2150000, BlockSizes(m).back());
}

TEST(MemoryFileStruct, OverwritesAndReadsAcrossBlockBoundaries) {
  MemoryFileStruct m;
  Bytes data = Pattern(160000);
  // Blocks of 50000, 100000 and 200000 bytes: boundaries at 50000 and 150000.
  ASSERT_TRUE(m.WriteBytes(data.data(), 50000));
  ASSERT_TRUE(m.WriteBytes(data.data() + 50000, 10000));
  ASSERT_TRUE(m.WriteBytes(data.data() + 60000, 100000));
  ASSERT_EQ(3u, BlockSizes(m).size());
  // Overwrite 20 bytes straddling the first boundary, and a run that runs past the end.
  Bytes patch(20, 0xEE);
  ASSERT_TRUE(m.WriteBytesAt(49990, patch.data(), 20));
  std::memset(data.data() + 49990, 0xEE, 20);
  Bytes tail = Pattern(30, 9);
  ASSERT_TRUE(m.WriteBytesAt(159990, tail.data(), 30));
  data.resize(159990);
  data.insert(data.end(), tail.begin(), tail.end());
  EXPECT_EQ(160020, m.GetWrittenSize());
  EXPECT_TRUE(data == Written(m));
  unsigned char four[4];
  EXPECT_EQ(4, m.ReadWritten(149998, four, 4));  // straddles the second boundary
  EXPECT_EQ(0, std::memcmp(four, data.data() + 149998, 4));
  EXPECT_EQ(2, m.ReadWritten(160018, four, 4));
  EXPECT_FALSE(m.WriteBytesAt(160021, four, 1));  // no holes
}

TEST(MemoryFileStruct, CollectingJoinsTheBlocksIntoReadableData) {
  MemoryFileStruct m;
  Bytes data = Pattern(70000);
  ASSERT_TRUE(m.WriteBytes(data.data(), 70000));
  ASSERT_TRUE(m.CollectWritten());
  EXPECT_EQ(nullptr, m.blocks);
  EXPECT_EQ(70000, m.size);
  EXPECT_TRUE(m.flags & MemoryFileStruct::FLAG_READABLE);
  EXPECT_EQ(0, std::memcmp(m.data, data.data(), 70000));
  // Nothing written: the readable data stays.
  ASSERT_TRUE(m.CollectWritten());
  EXPECT_EQ(70000, m.size);
  m.Free();
  EXPECT_EQ(nullptr, m.data);
  EXPECT_EQ(0, m.size);
}

TEST(MemoryFileStruct, BorrowedDataIsNeverReleasedByTheRecord) {
  void* block = MemAlloc(16);
  std::int64_t live = lumtest::LiveBlocks();
  {
    MemoryFileStruct m;
    ASSERT_TRUE(m.SetReadable(block, 16, false));
    EXPECT_EQ(MemoryFileStruct::FLAG_READABLE, m.flags);
    m.Free();
    EXPECT_EQ(block, m.data);
    EXPECT_EQ(16, m.size);
  }
  EXPECT_EQ(live, lumtest::LiveBlocks());
  {
    // Blocks written to a record that only borrows its readable data are still its own.
    MemoryFileStruct m;
    ASSERT_TRUE(m.SetReadable(block, 16, false));
    ASSERT_TRUE(m.WriteBytes("abc", 3));
  }
  EXPECT_EQ(live, lumtest::LiveBlocks());
  MemFree(block);
}

TEST(MemoryFileStruct, FailedBlockAllocationReleasesEverythingAndLaterWritesFail) {
  MemoryFileStruct m;
  Bytes data = Pattern(60000);
  ASSERT_TRUE(m.WriteBytes(data.data(), 40000));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(m.WriteBytes(data.data(), 20000));
  }
  EXPECT_EQ(0, m.GetWrittenSize());
  EXPECT_FALSE(m.WriteBytes(data.data(), 1));
  EXPECT_FALSE(m.WriteBytes(data.data(), 0));
  m.Free();
  EXPECT_TRUE(m.WriteBytes(data.data(), 1));  // a fresh chain after Free
  EXPECT_EQ(1, m.GetWrittenSize());
}

TEST(MemoryFileStruct, FailedListOrTableAllocationOnTheFirstWriteLeavesNothing) {
  for (int n = 1; n <= 3; ++n) {
    MemoryFileStruct m;
    lumtest::ScopedAllocFailure fail(n);  // 1: the list, 2: the table, 3: the block
    EXPECT_FALSE(m.WriteBytes("abc", 3)) << n;
    EXPECT_EQ(0, m.GetWrittenSize());
  }
}

TEST(MemoryFileStruct, TheTableGrowsBy1000EntriesWhenFull) {
  MemoryFileStruct m;
  Bytes data = Pattern(50001);
  ASSERT_TRUE(m.WriteBytes(data.data(), 50000));
  // Pretend the table is full, so that the next block needs a larger one.
  m.blocks->tableCapacity = 1;
  ASSERT_TRUE(m.WriteBytes(data.data(), 1));
  EXPECT_EQ(1001, m.blocks->tableCapacity);
  EXPECT_EQ((std::vector<Int64>{50000, 100000}), BlockSizes(m));
  EXPECT_EQ(nullptr, m.blocks->table[2].block);  // new entries are cleared

  MemoryFileStruct f;
  ASSERT_TRUE(f.WriteBytes(data.data(), 50000));
  f.blocks->tableCapacity = 1;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(f.WriteBytes(data.data(), 1));
  }
  EXPECT_EQ(0, f.GetWrittenSize());
  EXPECT_FALSE(f.WriteBytes(data.data(), 1));
}

// ---- through a BaseFile ----

TEST(MemoryFile, WhatABaseFileWritesIsCollectedAndReadBack) {
  Filename name("memory");
  name.SetMemoryTarget();
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
    for (Int32 i = 0; i < 20000; ++i) ASSERT_TRUE(f.WriteInt32(i));  // 80000 bytes, two blocks
    EXPECT_TRUE(f.WriteFloat64(2.5));
    EXPECT_EQ(80008, f.GetPosition());
    // Going back overwrites in place, across the block boundary; the end stays where it was.
    // Past the end is refused, which drops the content: it is written again.
    ASSERT_TRUE(f.Seek(4 * 12499));
    ASSERT_TRUE(f.WriteInt32(-1));
    EXPECT_FALSE(f.Seek(80009));
    EXPECT_EQ(FILEERROR_INVALID, f.GetError());
    EXPECT_FALSE(f.Close());
    ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
    for (Int32 i = 0; i < 20000; ++i) ASSERT_TRUE(f.WriteInt32(i));
    EXPECT_TRUE(f.WriteFloat64(2.5));
    ASSERT_TRUE(f.Seek(4 * 12499));
    ASSERT_TRUE(f.WriteInt64(-1));  // bytes 49996..50003: the end of block 0, start of 1
    ASSERT_TRUE(f.WriteInt32(-1));
    ASSERT_TRUE(f.Seek(80008));
    EXPECT_TRUE(f.Close());
  }
  // Read before collecting: the blocks are read in place.
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(name));
    EXPECT_EQ(80008, f.GetLength());
    ASSERT_TRUE(f.Seek(4 * 12499));
    Int32 v;
    for (Int32 i = 12499; i < 12503; ++i) {  // across the 50000-byte boundary
      ASSERT_TRUE(f.ReadInt32(&v));
      EXPECT_EQ(i < 12502 ? -1 : i, v);
    }
  }
  const void* bytes = nullptr;
  Int64 n = 0;
  ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
  ASSERT_EQ(80008, n);
  EXPECT_EQ("00 00 00 00 00 00 00 01", lumtest::ToHex(static_cast<const unsigned char*>(bytes), 8));
  BaseFile f;
  ASSERT_TRUE(f.Open(name));
  Int32 v;
  for (Int32 i = 0; i < 20000; ++i) {
    ASSERT_TRUE(f.ReadInt32(&v));
    ASSERT_EQ(i >= 12499 && i < 12502 ? -1 : i, v);
  }
  Float64 d;
  ASSERT_TRUE(f.ReadFloat64(&d));
  EXPECT_EQ(2.5, d);
  EXPECT_FALSE(f.ReadFloat64(&d));
  EXPECT_EQ(FILEERROR_READ, f.GetError());
}

TEST(MemoryFile, ReadingAttachedBytesAndSeekingWithinThem) {
  Bytes data = lumtest::FromHex("00 00 00 2a 01 02 03");
  Filename name;
  ASSERT_TRUE(name.SetMemoryData(data.data(), static_cast<Int64>(data.size())));
  data[3] = 0;  // the Filename took a copy
  BaseFile f;
  ASSERT_TRUE(f.Open(name));
  Int32 v;
  ASSERT_TRUE(f.ReadInt32(&v));
  EXPECT_EQ(42, v);
  char buf[8];
  EXPECT_EQ(3, f.ReadBytes(buf, 8, true));
  EXPECT_EQ(FILEERROR_NONE, f.GetError());
  ASSERT_TRUE(f.Seek(7));  // the end itself is allowed
  ASSERT_TRUE(f.Seek(-7, FILESEEK_RELATIVE));
  EXPECT_EQ(7, f.GetLength());
  EXPECT_FALSE(f.Seek(8));  // past the end is not
  EXPECT_EQ(FILEERROR_INVALID, f.GetError());
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Close());
  // The memory file survives its readers.
  ASSERT_TRUE(f.Open(name));
  EXPECT_EQ(7, f.GetLength());
  EXPECT_FALSE(f.WriteBytes("x", 1));  // opened for reading
}

TEST(MemoryFile, BorrowedBytesAreReadInPlace) {
  unsigned char bytes[3] = {1, 2, 3};
  Filename name;
  ASSERT_TRUE(name.SetMemoryData(bytes, 3, false));
  bytes[0] = 9;
  BaseFile f;
  ASSERT_TRUE(f.Open(name));
  UChar c;
  ASSERT_TRUE(f.ReadUChar(&c));
  EXPECT_EQ(9, c);
}

TEST(MemoryFile, WriteDropsTheOldContentAppendAndReadWriteKeepIt) {
  Filename name;
  name.SetMemoryTarget();
  BaseFile f;
  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  ASSERT_TRUE(f.WriteBytes("hello", 5));
  ASSERT_TRUE(f.Close());
  ASSERT_TRUE(f.Open(name, FILEOPEN_APPEND));
  EXPECT_EQ(5, f.GetPosition());
  ASSERT_TRUE(f.WriteBytes(" you", 4));
  ASSERT_TRUE(f.Close());
  const void* bytes;
  Int64 n;
  ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
  EXPECT_EQ("hello you", std::string(static_cast<const char*>(bytes), static_cast<size_t>(n)));

  // Read-write keeps it too, and overwrites where it is positioned.
  ASSERT_TRUE(f.Open(name, FILEOPEN_READWRITE));
  EXPECT_EQ(9, f.GetLength());
  char buf[6] = {};
  ASSERT_EQ(5, f.ReadBytes(buf, 5));
  EXPECT_STREQ("hello", buf);
  ASSERT_TRUE(f.Seek(0));
  ASSERT_TRUE(f.WriteBytes("J", 1));
  ASSERT_TRUE(f.Seek(9));
  ASSERT_TRUE(f.WriteBytes("!", 1));
  EXPECT_EQ(10, f.GetLength());
  ASSERT_TRUE(f.Close());
  ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
  EXPECT_EQ("Jello you!", std::string(static_cast<const char*>(bytes), static_cast<size_t>(n)));

  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  EXPECT_TRUE(f.Close());
  ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
  EXPECT_EQ(nullptr, bytes);
  EXPECT_EQ(0, n);
}

TEST(MemoryFile, WritingOverBorrowedBytesNeverReleasesThem) {
  void* block = MemAlloc(4);
  std::memcpy(block, "abcd", 4);
  {
    Filename name;
    ASSERT_TRUE(name.SetMemoryData(block, 4, false));
    name.GetMemoryFile()->flags |= MemoryFileStruct::FLAG_WRITABLE;
    BaseFile f;
    ASSERT_TRUE(f.Open(name, FILEOPEN_APPEND));  // the bytes are copied into blocks
    ASSERT_TRUE(f.WriteBytes("e", 1));
    ASSERT_TRUE(f.Close());
    const void* bytes;
    Int64 n;
    ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
    EXPECT_EQ("abcde", std::string(static_cast<const char*>(bytes), static_cast<size_t>(n)));
    ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  }
  EXPECT_EQ(0, std::memcmp(block, "abcd", 4));  // still ours, untouched
  MemFree(block);
}

TEST(MemoryFile, AMemoryFileThatDoesNotAllowTheModeOpensItsPath) {
  std::string path = lumtest::TempPath("memory-path.bin");
  Filename name(path.c_str());
  ASSERT_TRUE(name.SetMemoryData("ab", 2));  // readable, not writable
  BaseFile f;
  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  ASSERT_TRUE(f.WriteBytes("disk", 4));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ("64 69 73 6b", lumtest::ToHex(lumtest::ReadFileBytes(path)));
  ASSERT_TRUE(f.Open(name));  // reading still reads memory
  EXPECT_EQ(2, f.GetLength());
}

TEST(MemoryFile, AFailedGrowthRecordsOutOfMemoryAndDropsWhatWasWritten) {
  Filename name;
  name.SetMemoryTarget();
  BaseFile f;
  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  Bytes data = Pattern(60000);
  ASSERT_TRUE(f.WriteBytes(data.data(), 40000));
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(f.WriteBytes(data.data(), 20000));
  }
  EXPECT_EQ(FILEERROR_OUTOFMEMORY, f.GetError());
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Close());
  EXPECT_EQ(0, name.GetMemoryFile()->GetWrittenSize());
  // The record is usable again by the next writer.
  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  ASSERT_TRUE(f.WriteBytes(data.data(), 3));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(3, name.GetMemoryFile()->GetWrittenSize());
}

TEST(MemoryFile, AppendThatCannotMoveTheOldContentKeepsIt) {
  Filename name;
  ASSERT_TRUE(name.SetMemoryData("abc", 3));
  name.GetMemoryFile()->flags |= MemoryFileStruct::FLAG_WRITABLE;
  BaseFile f;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(f.Open(name, FILEOPEN_APPEND));
  }
  EXPECT_EQ(FILEERROR_OUTOFMEMORY, f.GetError());
  const void* bytes;
  Int64 n;
  ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
  EXPECT_EQ("abc", std::string(static_cast<const char*>(bytes), static_cast<size_t>(n)));
}

TEST(MemoryFile, CollectingThatCannotAllocateKeepsTheWrittenBlocks) {
  Filename name;
  name.SetMemoryTarget();
  BaseFile f;
  ASSERT_TRUE(f.Open(name, FILEOPEN_WRITE));
  ASSERT_TRUE(f.WriteBytes("abc", 3));
  ASSERT_TRUE(f.Close());
  const void* bytes = &name;
  Int64 n = 5;
  {
    lumtest::ScopedAllocFailure fail(1);
    EXPECT_FALSE(name.CollectMemoryData(&bytes, &n));
  }
  EXPECT_EQ(nullptr, bytes);
  EXPECT_EQ(0, n);
  ASSERT_TRUE(name.CollectMemoryData(&bytes, &n));
  EXPECT_EQ(3, n);
  Filename plain("x");
  EXPECT_FALSE(plain.CollectMemoryData(&bytes, &n));
}

// ---- Filename ownership ----

TEST(MemoryFile, CopiesOfAMemoryFilenameOwnTheirOwnCopy) {
  Filename a("mem");
  ASSERT_TRUE(a.SetMemoryData("abc", 3));
  Filename b(a);
  ASSERT_NE(nullptr, b.GetMemoryFile());
  EXPECT_NE(a.GetMemoryFile(), b.GetMemoryFile());
  EXPECT_NE(a.GetMemoryFile()->data, b.GetMemoryFile()->data);
  EXPECT_TRUE(a == b);
  static_cast<char*>(b.GetMemoryFile()->data)[0] = 'X';
  EXPECT_EQ('a', static_cast<char*>(a.GetMemoryFile()->data)[0]);

  // Written blocks are copied too, joined into one block.
  Filename w;
  w.SetMemoryTarget();
  {
    BaseFile f;
    ASSERT_TRUE(f.Open(w, FILEOPEN_WRITE));
    ASSERT_TRUE(f.WriteBytes("written", 7));
  }
  Filename c = w;
  BaseFile f;
  ASSERT_TRUE(f.Open(c));
  char buf[8] = {};
  ASSERT_EQ(7, f.ReadBytes(buf, 7));
  EXPECT_STREQ("written", buf);
  // Each of a, b, w and c is released once when it goes; the leak check sees the rest.
}

TEST(MemoryFile, AssignmentReplacesTheMemoryContentOrKeepsItForAPlainPath) {
  Filename a;
  ASSERT_TRUE(a.SetMemoryData("abc", 3));
  Filename b;
  ASSERT_TRUE(b.SetMemoryData("longer content", 14));
  b = a;
  EXPECT_EQ(3, b.GetMemoryFile()->size);
  EXPECT_NE(a.GetMemoryFile()->data, b.GetMemoryFile()->data);
  Filename& same = b;
  b = same;  // self-assignment changes nothing
  EXPECT_EQ(3, b.GetMemoryFile()->size);

  b = Filename("plain/path/");  // a plain source leaves the memory file
  EXPECT_EQ(Filename("plain/path"), b);
  ASSERT_NE(nullptr, b.GetMemoryFile());
  EXPECT_EQ(3, b.GetMemoryFile()->size);
  b.ClearMemoryFile();
  EXPECT_EQ(nullptr, b.GetMemoryFile());

  Filename c("plain");
  c = a;
  ASSERT_NE(nullptr, c.GetMemoryFile());
  EXPECT_EQ(0, std::memcmp(c.GetMemoryFile()->data, "abc", 3));
}

TEST(MemoryFile, CopiesOfBorrowedBytesBorrowThemToo) {
  unsigned char bytes[2] = {5, 6};
  Filename a;
  ASSERT_TRUE(a.SetMemoryData(bytes, 2, false));
  Filename b(a);
  EXPECT_EQ(bytes, b.GetMemoryFile()->data);
  EXPECT_EQ(0, b.GetMemoryFile()->flags & MemoryFileStruct::FLAG_OWNS);
}

TEST(MemoryFile, ACopyThatCannotAllocateIsAnEmptyMemoryFile) {
  Filename a;
  ASSERT_TRUE(a.SetMemoryData("abc", 3));
  {
    lumtest::ScopedAllocFailure fail(1, true);
    Filename b(a);
    ASSERT_NE(nullptr, b.GetMemoryFile());
    EXPECT_EQ(nullptr, b.GetMemoryFile()->data);
    EXPECT_EQ(0, b.GetMemoryFile()->size);
    Filename c;
    c = a;
    EXPECT_EQ(0, c.GetMemoryFile()->size);
  }
  {
    lumtest::ScopedAllocFailure fail(1);
    Filename d;
    EXPECT_FALSE(d.SetMemoryData("abc", 3));
    EXPECT_EQ(0, d.GetMemoryFile()->size);
    EXPECT_EQ(nullptr, d.GetMemoryFile()->data);
  }
}

namespace {

// A memory round trip in which any allocation may fail; the run is right when every failure
// shows as a false result and FILEERROR_OUTOFMEMORY where a file reports one.
bool MemoryRoundTrip(std::int64_t, void*) {
  Filename name;
  name.SetMemoryTarget();
  BaseFile f;
  if (!f.Open(name, FILEOPEN_WRITE)) return false;  // memory opens allocate nothing
  bool wrote = true;
  for (Int32 i = 0; i < 15000 && wrote; ++i) wrote = f.WriteInt32(i);
  if (!wrote)
    return f.GetError() == FILEERROR_OUTOFMEMORY && name.GetMemoryFile()->GetWrittenSize() == 0;
  if (!f.Close()) return false;
  Filename copy(name);
  const void* bytes;
  Int64 n;
  if (!copy.CollectMemoryData(&bytes, &n)) return false;
  if (n != 60000) return n == 0 && copy.GetMemoryFile()->data == nullptr;  // copy failed
  BaseFile r;
  if (!r.Open(copy)) return false;
  Int32 v = -1;
  return r.Seek(4 * 14999) && r.ReadInt32(&v) && v == 14999;
}

}  // namespace

TEST(MemoryFile, EveryAllocationOfAMemoryRoundTripMayFail) {
  EXPECT_GE(lumtest::SweepAllocationFailures("memory round trip", MemoryRoundTrip), 4);
}
