// BaseFile: the library's byte-level file.
//
// It opens a Filename with an advisory lock and a C stream, keeps a 16 KiB buffer of its own in
// front of the stream (256 KiB for a file written past its first MiB), reads and writes every
// integer and float width in a chosen byte order, and records the first error in a sticky error
// code. A Filename that names a memory file is read from or written to memory instead.
//
// Error rule: an error is recorded only while none is (the first wins). Recording one closes the
// file and drops what a memory write target holds; from then on every operation fails and
// returns false or 0, and Close returns false.
//
// Modes: FILEOPEN_READ (and 4, 5) read through the own buffer, which for a file shorter than
// 16384 bytes is its length + 2; FILEOPEN_WRITE and FILEOPEN_APPEND write through it;
// FILEOPEN_READWRITE has no own buffer and goes through the C stream's 32 KiB buffer. A request
// larger than the own buffer bypasses it.
#ifndef LUM_BASEFILE_H
#define LUM_BASEFILE_H

#include <cstdio>
#include <cstring>

#include "foundation/lum_file.h"
#include "foundation/lum_filename.h"
#include "foundation/lum_memoryfilestruct.h"
#include "lum_types.h"

namespace lumora {

class BaseFile {
 public:
  BaseFile();
  // Closes.
  ~BaseFile();
  BaseFile(const BaseFile&) = delete;
  BaseFile& operator=(const BaseFile&) = delete;

  // Opens name (an open file is closed first and its error forgotten). type and creator are
  // four-character codes, first character in the most significant byte; FILEOPEN_WRITE stores
  // them as the file's Finder information where the file system keeps it (best effort). The
  // dialog argument has no effect. False with FILEERROR_OPEN when the file cannot be opened
  // (another process holding a conflicting lock included), FILEERROR_INVALID for a bad mode,
  // FILEERROR_OUTOFMEMORY when the buffer cannot be allocated.
  //
  // A memory file (see Filename) is read when opened for reading and it has FLAG_READABLE or
  // FLAG_WRITABLE, written when opened otherwise and it has FLAG_WRITABLE: FILEOPEN_WRITE drops
  // its old content, FILEOPEN_APPEND and FILEOPEN_READWRITE keep it (APPEND starts at its end).
  // A memory file that does not allow the mode is opened as the path it carries.
  bool Open(const Filename& name, FILEOPEN mode = FILEOPEN_READ,
            FILEDIALOG dialog = FILEDIALOG_NONE, BYTEORDER order = BYTEORDER_MOTOROLA,
            Int32 type = 0, Int32 creator = 0);
  // Writes what is pending (unless an error is recorded or the file was read only) and closes
  // the stream. True when no error is recorded; true also when nothing is open and no error is.
  bool Close();

  // Reads up to count bytes. Returns the bytes read; a short read records FILEERROR_READ and
  // returns 0 unless justTry is set (then the short count comes back, no error). count 0
  // returns 1 when justTry is false and no error is recorded, else 0. count < 0, a writing mode
  // or no file record FILEERROR_INVALID. The position advances by the bytes actually read.
  Int64 ReadBytes(void* dst, Int64 count, bool justTry = false);
  // Writes count bytes; fewer written records FILEERROR_WRITE (FILEERROR_OUTOFMEMORY for a
  // memory file that cannot grow). Not allowed when reading (FILEERROR_INVALID).
  bool WriteBytes(const void* src, Int64 count);

  // Typed values: exactly their width in bytes, byte-swapped when the order is
  // BYTEORDER_MOTOROLA. A float whose exponent bits are all ones (infinity, NaN) is read and
  // written as 0.0. A failed read leaves *value unchanged (a null value pointer discards).
  bool ReadChar(Char* value) { return ReadNumber<UInt8>(value); }
  bool ReadUChar(UChar* value) { return ReadNumber<UInt8>(value); }
  bool ReadInt16(Int16* value) { return ReadNumber<UInt16>(value); }
  bool ReadUInt16(UInt16* value) { return ReadNumber<UInt16>(value); }
  bool ReadInt32(Int32* value) { return ReadNumber<UInt32>(value); }
  bool ReadUInt32(UInt32* value) { return ReadNumber<UInt32>(value); }
  bool ReadInt64(Int64* value) { return ReadNumber<UInt64>(value); }
  bool ReadFloat32(Float32* value);
  bool ReadFloat64(Float64* value);
  bool WriteChar(Char value);
  bool WriteUChar(UChar value);
  bool WriteInt16(Int16 value);
  bool WriteUInt16(UInt16 value);
  bool WriteInt32(Int32 value);
  bool WriteUInt32(UInt32 value);
  bool WriteInt64(Int64 value);
  bool WriteFloat32(Float32 value);
  bool WriteFloat64(Float64 value);

