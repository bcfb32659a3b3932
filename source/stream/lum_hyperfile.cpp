// HyperFile: tagged values and chunks over a BaseFile.
//
// Values are encoded into a small local buffer and handed to the BaseFile in one call; arrays
// and strings are converted block by block. The bytes, positions, chunk depth and error codes
// are those of writing and reading every number with the BaseFile's typed functions, one at a
// time: the same byte order, the same float rule (infinity and NaN become 0), the same point of
// failure when the file ends early.
#include "stream/lum_hyperfile.h"

#include <cstring>
#include <limits>

#include "lum_debug.h"
#include "lum_memory.h"
#include "stream/lum_hyperfile_private.h"

namespace lumora {

// ---- state ----

HyperFile::HyperFile() = default;

HyperFile::~HyperFile() { _file.Close(); }

bool HyperFile::Open(const Filename& name, FILEOPEN mode) {
  _file.Close();
  _error = FILEERROR_NONE;
  _valueStart = 0;
  _errorAt = 0;
  _depth = 0;
  _progress = 0;
  _length = 0;
  _mode = mode;
  if (mode != FILEOPEN_READ && mode != FILEOPEN_WRITE) return Fail(FILEERROR_INVALID, __LINE__);
  if (!_file.Open(name, mode, FILEDIALOG_NONE, BYTEORDER_MOTOROLA, 0, 0))
    return FileFailed(__LINE__);
  // A file opened for reading has its length already: taking it again cannot fail.
  if (mode == FILEOPEN_READ) _length = _file.GetLength();
  return true;
}

bool HyperFile::Close() {
  if (!_file.Close() && _error == FILEERROR_NONE) FileFailed(__LINE__);
  return _error == FILEERROR_NONE;
}

void HyperFile::SetError(FILEERROR error) {
  if (error != FILEERROR_NONE && _error == FILEERROR_NONE) NoteErrorPosition();
  _error = error;
  if (error != FILEERROR_NONE) _GeDebugBreak(__LINE__, kFile);
}

void HyperFile::SetReadingHook(HyperFileReadingHook hook, void* data) {
  _readingHook = hook;
  _readingData = data;
}

void HyperFile::SetWritingHook(HyperFileWritingHook hook, void* data) {
  _writingHook = hook;
  _writingData = data;
}

void HyperFile::NoteErrorPosition() {
  _errorAt = _mode == FILEOPEN_READ ? _valueStart : _file.PeekPosition();
}

bool HyperFile::Fail(FILEERROR error, Int32 line) {
  if (_error == FILEERROR_NONE) NoteErrorPosition();
  _error = error;
  _GeDebugBreak(line, kFile);
  return false;
}

bool HyperFile::FileFailed(Int32 line) {
  FILEERROR error = _file.GetError();
  return Fail(error != FILEERROR_NONE ? error : FILEERROR_INVALID, line);
}

Int64 HyperFile::BytesLeft() {
  if (!_file.IsOpen() || _file.GetMode() != FILEOPEN_READ) return -1;
  return _file.GetLength() - _file.GetPosition();
}

bool HyperFile::CheckRemaining(Int64 bytes) {
  if (_error != FILEERROR_NONE) return false;
  Int64 left = BytesLeft();
  if (bytes < 0 || left < 0 || bytes > left) return Fail(FILEERROR_READ, __LINE__);
  return true;
}

// ---- progress ----

// Steps up to and including the next one that reports (callers end a block of elements there,
// so that the hook sees the position right after the element that reported).
Int64 HyperFile::WriteStepsBeforeReport() const {
  if (_writingHook == nullptr) return std::numeric_limits<Int64>::max();
  if (_progress >= kWriteReportSteps) return 1;
  return kWriteReportSteps - _progress + 1;
}

void HyperFile::WriteSteps(Int64 n) {
  if (_writingHook == nullptr) return;
  while (n > 0) {
    if (_progress >= kWriteReportSteps) {
      _writingHook(GetPosition(), _writingData);
      _progress = 0;
    }
    Int64 quiet = Min(n, kWriteReportSteps - _progress);
    _progress += quiet;
    n -= quiet;
  }
}

// ---- raw access ----

// Bytes that lie whole in the BaseFile's buffer are copied from there: the small values of a
// stream, read one after another, would otherwise each pay for a call of ReadBytes and its
// checks.
bool HyperFile::TakeSlow(void* bytes, Int64 n) {
  if (n <= 0) return true;
  if (_file.ReadBytes(bytes, n, false) != n) return FileFailed(__LINE__);
  return true;
}

// After a read with justTry came back short: the BaseFile records why, as a plain read would.
bool HyperFile::ShortRead(Int32 line) {
  if (_file.GetError() == FILEERROR_NONE) {
    UChar b;
    _file.ReadBytes(&b, 1, false);
  }
  return FileFailed(line);
}

bool HyperFile::SkipBytes(Int64 n) {
  if (n <= 0) return true;
  const Int64 left = BytesLeft();  // -1 for a stream that is not read: it skips nothing
  // A file open for reading has no error, and its seeks inside its length cannot fail.
  if (n <= left) return _file.Seek(n, FILESEEK_RELATIVE);
  if (left > 0) _file.Seek(left, FILESEEK_RELATIVE);
  // The payload runs past the end: the next byte cannot be read, and the BaseFile says why.
  UChar b;
  _file.ReadBytes(&b, 1, false);
  return FileFailed(__LINE__);
}
// ---- chunks ----

bool HyperFile::WriteChunkStart(Int32 id, Int32 level) {
  if (_error != FILEERROR_NONE) return false;
  if (_depth >= HYPERFILE_MAX_CHUNK_DEPTH) return Fail(FILEERROR_TOO_DEEP, __LINE__);
  ++_depth;
  UChar b[9];
  UChar* at = ReserveValue(9);
  Encoder e(at != nullptr ? at : b, SwapNeeded());
  e.Byte(HYPERFILEVALUE_CHUNKSTART);
  e.U32(static_cast<UInt32>(id));
  e.U32(static_cast<UInt32>(level));
  return EndValue(at, b, 9);
}

bool HyperFile::WriteChunkEnd() {
  if (_error != FILEERROR_NONE) return false;
  --_depth;
  UChar b = HYPERFILEVALUE_CHUNKEND;
  UChar* at = ReserveValue(1);
  if (at != nullptr) *at = b;
  return EndValue(at, &b, 1);
}

bool HyperFile::ReadChunkStart(Int32* id, Int32* level) {
  if (_error != FILEERROR_NONE) return false;
  UChar p[8];
  if (!Take(p, 8)) return false;
  Decoder d(p, SwapNeeded());
  Int32 i = static_cast<Int32>(d.U32());
  Int32 l = static_cast<Int32>(d.U32());
  if (id != nullptr) *id = i;
  if (level != nullptr) *level = l;
  ReadStep();
  return true;
}

bool HyperFile::ReadChunkEnd() {
  if (_error != FILEERROR_NONE) return false;
  if (_mode == FILEOPEN_WRITE) return Fail(FILEERROR_WRITE, __LINE__);
  ReadStep();
  return true;
}

bool HyperFile::ReadValueHeader(HYPERFILEVALUE* kind) {
  if (kind != nullptr) *kind = HYPERFILEVALUE_NONE;
  if (_error != FILEERROR_NONE) return false;
  UChar b;
  if (!ReadKindByte(&b)) return false;
  if (kind != nullptr) *kind = static_cast<HYPERFILEVALUE>(b);
  return true;
}

bool HyperFile::NextIsChunkEnd() {
  if (_error != FILEERROR_NONE || _mode != FILEOPEN_READ) return false;
  Int64 have = 0;
  const UChar* at = _file.PeekBuffered(&have);
  if (at != nullptr) return at[0] == HYPERFILEVALUE_CHUNKEND;  // never with 0 bytes
  const Int64 position = GetPosition();
  UChar b = 0;
  const bool got = _file.ReadBytes(&b, 1, true) == 1;
  if (!_file.Seek(position, FILESEEK_START)) return Fail(FILEERROR_SEEK, __LINE__);
  return got && b == HYPERFILEVALUE_CHUNKEND;
}

bool HyperFile::CheckIt(HYPERFILEVALUE kind) {
  if (_error != FILEERROR_NONE) return false;
  UChar b;
  if (!ReadKindByte(&b)) return false;
  if (static_cast<Int32>(b) != static_cast<Int32>(kind))
    return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  return true;
}

// Files of version 11924 and older without 32-bit floats size kinds 133 and 136 otherwise.
bool HyperFile::OldSkipLayout() const { return _version <= kLastOldFloatVersion && !_float32; }

bool HyperFile::SkipValue(HYPERFILEVALUE kind) {
  if (_error != FILEERROR_NONE) return false;
  const Int32 k = kind;
  const bool swap = SwapNeeded();
  Int64 skip = 0;
  if (k == HYPERFILEVALUE_MEMORY64) {
    UChar p[8];
    if (!Take(p, 8)) return false;
    skip = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
  } else if (k == HYPERFILEVALUE_ARRAY && _version <= kLastOldArrayVersion) {
    // The older array header: the type byte, then the Int32 byte size.
    UChar p[5];
    if (!Take(p, 5)) return false;
    skip = static_cast<Int32>(LoadRaw<UInt32>(p + 1, swap));
  } else if (k >= HYPERFILEVALUE_MEMORY) {
    UChar p[8];
    if (!Take(p, 4)) return false;
    const Int64 m = static_cast<Int32>(LoadRaw<UInt32>(p, swap));
    if (k > HYPERFILEVALUE_ARRAY) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
    if (k == HYPERFILEVALUE_ARRAY && m == 0) {
      if (!Take(p, 1) || !Take(p, 8)) return false;
      skip = static_cast<Int64>(LoadRaw<UInt64>(p, swap));
    } else {
      skip = CountedPayload(k, m, OldSkipLayout());
    }
  } else {
    skip = FixedPayload(k, _float32 ? 4 : 8);
    if (skip < 0) return Fail(FILEERROR_WRONG_VALUE, __LINE__);
  }
  if (!SkipBytes(skip)) return false;
  ReadStep();
  return true;
}

// The values that lie whole in the BaseFile's buffer, skipped where they lie: what
// SkipToEndChunk's loop does value by value, for as long as it can be done without reading.
// Only without a reading hook (there are no progress steps to make then). Returns 1 when the
// chunk ended (true), 0 when the end of the file was reached (false), -1 to go on value by
// value with the next value, which does not lie whole in the buffer or needs SkipValue's
// failure handling.
Int32 HyperFile::SkipBufferedValues(Int32* nested) {
  Int64 avail = 0;
  const UChar* p = _file.PeekBuffered(&avail);
  if (p == nullptr) return -1;
  const bool swap = SwapNeeded();
  const bool oldLayout = OldSkipLayout();
  const Int64 f = _float32 ? 4 : 8;
  const Int64 start = _file.GetPosition();
  Int64 used = 0;
  Int32 result = -1;
  while (used < avail) {
    const Int32 kind = p[used];
    const Int64 left = avail - used - 1;  // bytes after the kind byte
    Int64 size;                           // bytes after the kind byte that the value takes
    if (kind == HYPERFILEVALUE_CHUNKEND) {
      size = 0;
    } else if (kind < HYPERFILEVALUE_MEMORY) {
      size = FixedPayload(kind, f);
      if (size < 0) break;
    } else if (kind == HYPERFILEVALUE_ARRAY && _version <= kLastOldArrayVersion) {
      if (left < 5) break;
      const Int64 n = static_cast<Int32>(LoadRaw<UInt32>(p + used + 2, swap));
      size = 5 + (n > 0 ? n : 0);
    } else if (kind == HYPERFILEVALUE_MEMORY64 || kind > HYPERFILEVALUE_ARRAY) {
      if (kind > HYPERFILEVALUE_ARRAY || left < 8) break;
      const Int64 n = static_cast<Int64>(LoadRaw<UInt64>(p + used + 1, swap));
      size = 8 + (n > 0 ? n : 0);
    } else {
      if (left < 4) break;
      const Int64 m = static_cast<Int32>(LoadRaw<UInt32>(p + used + 1, swap));
      if (kind == HYPERFILEVALUE_ARRAY && m == 0) {
        if (left < 13) break;
        const Int64 n = static_cast<Int64>(LoadRaw<UInt64>(p + used + 6, swap));
        size = 13 + (n > 0 ? n : 0);
      } else {
        const Int64 n = CountedPayload(kind, m, oldLayout);
        size = 4 + (n > 0 ? n : 0);
      }
    }
    if (size > left) break;
    used += 1 + size;
    if (kind == HYPERFILEVALUE_CHUNKEND) {
      --_depth;
      if (*nested <= 0) {
        result = 1;
        break;
      }
      --*nested;
    } else if (kind == HYPERFILEVALUE_CHUNKSTART) {
      ++_depth;
      ++*nested;
    }
    if (start + used >= _length) {
      result = 0;
      break;
    }
  }
  _file.SkipBuffered(used);
  return result;
}

bool HyperFile::SkipToEndChunk() {
  if (_error != FILEERROR_NONE) return false;
  Int32 nested = 0;
  for (;;) {
    if (_readingHook == nullptr) {
      Int32 done = SkipBufferedValues(&nested);
      if (done >= 0) return done > 0;
    }
    UChar kind;
    if (!ReadKindByte(&kind)) return Fail(FILEERROR_CHUNKEND_MISSING, __LINE__);
    if (kind == HYPERFILEVALUE_CHUNKEND) {
      if (nested <= 0) return true;
      --nested;
    } else {
      if (kind == HYPERFILEVALUE_CHUNKSTART) ++nested;
      SkipValue(static_cast<HYPERFILEVALUE>(kind));
    }
    if (_error != FILEERROR_NONE) return Fail(FILEERROR_CHUNKEND_MISSING, __LINE__);
    if (GetPosition() >= _length) return false;
  }
}

bool HyperFile::ReadUnknownChunk(void** bytes, Int64* size, bool withoutEnd) {
  if (bytes != nullptr) *bytes = nullptr;
  if (size != nullptr) *size = 0;
  if (_error != FILEERROR_NONE) return false;
  const Int64 start = GetPosition();
  // A chunk whose end is missing is not kept: its last byte would be taken for the end byte.
  if (!SkipToEndChunk()) return false;
  Int64 n = GetPosition() - start;  // at least the end byte
  if (withoutEnd) --n;
  if (n < 1) return true;
  void* block = MemAllocNC(n);
  if (block == nullptr) return Fail(FILEERROR_OUTOFMEMORY, __LINE__);
  if (!_file.Seek(start, FILESEEK_START) || _file.ReadBytes(block, n, false) != n ||
      (withoutEnd && !_file.Seek(1, FILESEEK_RELATIVE))) {
    MemFree(block);
    return Fail(FILEERROR_SEEK, __LINE__);
  }
  if (bytes != nullptr)
    *bytes = block;
  else
    MemFree(block);
  if (size != nullptr) *size = n;
  return true;
}

bool HyperFile::WriteUnknownChunk(const void* bytes, Int64 size, bool withoutEnd) {
  if (_error != FILEERROR_NONE) return false;
  if (bytes != nullptr && size > 0 && !Emit(bytes, size)) return false;
  // Kept with their end, the bytes close the chunk.
  if (bytes != nullptr && size > 0 && !withoutEnd) --_depth;
  if (bytes == nullptr && !withoutEnd) WriteChunkEnd();
  return _error == FILEERROR_NONE;
}

namespace {

// Every version at which the reading of kept bytes may change: node names, colon paths, the
// older node, tag and selection layouts, the array header, and the 32-bit float kind with the
// skipping of the older arrays. (Gradients and splines change too, but their values are always
// read by their classes, never kept raw.)
constexpr Int32 kLayoutVersions[] = {7500, 10002, 11600, 11904, 11925};
constexpr Int32 kLayoutFloat32 = 0x100;
constexpr Int32 kLayoutIntel = 0x200;

}  // namespace

Int32 HyperFile::GetRawLayout() const {
  Int32 layout = 0;
  for (Int32 v : kLayoutVersions) {
    if (_version < v) ++layout;
  }
  if (_float32) layout |= kLayoutFloat32;
  if (GetByteOrder() == BYTEORDER_INTEL) layout |= kLayoutIntel;
  return layout;
}

bool HyperFile::WriteKeptChunk(const void* bytes, Int64 size, bool withoutEnd, Int32 layout) {
  if (_error != FILEERROR_NONE) return false;
  if (bytes != nullptr && size > 0 && layout != GetRawLayout()) {
    _GeDebugBreak(__LINE__, kFile);
    ++_droppedRaw;
    bytes = nullptr;
  }
  return WriteUnknownChunk(bytes, size, withoutEnd);
}

}  // namespace lumora
