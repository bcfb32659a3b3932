// BaseFile: buffered, byte-ordered file access with a sticky error code.
#include "foundation/lum_basefile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "lum_debug.h"
#include "lum_memory.h"
#include "platform/lum_platform.h"

namespace lumora {
namespace {

constexpr Int64 kBufferSize = 16384;
// A file written past kGrowAfter bytes has its buffer enlarged to kLargeBufferSize at the next
// flush, and a longer file is read through one of that size: a large file then goes in and out
// in a sixteenth of the calls, a small one keeps 16 KiB.
constexpr Int64 kGrowAfter = 1 << 20;
constexpr Int64 kLargeBufferSize = 1 << 18;
constexpr size_t kReadWriteStreamBuffer = 32768;
constexpr Int32 kLocalPathSize = 2048;
// More bytes than this from the local conversion may mean a character did not fit.
constexpr Int32 kLocalPathLimit = 2043;

constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The stream mode and flags each FILEOPEN opens with (Open has refused any other value).
void StreamModeOf(FILEOPEN fileopen, FILEMODE* mode, OPENSTREAMFLAGSF* flags) {
  switch (fileopen) {
    case FILEOPEN_APPEND:
      *mode = FILEMODE_WRITE;
      *flags = static_cast<OPENSTREAMFLAGSF>(OPENSTREAMFLAGSF_KEEP | OPENSTREAMFLAGSF_APPEND);
      return;
    case FILEOPEN_READ:
    case FILEOPEN_READ_ALT:
      *mode = FILEMODE_READ;
      *flags = OPENSTREAMFLAGSF_NONE;
      return;
    case FILEOPEN_WRITE:
      *mode = FILEMODE_WRITE;
      *flags = OPENSTREAMFLAGSF_NONE;
      return;
    case FILEOPEN_READWRITE:
      *mode = FILEMODE_READWRITE;
      *flags = OPENSTREAMFLAGSF_KEEP;
      return;
    case FILEOPEN_READ_SHARED:
    default:
      *mode = FILEMODE_READ;
      *flags = OPENSTREAMFLAGSF_SHARED;
      return;
  }
}

void Reverse(UChar* bytes, Int64 width) {
  for (Int64 i = 0, j = width - 1; i < j; ++i, --j) {
    UChar t = bytes[i];
    bytes[i] = bytes[j];
    bytes[j] = t;
  }
}

bool IsInfOrNaN32(UInt32 bits) { return ((bits >> 23) & 0xFFu) == 0xFFu; }
bool IsInfOrNaN64(UInt64 bits) { return ((bits >> 52) & 0x7FFu) == 0x7FFu; }

}  // namespace

BaseFile::BaseFile()
    : _stream(nullptr),
      _memoryMode(false),
      _error(FILEERROR_NONE),
      _order(BYTEORDER_MOTOROLA),
      _memoryLength(0),
      _mode(FILEOPEN_READ),
      _cachedLength(-1),
      _position(0),
      _buffer(nullptr),
      _bufferSize(-1),
      _bufferStart(-1),
      _cursor(-1),
      _fill(-1),
      _writeTarget(nullptr),
      _memoryData(nullptr),
      _memoryRecord(nullptr),
      _streamPosition(0),
      _lastDirection(0) {}

BaseFile::~BaseFile() { Close(); }

// ---- errors, open and close ----

namespace {

// errno for the failures the system reports; the library's own refusals have none. errno is cleared
// when a file is opened, so a value left from before is not taken for this file's.
Int32 OSErrorFor(FILEERROR code) {
  switch (code) {
    case FILEERROR_OPEN:
    case FILEERROR_CLOSE:
    case FILEERROR_READ:
    case FILEERROR_WRITE:
    case FILEERROR_SEEK:
      return errno;
    default:
      return 0;
  }
}

}  // namespace

void BaseFile::SetError(FILEERROR code) {
  if (_error != FILEERROR_NONE) return;
  _error = code;
  // A read that came short at the end of the file is no system error.
  const bool systemRead = _stream != nullptr && std::ferror(_stream) != 0;
  _osError = code == FILEERROR_READ && !systemRead ? 0 : OSErrorFor(code);
  if (_writeTarget != nullptr) {
    _writeTarget->Free();
    _writeTarget = nullptr;
  }
  Close();
}

bool BaseFile::Close() {
  if (_memoryMode) {
    _memoryMode = false;
    _memoryData = nullptr;
    _memoryRecord = nullptr;
    _writeTarget = nullptr;
    return _error == FILEERROR_NONE;
  }
  if (_stream != nullptr) {
    if (_error == FILEERROR_NONE && _mode != FILEOPEN_READ && _buffer != nullptr &&
        _fill > _cursor && _cursor >= 0) {
      size_t pending = static_cast<size_t>(_fill - _cursor);
      if (std::fwrite(_buffer + _cursor, 1, pending, _stream) != pending) {
        _error = FILEERROR_WRITE;
        _osError = errno;
      }
    }
    if (std::fclose(_stream) != 0 && _error == FILEERROR_NONE) {
      _error = FILEERROR_CLOSE;
      _osError = errno;
    }
    _stream = nullptr;
  }
  DeleteMem(_buffer);
  _bufferSize = -1;
  EmptyBuffer();
  return _error == FILEERROR_NONE;
}

bool BaseFile::Open(const Filename& name, FILEOPEN fileopen, FILEDIALOG dialog, BYTEORDER order,
                    Int32 type, Int32 creator) {
  (void)dialog;
  if (IsOpen()) Close();
  _error = FILEERROR_NONE;
  _osError = 0;
  errno = 0;
  _mode = (fileopen == FILEOPEN_READ_ALT || fileopen == FILEOPEN_READ_SHARED) ? FILEOPEN_READ
                                                                              : fileopen;
  _order = order;
  _cachedLength = -1;
  _position = 0;
  _memoryLength = 0;
  _bufferSize = -1;
  EmptyBuffer();
  _streamPosition = 0;
  _lastDirection = 0;
  if (fileopen < FILEOPEN_APPEND || fileopen > FILEOPEN_READ_SHARED) {
    _GeDebugBreak(__LINE__, "source/lum_basefile");
    _mode = FILEOPEN_READ;
    SetError(FILEERROR_INVALID);
    return false;
  }

  MemoryFileStruct* memory = name.GetMemoryFile();
  if (memory != nullptr) {
    bool reading = _mode == FILEOPEN_READ;
    if (reading &&
        (memory->flags & (MemoryFileStruct::FLAG_READABLE | MemoryFileStruct::FLAG_WRITABLE)) != 0)
      return OpenMemory(memory, true);
    if (!reading && (memory->flags & MemoryFileStruct::FLAG_WRITABLE) != 0)
      return OpenMemory(memory, false);
  }
  return OpenDisk(name, fileopen, type, creator);
}

bool BaseFile::OpenMemory(MemoryFileStruct* memory, bool reading) {
  _memoryMode = true;
  _memoryRecord = memory;
  if (reading) {
    // Written blocks not yet collected are read in place.
    Int64 written = memory->GetWrittenSize();
    _memoryData = written > 0 ? nullptr : static_cast<const UChar*>(memory->data);
    _memoryLength = written > 0 ? written : (memory->data != nullptr ? memory->size : 0);
    return true;
  }
  if (_mode == FILEOPEN_WRITE) {
    memory->Free();
    // Bytes the record only pointed at are not its to keep once it owns what it holds.
    memory->data = nullptr;
    memory->size = 0;
    memory->flags |= MemoryFileStruct::FLAG_OWNS;
  } else if (!memory->ReadableToWritten()) {
    // Appending or updating keeps the old content; without room for it nothing is dropped.
    SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  _writeTarget = memory;
  _memoryLength = memory->GetWrittenSize();
  _position = _mode == FILEOPEN_APPEND ? _memoryLength : 0;
  return true;
}

bool BaseFile::OpenDisk(const Filename& name, FILEOPEN fileopen, Int32 type, Int32 creator) {
  bool writing = _mode == FILEOPEN_WRITE || _mode == FILEOPEN_APPEND;
  // The write buffer comes first, so that a file is never truncated for an open that fails.
  if (writing) {
    _buffer = static_cast<UChar*>(MemAllocNC(kBufferSize));
    if (_buffer == nullptr) {
      SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
    _bufferSize = kBufferSize;
  }
  _stream = Gefopen(name, fileopen);
  if (_stream == nullptr) {
    DeleteMem(_buffer);
    _bufferSize = -1;
    SetError(FILEERROR_OPEN);
    return false;
  }
  // Every mode but read-write has the file's own buffer: a second one in the stream would only
  // copy the bytes once more and split a flush into a block-sized write and the rest.
  if (_mode != FILEOPEN_READWRITE) std::setvbuf(_stream, nullptr, _IONBF, 0);
  switch (_mode) {
    case FILEOPEN_READWRITE:
      std::setvbuf(_stream, nullptr, _IOFBF, kReadWriteStreamBuffer);
      return true;
    case FILEOPEN_WRITE:
      PlatformSetFinderInfo(fileno(_stream), type, creator);
      return true;
    case FILEOPEN_APPEND:
      if (!StreamSeek(0, SEEK_END)) {
        SetError(FILEERROR_SEEK);
        return false;
      }
      _position = _streamPosition;
      return true;
    default: {
      Int64 length = GetLength();
      if (_error != FILEERROR_NONE) return false;
      // A file longer than kGrowAfter is read in kLargeBufferSize steps.
      Int64 size = length < kBufferSize ? length + 2
                                        : (length > kGrowAfter ? kLargeBufferSize : kBufferSize);
      _buffer = static_cast<UChar*>(MemAllocNC(size));
      if (_buffer == nullptr) {
        SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
      _bufferSize = size;
      return true;
    }
  }
}

FILE* BaseFile::Gefopen(const Filename& name, FILEOPEN fileopen) {
  FILEMODE mode;
  OPENSTREAMFLAGSF flags;
  StreamModeOf(fileopen, &mode, &flags);
  char local[kLocalPathSize];
  char* heap = nullptr;
  char* path = local;
  Int32 n = name._path.GetCString(local, kLocalPathSize, STRINGENCODING_UTF8);
  if (n > kLocalPathLimit) {
    Int32 length = name._path.GetCStringLen(STRINGENCODING_UTF8);
    heap = static_cast<char*>(MemAllocNC(static_cast<Int64>(length) + 1));
    if (heap == nullptr) return nullptr;
    n = name._path.GetCString(heap, length + 1, STRINGENCODING_UTF8);
    path = heap;
  }
  // A 0 unit would end the path early and open another file than the one named.
  FILE* stream =
      static_cast<Int32>(std::strlen(path)) == n ? CallFileOpen(path, mode, flags) : nullptr;
  DeleteMem(heap);
  return stream;
}

// ---- buffer machinery ----

void BaseFile::EmptyBuffer() {
  _bufferStart = -1;
  _cursor = -1;
  _fill = -1;
  _putEnd = kNoPut;
}

bool BaseFile::StreamSeek(Int64 offset, int whence) {
  if (fseeko(_stream, static_cast<off_t>(offset), whence) != 0) return false;
  if (whence == SEEK_SET) {
    _streamPosition = offset;
  } else {
    off_t at = ftello(_stream);
    if (at < 0) return false;
    _streamPosition = static_cast<Int64>(at);
  }
  _lastDirection = 0;
  return true;
}

bool BaseFile::Flush() {
  if (_buffer == nullptr || _cursor < 0 || _fill <= _cursor) return _error == FILEERROR_NONE;
  size_t pending = static_cast<size_t>(_fill - _cursor);
  size_t written = std::fwrite(_buffer + _cursor, 1, pending, _stream);
  _streamPosition += static_cast<Int64>(written);
  if (written != pending) {
    SetError(FILEERROR_WRITE);
    return false;
  }
  _cursor = 0;
  _fill = 0;
  return true;
}

void BaseFile::SwitchDirection(bool writing) {
  // A C stream must be repositioned between reading and writing.
  Int32 direction = writing ? 2 : 1;
  if (_lastDirection != 0 && _lastDirection != direction && !StreamSeek(_position, SEEK_SET)) {
    SetError(FILEERROR_SEEK);
    return;
  }
  _lastDirection = direction;
}

void BaseFile::GrowWriteBuffer() {
  if (_bufferSize >= kLargeBufferSize || _streamPosition < kGrowAfter || _fill != 0) return;
  // The buffer is empty: a new block needs no copy, and without one the old stays.
  UChar* larger = static_cast<UChar*>(MemAllocNC(kLargeBufferSize));
  if (larger == nullptr) return;
  DeleteMem(_buffer);
  _buffer = larger;
  _bufferSize = kLargeBufferSize;
}

Int64 BaseFile::AdjustBuffer(Int64 count) {
  if (_buffer == nullptr || _stream == nullptr || count < 0) return 0;
  if (_mode != FILEOPEN_READ) {
    if (_bufferStart < 0) _bufferStart = _cursor = _fill = 0;
    if (count > _bufferSize) {
      if (Flush()) EmptyBuffer();
      return 0;
    }
    _putEnd = _bufferSize;
    if (_bufferSize - _fill >= count) return count;
    if (!Flush()) return 0;
    GrowWriteBuffer();
    _putEnd = _bufferSize;
    return count;
  }

  if (count > _bufferSize) {
    EmptyBuffer();
    if (_streamPosition != _position && !StreamSeek(_position, SEEK_SET)) SetError(FILEERROR_SEEK);
    return 0;
  }
  Int64 available = 0;
  if (_bufferStart >= 0 && _position >= _bufferStart && _position < _bufferStart + _fill) {
    _cursor = _position - _bufferStart;
    available = _fill - _cursor;
  }
  if (available >= count) return count;
  if (available > 0) std::memmove(_buffer, _buffer + _cursor, static_cast<size_t>(available));
  Int64 target = _position + available;
  if (_streamPosition != target && !StreamSeek(target, SEEK_SET)) {
    SetError(FILEERROR_SEEK);
    return 0;
  }
  _bufferStart = _position;
  _cursor = 0;
  _fill = available;
  size_t want = static_cast<size_t>(_bufferSize - available);
  size_t got = std::fread(_buffer + available, 1, want, _stream);
  _streamPosition += static_cast<Int64>(got);
  if (got != want && !std::feof(_stream)) {
    SetError(FILEERROR_READ);
    return 0;
  }
  _fill += static_cast<Int64>(got);
  return count < _fill ? count : _fill;
}

// ---- bytes ----

Int64 BaseFile::ReadBytes(void* dst, Int64 count, bool justTry) {
  bool readable = _mode == FILEOPEN_READ || _mode == FILEOPEN_READWRITE;
  if (!IsOpen() || !readable || count < 0 || (dst == nullptr && count > 0)) {
    if (IsOpen() && !readable) _GeDebugBreak(__LINE__, "source/lum_basefile");
    SetError(FILEERROR_INVALID);
    return 0;
  }
  // An open file has kept no error: the first one closes it.
  if (count == 0) return justTry ? 0 : 1;

  Int64 got = 0;
  if (_memoryMode) {
    Int64 left = _memoryLength - _position;
    got = left <= 0 ? 0 : (count < left ? count : left);
    if (got > 0 && _memoryData != nullptr)
      std::memcpy(dst, _memoryData + _position, static_cast<size_t>(got));
    else if (got > 0)
      got = _memoryRecord->ReadWritten(_position, dst, got);
  } else if (_buffer == nullptr) {
    SwitchDirection(false);
    if (_error != FILEERROR_NONE) return 0;
    got = static_cast<Int64>(std::fread(dst, 1, static_cast<size_t>(count), _stream));
    _streamPosition += got;
  } else if (count > _bufferSize) {
    AdjustBuffer(count);
    if (_error != FILEERROR_NONE) return 0;
    Int64 n = _cachedLength - _position;
    if (n > count) n = count;
    if (n > 0) got = static_cast<Int64>(std::fread(dst, 1, static_cast<size_t>(n), _stream));
    _streamPosition += got;
  } else {
    got = AdjustBuffer(count);
    if (_error != FILEERROR_NONE) return 0;
    if (got > 0) {
      std::memcpy(dst, _buffer + _cursor, static_cast<size_t>(got));
      _cursor += got;
    }
  }
  _position += got;
  if (got != count && !justTry) SetError(FILEERROR_READ);
  return _error != FILEERROR_NONE ? 0 : got;
}

bool BaseFile::WriteBytes(const void* src, Int64 count) {
  if (!IsOpen() || _mode == FILEOPEN_READ || count < 0 || (src == nullptr && count > 0)) {
    SetError(FILEERROR_INVALID);
    return false;
  }
  if (count == 0) return true;  // open, so without an error

  if (_memoryMode) {
    if (!_writeTarget->WriteBytesAt(_position, src, count)) {
      SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
    _position += count;
    if (_position > _memoryLength) _memoryLength = _position;
    return true;
  }
  Int64 taken;
  if (_buffer == nullptr) {
    SwitchDirection(true);
    if (_error != FILEERROR_NONE) return false;
    taken = static_cast<Int64>(std::fwrite(src, 1, static_cast<size_t>(count), _stream));
    _streamPosition += taken;
    _position += taken;
    // Writing may lengthen the file; a length already known must follow.
    if (_cachedLength >= 0 && _position > _cachedLength) _cachedLength = _position;
  } else {
    Int64 room = AdjustBuffer(count);
    if (_error != FILEERROR_NONE) return false;
    if (room > 0) {
      std::memcpy(_buffer + _fill, src, static_cast<size_t>(room));
      _fill += room;
      taken = room;
    } else {
      taken = static_cast<Int64>(std::fwrite(src, 1, static_cast<size_t>(count), _stream));
      _streamPosition += taken;
    }
    _position += taken;
  }
  if (taken != count) SetError(FILEERROR_WRITE);
  return _error == FILEERROR_NONE;
}

// ---- typed values ----

bool BaseFile::ReadValue(void* value, Int64 width) {
  UChar bytes[8];
  if (!TakeBuffered(bytes, width) && ReadBytes(bytes, width, false) != width) return false;
  if ((_order == BYTEORDER_MOTOROLA) == kLittleEndianHost) Reverse(bytes, width);
  if (value != nullptr) std::memcpy(value, bytes, static_cast<size_t>(width));
  return true;
}

bool BaseFile::WriteValue(const void* value, Int64 width) {
  UChar bytes[8];
  std::memcpy(bytes, value, static_cast<size_t>(width));
  if ((_order == BYTEORDER_MOTOROLA) == kLittleEndianHost) Reverse(bytes, width);
  return WriteBytes(bytes, width);
}

bool BaseFile::ReadFloat32(Float32* value) {
  UInt32 bits;
  if (!ReadValue(&bits, 4)) return false;
  if (IsInfOrNaN32(bits)) bits = 0;
  if (value != nullptr) std::memcpy(value, &bits, 4);
  return true;
}

bool BaseFile::ReadFloat64(Float64* value) {
  UInt64 bits;
  if (!ReadValue(&bits, 8)) return false;
  if (IsInfOrNaN64(bits)) bits = 0;
  if (value != nullptr) std::memcpy(value, &bits, 8);
  return true;
}

bool BaseFile::WriteChar(Char value) { return WriteValue(&value, 1); }
bool BaseFile::WriteUChar(UChar value) { return WriteValue(&value, 1); }
bool BaseFile::WriteInt16(Int16 value) { return WriteValue(&value, 2); }
bool BaseFile::WriteUInt16(UInt16 value) { return WriteValue(&value, 2); }
bool BaseFile::WriteInt32(Int32 value) { return WriteValue(&value, 4); }
bool BaseFile::WriteUInt32(UInt32 value) { return WriteValue(&value, 4); }
bool BaseFile::WriteInt64(Int64 value) { return WriteValue(&value, 8); }

bool BaseFile::WriteFloat32(Float32 value) {
  UInt32 bits;
  std::memcpy(&bits, &value, 4);
  if (IsInfOrNaN32(bits)) bits = 0;
  return WriteValue(&bits, 4);
}

bool BaseFile::WriteFloat64(Float64 value) {
  UInt64 bits;
  std::memcpy(&bits, &value, 8);
  if (IsInfOrNaN64(bits)) bits = 0;
  return WriteValue(&bits, 8);
}

// ---- position and length ----

bool BaseFile::CanWriteOutOfOrder() const {
  if (_memoryMode || _stream == nullptr || _mode != FILEOPEN_WRITE) return false;
  struct stat st;
  return fstat(fileno(_stream), &st) == 0 && S_ISREG(st.st_mode);
}

bool BaseFile::Seek(Int64 offset, FILESEEK how) {
  if (!IsOpen()) {
    SetError(FILEERROR_INVALID);
    return false;
  }
  if (how == FILESEEK_RELATIVE && offset == 0) return true;
  Int64 target;
  if (how == FILESEEK_START) {
    target = offset;
  } else if (how == FILESEEK_RELATIVE) {
    if (__builtin_add_overflow(_position, offset, &target)) target = -1;
  } else {
    _GeDebugBreak(__LINE__, "source/lum_basefile");
    SetError(FILEERROR_INVALID);
    return false;
  }
  if (target < 0) {
    _GeDebugBreak(__LINE__, "source/lum_basefile");
    SetError(FILEERROR_INVALID);
    return false;
  }

  if (_memoryMode) {
    if (target > _memoryLength) {
      SetError(FILEERROR_INVALID);
      return false;
    }
    _position = target;
    return true;
  }
  if (_mode == FILEOPEN_READ) {
    // Inside the buffer only the cursor moves; the stream follows at the next refill.
    if (_bufferStart >= 0 && target >= _bufferStart && target <= _bufferStart + _fill)
      _cursor = target - _bufferStart;
    else
      EmptyBuffer();
    _position = target;
    return true;
  }
  if (_buffer != nullptr) {
    if (!Flush()) return false;
    EmptyBuffer();
  }
  if (!StreamSeek(target, SEEK_SET)) {
    SetError(FILEERROR_SEEK);
    return false;
  }
  _position = target;
  return true;
}

Int64 BaseFile::GetLength() {
  if (!IsOpen()) {
    SetError(FILEERROR_INVALID);
    return 0;
  }
  if (_mode != FILEOPEN_READ && _mode != FILEOPEN_READWRITE) {
    _GeDebugBreak(__LINE__, "source/lum_basefile");
    SetError(FILEERROR_INVALID);
    return 0;
  }
  if (_memoryMode) return _memoryLength;
  if (_cachedLength >= 0) return _cachedLength;
  if (!StreamSeek(0, SEEK_END)) {
    SetError(FILEERROR_SEEK);
    return 0;
  }
  Int64 length = _streamPosition;
  if (!StreamSeek(_position, SEEK_SET)) {
    SetError(FILEERROR_SEEK);
    return 0;
  }
  _cachedLength = length;
  return length;
}

}  // namespace lumora