  // Moves the logical position. A negative target, an unknown origin or no file record
  // FILEERROR_INVALID; so does a target past the end of a memory file. Reading, a target inside
  // the buffer only moves the cursor; writing, pending bytes are flushed first.
  bool Seek(Int64 offset, FILESEEK how = FILESEEK_START);
  // The logical position; no file records FILEERROR_INVALID and returns 0.
  Int64 GetPosition() {
    if (IsOpen()) return _position;
    SetError(FILEERROR_INVALID);
    return 0;
  }
  // The length of the file (cached once known). Only when reading or reading and writing;
  // otherwise FILEERROR_INVALID and 0.
  Int64 GetLength();
  FILEERROR GetError() const { return static_cast<FILEERROR>(_error); }
  // The operating system's error number (errno) behind the recorded error, or 0 when the error
  // came from the library itself (a read past the end, a bad argument, memory).
  Int32 GetOSError() const { return _osError; }
  // The position as GetPosition gives it, without its check: for error reports, also after the
  // error closed the file.
  Int64 PeekPosition() const { return _position; }
  void SetOrder(BYTEORDER order) { _order = order; }
  BYTEORDER GetOrder() const { return _order; }
  // The FILEOPEN the file was opened with; 4 and 5 read as FILEOPEN_READ.
  FILEOPEN GetMode() const { return static_cast<FILEOPEN>(_mode); }
  // True while a file (or memory file) is open.
  bool IsOpen() const { return _memoryMode || _stream != nullptr; }

  // Prepares the own buffer for a request of count bytes and returns how many bytes the
  // request can take from (reading) or put into (writing) the buffer, or 0 when the request is
  // larger than the buffer and goes to the stream directly. Internal to the buffered paths.
  Int64 AdjustBuffer(Int64 count);
  // After a flush that left the buffer empty: a larger buffer for a file already long.
  void GrowWriteBuffer();

  // Reading a disk file: the bytes of the own buffer from the position on (*count of them), or
  // null and 0 when there are none; valid until the next operation. Lets a reader of many small
  // values parse them where they lie, and step over them with SkipBuffered.
  const UChar* PeekBuffered(Int64* count) const {
    const Int64 at = _position - _bufferStart;
    if (_buffer == nullptr || _mode != FILEOPEN_READ || _bufferStart < 0 || at < 0 || at >= _fill) {
      *count = 0;
      return nullptr;
    }
    *count = _fill - at;
    return _buffer + at;
  }
  // Moves the position over n (0 <= n <= the count PeekBuffered gave) of those bytes.
  void SkipBuffered(Int64 n) {
    _position += n;
    _cursor = _position - _bufferStart;
  }
  // PeekBuffered, and for a memory file being read, its readable bytes from the position on;
  // SkipReadable steps over n of them.
  const UChar* PeekReadable(Int64* count) const {
    if (!_memoryMode) return PeekBuffered(count);
    *count = 0;
    if (_mode != FILEOPEN_READ || _memoryData == nullptr || _position >= _memoryLength)
      return nullptr;
    *count = _memoryLength - _position;
    return _memoryData + _position;
  }
  // True when PeekReadable can give bytes at all: a disk file read through the own buffer (a
  // read of a few bytes past its end refills it), or a memory file whose bytes lie in one block.
  bool Peekable() const {
    if (_mode != FILEOPEN_READ) return false;
    return _memoryMode ? _memoryData != nullptr : _buffer != nullptr;
  }
  void SkipReadable(Int64 n) {
    if (_memoryMode)
      _position += n;
    else
      SkipBuffered(n);
  }
  // Writing a disk file: room for count more bytes at the end of the own buffer, taken at once
  // (the caller fills all of them before the next operation), or null and nothing taken when
  // they do not fit in what the buffer has left; WriteBytes is the way then. For writers of
  // many small values, which encode them in place.
  UChar* ReserveBuffered(Int64 count) {
    if (count < 0 || count > _putEnd - _fill) return nullptr;
    UChar* at = _buffer + _fill;
    _fill += count;
    _position += count;
    return at;
  }
  // The same for bytes that are ready: false (nothing done) when ReserveBuffered has no room.
  bool PutBuffered(const void* src, Int64 count) {
    if (src == nullptr) return false;
    UChar* at = ReserveBuffered(count);
    if (at == nullptr) return false;
    std::memcpy(at, src, static_cast<size_t>(count));
    return true;
  }

  // True for a disk file opened with FILEOPEN_WRITE that is a regular file: Seek can take it
  // past its end and the bytes written there stay, the gap filled by later writes. A memory
  // file refuses such a position, and a pipe or a device cannot seek.
  bool CanWriteOutOfOrder() const;

  // Opens the path of name as a C stream for fileopen (the path as UTF-8; a path longer than
  // the local buffer is converted into an allocated one). Null on failure, also for a path
  // that holds a 0 unit.
  FILE* Gefopen(const Filename& name, FILEOPEN fileopen);

 private:
  void SetError(FILEERROR code);
  void EmptyBuffer();
  bool Flush();
  bool HasOwnBuffer() const { return _buffer != nullptr; }
  bool StreamSeek(Int64 offset, int whence);
  void SwitchDirection(bool writing);
  bool OpenMemory(MemoryFileStruct* memory, bool reading);
  bool OpenDisk(const Filename& name, FILEOPEN fileopen, Int32 type, Int32 creator);
  // Reading a disk file: copies count bytes that lie in the own buffer at the position, as
  // ReadBytes would; false (nothing done) when they do not all lie there. A recorded error has
  // freed the buffer, and memory and read-write files have none.
  bool TakeBuffered(void* dst, Int64 count) {
    const Int64 at = _position - _bufferStart;
    if (_buffer == nullptr || _mode != FILEOPEN_READ || _bufferStart < 0 || at < 0 ||
        count > _fill - at)
      return false;
    std::memcpy(dst, _buffer + at, static_cast<size_t>(count));
    _cursor = at + count;
    _position += count;
    return true;
  }
  // The whole-number reads, kept inline for the loops that read one number after another: the
  // bytes from the own buffer when they lie there, through ReadValue otherwise.
  static UInt8 Swapped(UInt8 v) { return v; }
  static UInt16 Swapped(UInt16 v) { return __builtin_bswap16(v); }
  static UInt32 Swapped(UInt32 v) { return __builtin_bswap32(v); }
  static UInt64 Swapped(UInt64 v) { return __builtin_bswap64(v); }
  template <typename U>
  bool ReadNumber(void* value) {
    U v;
    if (!TakeBuffered(&v, sizeof v)) return ReadValue(value, sizeof v);
    if ((_order == BYTEORDER_MOTOROLA) == kHostIsLittle) v = Swapped(v);
    if (value != nullptr) std::memcpy(value, &v, sizeof v);
    return true;
  }
  bool ReadValue(void* value, Int64 width);
  bool WriteValue(const void* value, Int64 width);

  static constexpr bool kHostIsLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

  FILE* _stream;
  bool _memoryMode;
  Int32 _error;
  Int32 _osError = 0;
  BYTEORDER _order;
  Int64 _memoryLength;
  Int32 _mode;
  Int64 _cachedLength;
  Int64 _position;
  UChar* _buffer;
  Int64 _bufferSize;
  Int64 _bufferStart;
  Int64 _cursor;
  Int64 _fill;
  // Writing through the own buffer: the fill up to which ReserveBuffered may hand out room (the
  // buffer's size); kNoPut otherwise, which lies below every fill (never below -1), so that one
  // comparison stands for the mode, the buffer and its state. Set by AdjustBuffer, cleared by
  // EmptyBuffer.
  static constexpr Int64 kNoPut = -2;
  Int64 _putEnd = kNoPut;
  MemoryFileStruct* _writeTarget;
  const UChar* _memoryData;         // memory read: the readable bytes, or null to read the blocks
  MemoryFileStruct* _memoryRecord;  // the memory file being read or written
  Int64 _streamPosition;            // where the C stream stands
  Int32 _lastDirection;             // read-write mode: 0 none, 1 read, 2 write since the last seek
};

}  // namespace lumora

#endif  // LUM_BASEFILE_H
