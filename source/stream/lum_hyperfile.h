// HyperFile: the scene-file stream.
//
// A stream of tagged values grouped into nested chunks, written to and read from a BaseFile the
// HyperFile contains. Every value starts with one kind byte (HYPERFILEVALUE), so a reader can
// check what it gets and skip whatever it does not understand; every chunk carries an id and a
// level (the writer's version of the chunk's content), so a reader can keep unknown chunks as
// raw bytes or jump to their end. doc/stream-format.md describes the bytes.
//
// Error rule: the first failure records an error code (FILEERROR) and every later operation
// returns false at once without touching the file. Failures of the BaseFile are recorded with
// the BaseFile's code. Callers test the bool results and stop at the first false.
//
// Multi-byte numbers follow the BaseFile's byte order (big-endian unless SetByteOrder says
// otherwise); the UTF-16 units of strings and file names are big-endian in every order. A float
// whose exponent bits are all ones (infinity, NaN) is stored and read as 0.
//
// Sizes read from the stream are checked against the bytes left before anything is allocated:
// a string, memory block, array or chunk that claims more than the file holds fails with
// FILEERROR_READ.
#ifndef LUM_HYPERFILE_H
#define LUM_HYPERFILE_H

#include <cstring>

#include "foundation/lum_basefile.h"
#include "foundation/lum_basetime.h"
#include "foundation/lum_file.h"
#include "foundation/lum_filename.h"
#include "foundation/lum_string.h"
#include "lum_math.h"
#include "lum_types.h"
#include "stream/lum_hyperfile_bytes.h"

namespace lumora {

class BaseContainer;
class BaseDocument;
class HyperFileLayout;
class HyperFileSpan;
struct HyperFileAnyValue;

// The kind byte in front of every value. The numbers are stored in files.
enum HYPERFILEVALUE : Int32 {
  HYPERFILEVALUE_NONE = 0,
  HYPERFILEVALUE_CHUNKSTART = 1,  // Int32 id, Int32 level
  HYPERFILEVALUE_CHUNKEND = 2,
  HYPERFILEVALUE_CHAR = 11,
  HYPERFILEVALUE_UCHAR = 12,
  HYPERFILEVALUE_INT16 = 13,
  HYPERFILEVALUE_UINT16 = 14,
  HYPERFILEVALUE_INT32 = 15,
  HYPERFILEVALUE_UINT32 = 16,
  HYPERFILEVALUE_INT64 = 17,
  HYPERFILEVALUE_UINT64 = 18,
  HYPERFILEVALUE_FLOAT = 19,  // 64-bit, or 32-bit with the 32-bit float flag
  HYPERFILEVALUE_FLOAT64 = 20,
  HYPERFILEVALUE_BOOL = 21,
  HYPERFILEVALUE_TIME = 22,    // Float numerator, Float denominator
  HYPERFILEVALUE_VECTOR = 23,  // three Floats
  HYPERFILEVALUE_VECTOR64 = 24,
  HYPERFILEVALUE_MATRIX = 25,  // 12 Floats: offset, v1, v2, v3
  HYPERFILEVALUE_MATRIX64 = 26,
  HYPERFILEVALUE_VECTOR32 = 27,
  HYPERFILEVALUE_MATRIX32 = 28,
  HYPERFILEVALUE_FLOAT32 = 29,
  HYPERFILEVALUE_MEMORY = 128,  // Int32 byte count, bytes
  HYPERFILEVALUE_STRING = 130,  // Int32 byte count, big-endian UTF-16 units
  HYPERFILEVALUE_FILENAME = 131,
  HYPERFILEVALUE_CONTAINER = 132,  // the older container form
  HYPERFILEVALUE_VECTORARRAY = 133,
  HYPERFILEVALUE_POLYGONARRAY = 134,
  HYPERFILEVALUE_UINT16ARRAY = 135,
  HYPERFILEVALUE_OLDRECORDARRAY = 136,
  HYPERFILEVALUE_FLOAT32ARRAY = 137,
  HYPERFILEVALUE_MEMORY64 = 139,  // Int64 byte count, bytes
  HYPERFILEVALUE_ARRAY = 140,     // typed array
};

// Element types of a typed array (HYPERFILEVALUE_ARRAY). The numbers are stored in files.
enum HYPERFILEARRAY : Int32 {
  HYPERFILEARRAY_CHAR = 1,
  HYPERFILEARRAY_INT16 = 2,
  HYPERFILEARRAY_INT32 = 3,
  HYPERFILEARRAY_INT64 = 4,
  HYPERFILEARRAY_FLOAT32 = 5,
  HYPERFILEARRAY_FLOAT64 = 6,
  HYPERFILEARRAY_FLOAT = 7,  // the library's Float: stored as HYPERFILEARRAY_FLOAT64
};

// The file version a new HyperFile reports: above every version the readers test, so that
// every reader takes its current layout.
constexpr Int32 HYPERFILE_CURRENT_VERSION = 20000;
// The deepest chunk nesting a stream may hold. Writing a chunk start beyond it fails with
// FILEERROR_TOO_DEEP, and the node readers refuse the same depth, so whatever writes reads back;
// a read at this depth stays well inside a thread's default stack.
constexpr Int32 HYPERFILE_MAX_CHUNK_DEPTH = 1000;

// Progress hooks. Reading reports a percentage of the file's length, writing the position.
using HyperFileReadingHook = void (*)(Int32 percent, void* data);
using HyperFileWritingHook = void (*)(Int64 position, void* data);

class HyperFile {
 public:
  // Not open; file version HYPERFILE_CURRENT_VERSION, 64-bit floats, no document, no hooks.
  HyperFile();
  // Closes.
  ~HyperFile();
  HyperFile(const HyperFile&) = delete;
  HyperFile& operator=(const HyperFile&) = delete;

  // Opens name for FILEOPEN_READ or FILEOPEN_WRITE, big-endian, with no file header: the first
  // value is the first byte. A stream that was open is closed first; the error, the chunk depth
  // and the progress counter start afresh (version, document, float flag and hooks are kept).
  // Reading also takes the file's length. Any other mode fails with FILEERROR_INVALID; a file
  // that cannot be opened with the BaseFile's error.
  bool Open(const Filename& name, FILEOPEN mode);
  // Closes the BaseFile (writing what is pending). True when no error is recorded.
  bool Close();

  // ---- state ----

  FILEERROR GetError() const { return _error; }
  // Where the recorded error happened: reading, the offset of the value or chunk mark whose
  // read failed; writing, the position the failing write reached; 0 without error.
  Int64 GetErrorPosition() const { return _error != FILEERROR_NONE ? _errorAt : 0; }
  // The operating system's errno behind the recorded error, or 0 (see BaseFile::GetOSError).
  Int32 GetOSError() const { return _error != FILEERROR_NONE ? _file.GetOSError() : 0; }
  // Records error (replacing one already recorded) and raises the debug alert;
  // FILEERROR_NONE clears it.
  void SetError(FILEERROR error);
  // The length taken when the stream was opened for reading (0 otherwise).
  Int64 GetLength() const { return _length; }
  // The BaseFile's position.
  Int64 GetPosition() { return _file.IsOpen() ? _file.GetPosition() : 0; }
  FILEOPEN GetOpenMode() const { return _mode; }
  // +1 for every chunk start read or written, -1 for every chunk end.
  Int32 GetChunkDepth() const { return _depth; }

  Int32 GetFileVersion() const { return _version; }
  void SetFileVersion(Int32 version) { _version = version; }
  // File version below 7500.
  bool Before8() const { return _version < 7500; }
  // File version below 11600.
  bool Before12() const { return _version < 11600; }

  BaseDocument* GetDocument() const { return _document; }
  void SetDocument(BaseDocument* document) { _document = document; }

  // With the flag set, Float, Time, Vector and Matrix values carry 32-bit floats.
  bool GetFloat32Mode() const { return _float32; }
  void SetFloat32Mode(bool on) { _float32 = on; }

  // The byte order of the numbers (strings stay big-endian). Open sets BYTEORDER_MOTOROLA.
  void SetByteOrder(BYTEORDER order) { _file.SetOrder(order); }
  BYTEORDER GetByteOrder() const { return _file.GetOrder(); }

  // The reading hook is called with the percentage read about every 1/500 of the file; the
  // writing hook with the position every 50000 values and array elements. Null removes a hook.
  void SetReadingHook(HyperFileReadingHook hook, void* data);
  void SetWritingHook(HyperFileWritingHook hook, void* data);

  // True when 0 <= bytes <= the bytes left in the stream; otherwise records FILEERROR_READ and
  // returns false. Readers call it before they allocate for a size read from the file.
  bool CheckRemaining(Int64 bytes);

  // ---- chunks ----

  // Bytes 1, Int32 id, Int32 level. Fails with FILEERROR_TOO_DEEP (nothing written) when
  // HYPERFILE_MAX_CHUNK_DEPTH chunks are already open.
  bool WriteChunkStart(Int32 id, Int32 level);
  // Byte 2.
  bool WriteChunkEnd();
  // Reads id and level of a chunk whose start byte has been read (by ReadValueHeader or
  // CheckIt(HYPERFILEVALUE_CHUNKSTART)). Either pointer may be null.
  bool ReadChunkStart(Int32* id, Int32* level);
  // Reads nothing: the end byte was consumed by whoever found it. Fails with FILEERROR_WRITE on
  // a stream opened for writing.
  bool ReadChunkEnd();
  // Skips the rest of the current chunk, nested chunks included, up to and including its end
  // byte. False with FILEERROR_CHUNKEND_MISSING when skipping fails, and false without an error
  // when the end of the file comes first.
  bool SkipToEndChunk();
  // Reads one kind byte, whatever it is.
  bool ReadValueHeader(HYPERFILEVALUE* kind);
  // True when the next value is a chunk end. Nothing is read (only a seek back that fails
  // records FILEERROR_SEEK); a stream in error, not open for reading or at its end gives false.
  bool NextIsChunkEnd();
  // Reads one kind byte and fails with FILEERROR_WRONG_VALUE when it is not kind (the byte is
  // consumed either way).
  bool CheckIt(HYPERFILEVALUE kind);
  // Skips the payload of a value whose kind byte has been read. Unknown kinds fail with
  // FILEERROR_WRONG_VALUE; a payload cut short by the end of the file with FILEERROR_READ.
  bool SkipValue(HYPERFILEVALUE kind);
  // Called right after a chunk start was read: keeps the rest of the chunk as raw bytes
  // (allocated with MemAlloc; the caller releases them with MemFree). With withoutEnd the end
  // byte is consumed but not kept. An empty result gives null and 0. Fails like
  // SkipToEndChunk, and leaves null and 0 then.
  bool ReadUnknownChunk(void** bytes, Int64* size, bool withoutEnd);
  // Writes bytes kept by ReadUnknownChunk unchanged. A null block without withoutEnd writes a
  // chunk end, so that the chunk is closed; bytes kept with withoutEnd need the caller's
  // WriteChunkEnd.
  bool WriteUnknownChunk(const void* bytes, Int64 size, bool withoutEnd);

  // Raw bytes mean what they meant only in a stream that reads them the same way: the same
  // version range (every version the readers tell apart), float size and byte order. The
  // default stream (current version, 64-bit floats, big-endian) has layout 0, so bytes that were
  // never read from a file carry 0 too.
  Int32 GetRawLayout() const;
  // WriteUnknownChunk for bytes kept from a stream of the given layout. Bytes of another layout
  // would be misread here: they are dropped (written as a null block), the debug alert is
  // raised and the drop is counted.
  bool WriteKeptChunk(const void* bytes, Int64 size, bool withoutEnd, Int32 layout);
  // The kept blocks WriteKeptChunk dropped since the stream was created.
  Int32 GetDroppedRawCount() const { return _droppedRaw; }

  // ---- values ----

  bool WriteUChar(UChar value);
  // Inline: streams are mostly runs of 32-bit numbers, and the usual case (no error, no writing
  // hook, room in the BaseFile's buffer) is a few stores; the rest goes through WriteUInt32Kind.
  bool WriteInt32(Int32 value) {
    return PutUInt32Value(HYPERFILEVALUE_INT32, static_cast<UInt32>(value)) ||
           WriteUInt32Kind(HYPERFILEVALUE_INT32, static_cast<UInt32>(value));
  }
  bool WriteUInt32(UInt32 value) {
    return PutUInt32Value(HYPERFILEVALUE_UINT32, value) ||
           WriteUInt32Kind(HYPERFILEVALUE_UINT32, value);
  }
  bool WriteInt64(Int64 value);
  bool WriteFloat32(Float32 value);
  bool WriteFloat(Float value);
  bool WriteBool(bool value);
  bool WriteTime(const BaseTime& value);
  bool WriteVector(const Vector64& value);
  bool WriteVector32(const Vector32& value);
  bool WriteVector64(const Vector64& value);
  bool WriteMatrix(const Matrix64& value);
  bool WriteString(const String& value);
  // The normalised path text.
  bool WriteFilename(const Filename& value);
  // Kind 128 with an Int32 count up to 2147483647 bytes, kind 139 with an Int64 count above.
  // A negative size, or a null block with a positive size, fails with FILEERROR_WRONG_VALUE.
  bool WriteMemory(const void* data, Int64 size);
  // count elements of type, element i read from data + i * stride (so the members of an array
  // of structures can be written one by one). A type outside 1..7, a negative count or null
  // data with a positive count fail with FILEERROR_WRONG_VALUE.
  bool WriteArray(const void* data, HYPERFILEARRAY type, Int32 stride, Int32 count);
  // members arrays of count elements of type, one after another: array k holds the number at
  // data + k * (its size) of each of count records stride bytes apart (a point's x, y and z).
  // The bytes and errors are those of WriteArray called for each member in turn; a large array
  // written to a disk file is converted in one pass over the records instead of one per member,
  // each member's block placed where it belongs in the file.
  bool WriteArrayMembers(const void* data, HYPERFILEARRAY type, Int32 stride, Int32 count,
                         Int32 members);

  // The readers fail with FILEERROR_WRONG_VALUE when the next value is of another kind (only
  // its kind byte is consumed; a chunk byte still counts for the chunk depth). The number
  // readers leave *value unchanged on failure. A null pointer reads and discards.
  bool ReadUChar(UChar* value);
  bool ReadInt32(Int32* value);
  bool ReadUInt32(UInt32* value);
  bool ReadInt64(Int64* value);
  // Kind 29; kind 19 with a 4-byte payload in files of version 11924 and older.
  bool ReadFloat32(Float32* value);
  bool ReadFloat(Float* value);
  bool ReadFloat64(Float64* value);
  // Any non-zero byte is true.
  bool ReadBool(bool* value);
  // Rounded and reduced again by the two-number BaseTime constructor.
  bool ReadTime(BaseTime* value);
  bool ReadVector(Vector64* value);
  bool ReadVector32(Vector32* value);
  bool ReadVector64(Vector64* value);
  bool ReadMatrix(Matrix64* value);
  bool ReadString(String* value);
  // Files of version 10001 and older: a path with ':' but neither '/' nor '\' is an old
  // colon-separated path and is converted to a POSIX path.
  bool ReadFilename(Filename* value);
  // Kind 128 or 139. The block is allocated with MemAlloc (null for 0 bytes); the caller
  // releases it with MemFree. Both outputs are null / 0 unless the call succeeds.
  bool ReadMemory(void** data, Int64* size);
  // The same value without a block of its own: its first bytes, up to cap, go to head and the
  // rest is skipped; *size (may be null) gets the stored size. For fixed-size records.
  bool ReadMemoryHead(void* head, Int64 cap, Int64* size);
  // The same value into head when it holds at most cap bytes (*data = head, or null when it is
  // empty), otherwise into a block of its own that the caller releases with MemFree. For
  // records that are mostly small.
  bool ReadMemoryInto(void* head, Int64 cap, void** data, Int64* size);
  // Reads count elements into data + i * stride. The stored count must equal count and the
  // stored element type the requested one, except that 32-bit and 64-bit floats convert into
  // each other; otherwise FILEERROR_WRONG_VALUE.
  bool ReadArray(void* data, HYPERFILEARRAY type, Int32 stride, Int32 count);

  // A container as a chunk with id 132 and level 1: Int32 container id, then per entry Int32
  // entry id and the value (untyped pointers are left out).
  bool WriteContainer(const BaseContainer& bc);
  // Reads a container in either form (the chunk, or the older form behind kind byte 132). With
  // flush the container is emptied first and entries are appended as read, repeated ids
  // included; without it they are stored with SetData over what the container holds.
  bool ReadContainer(BaseContainer* bc, bool flush);

  // Readers of the older array kinds. The block is allocated with MemAlloc (null when the
  // stored count is 0) and released by the caller with MemFree; both outputs are null / 0
  // unless the call succeeds.
  // Kind 137: Int32 n, n / 4 32-bit floats.
  bool ReadFloat32ArrayEx(Float32** data, Int32* count);
  // Kind 133: Int32 n, n / 12 vectors of three Floats each.
  bool ReadVectorArrayEx(Vector64** data, Int32* count);
  // Kind 134: Int32 n, Int32 small flag; n / 8 polygons of UInt16 indices when the flag is
  // set, n / 16 of Int32 indices when it is not.
  bool ReadPolygonArrayEx(CPolygon** data, Int32* count);
  // Kind 135: Int32 n, n / 2 UInt16 values.
  bool ReadUInt16ArrayEx(UInt16** data, Int32* count);

  // A tagged value in its file form: GeData::Write / GeData::Read (lum_gedata.h).
  bool WriteGeData(const class GeData& value);
  bool ReadGeData(class GeData* value);

  // ---- any value ----

  // Reads the next value whatever its kind, for tools that show or check a stream: the kind
  // byte, then what the kind holds, into *value (see HyperFileAnyValue). Strings, memory
  // blocks and arrays give their size and their first elements only and are skipped past the
  // rest, so nothing is allocated whatever the stream holds. A chunk start reads its id and
  // level (the chunk depth counts it, as for ReadValueHeader); a chunk end reads nothing more.
  // Fails as SkipValue does: an unknown kind with FILEERROR_WRONG_VALUE, a payload the file does
  // not hold (or a negative size) with FILEERROR_READ. value->offset is set even then.
  bool ReadAnyValue(HyperFileAnyValue* value);

 private:
  friend class HyperFileSpan;
  bool SwapNeeded() const { return (_file.GetOrder() == BYTEORDER_MOTOROLA) == kHostIsLittle; }
  void NoteErrorPosition();
  bool Fail(FILEERROR error, Int32 line);
  bool FileFailed(Int32 line);
  bool ShortRead(Int32 line);
  bool Emit(const void* bytes, Int64 n);
  bool EmitValue(const UChar* bytes, Int64 n);
  UChar* ReserveValue(Int64 n);
  bool EndValue(UChar* reserved, const UChar* local, Int64 n);
  bool WriteUInt32Kind(HYPERFILEVALUE kind, UInt32 value);
  // Encodes the value straight into the BaseFile's buffer; false, with nothing done, when the
  // stream has an error or a writing hook (steps to count) or the buffer has no room.
  bool PutUInt32Value(HYPERFILEVALUE kind, UInt32 value) {
    if (_error != FILEERROR_NONE || _writingHook != nullptr) return false;
    UChar* at = _file.ReserveBuffered(5);
    if (at == nullptr) return false;
    at[0] = static_cast<UChar>(kind);
    hyperfile_bytes::PutRaw(at + 1, value, SwapNeeded());
    return true;
  }
  bool WriteUnits(HYPERFILEVALUE kind, const UInt16* units, Int32 count);
  // The next n bytes, from the BaseFile's buffer where they lie whole in it (most values).
  bool Take(void* bytes, Int64 n) {
    Int64 have = 0;
    const UChar* at = _file.PeekBuffered(&have);
    if (n <= 0 || at == nullptr || have < n) return TakeSlow(bytes, n);
    std::memcpy(bytes, at, static_cast<size_t>(n));
    _file.SkipBuffered(n);
    return true;
  }
  bool TakeSlow(void* bytes, Int64 n);
  bool ReadKindByte(UChar* kind) {
    _valueStart = _file.PeekPosition();
    UChar b = 0;
    if (!Take(&b, 1)) return false;
    if (b == HYPERFILEVALUE_CHUNKSTART) ++_depth;
    if (b == HYPERFILEVALUE_CHUNKEND) --_depth;
    *kind = b;
    return true;
  }
  // The header of a memory value (kind 128 or 139): *n gets the checked size of its payload.
  bool ReadMemoryHeader(Int64* n);
  bool ReadHeaderAndPayload(HYPERFILEVALUE kind, UChar* payload, Int64 n);
  bool ReadStringUnits(HYPERFILEVALUE kind, String* out);
  bool SkipBytes(Int64 n);
  Int32 SkipBufferedValues(Int32* nested);
  bool ReadBufferedAnyValue(HyperFileAnyValue* value, bool swap);
  bool ReadAnyValueInParts(HyperFileAnyValue* value);
  bool OldSkipLayout() const;
  Int64 BytesLeft();
  bool ReadCountedHeader(HYPERFILEVALUE kind, Int32* n);
  bool ReadArrayExHeader(HYPERFILEVALUE kind, Int32 perCount, Int32* count);
  void* AllocArrayEx(Int32 count, Int64 diskBytes, Int64 elementSize);
  template <typename T>
  bool FinishArrayEx(T* block, Int32 n, bool ok, T** data, Int32* count);
  template <typename Store>
  bool ReadElements(Int64 count, Int32 diskSize, Store&& store);
  // After each value read: the reading hook's progress, when there is one.
  void ReadStep() {
    if (_readingHook != nullptr) ReportReadStep();
  }
  void ReportReadStep();
  void WriteSteps(Int64 n);
  Int64 WriteStepsBeforeReport() const;

  static constexpr bool kHostIsLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

  BaseFile _file;
  FILEERROR _error = FILEERROR_NONE;
  Int64 _valueStart = 0;  // reading: where the value being read began
  Int64 _errorAt = 0;
  bool _float32 = false;
  FILEOPEN _mode = FILEOPEN_READ;
  Int64 _length = 0;
  Int64 _progress = 0;
  BaseDocument* _document = nullptr;
  Int32 _version = HYPERFILE_CURRENT_VERSION;
  Int32 _depth = 0;
  Int32 _droppedRaw = 0;
  HyperFileReadingHook _readingHook = nullptr;
  HyperFileWritingHook _writingHook = nullptr;
  void* _readingData = nullptr;
  void* _writingData = nullptr;
};

namespace hyperfile_internal {
// Whether got and want differ in a byte that mask keeps (n >= 16 bytes each): HyperFileSpan::Match.
bool RunDiffers(const UChar* got, const UChar* want, const UChar* mask, Int64 n);
}  // namespace hyperfile_internal

// The bytes of a run of values that always has the same length: a record whose every value
// has a fixed size, in a stream of one byte order and float size. The members that may vary
// (the payloads of the values added with an offset returned) are masked out; everything else
// (kind bytes, chunk ids and levels, counts and constants) must match byte for byte. Built once
// for a record's layout; HyperFileSpan::Match finds such a run in the buffer with one
// comparison, and HyperFileSpan's ...At decoders read its members at the offsets returned.
class HyperFileLayout {
 public:
  static constexpr Int32 kMaxBytes = 512;

  HyperFileLayout(bool swap, bool float32) : _swap(swap), _float32(float32) {}

  void ChunkStart(Int32 id, Int32 level) {
    Kind(HYPERFILEVALUE_CHUNKSTART);
    Word(UInt32(id));
    Word(UInt32(level));
    ++_depth;
  }
  void ChunkEnd() {
    Kind(HYPERFILEVALUE_CHUNKEND);
    --_depth;
  }
  void Int32Is(Int32 value) {
    Kind(HYPERFILEVALUE_INT32);
    Word(UInt32(value));
  }
  void UCharIs(UChar value) {
    Kind(HYPERFILEVALUE_UCHAR);
    Byte(value, 0xFF);
  }
  void BoolIs(bool value) {
    Kind(HYPERFILEVALUE_BOOL);
    Byte(value ? 1 : 0, 0xFF);
  }
  void EmptyString() {
    Kind(HYPERFILEVALUE_STRING);
    Word(0);
  }
  // A memory value (kind 128) holding exactly these bytes.
  void MemoryIs(const UChar* bytes, Int32 size) {
    Kind(HYPERFILEVALUE_MEMORY);
    Word(UInt32(size));
    for (Int32 i = 0; i < size; ++i) Byte(bytes[i], 0xFF);
  }
  // The members that vary: each returns the offset of its payload in the run.
  Int32 Int32At() { return Varying(HYPERFILEVALUE_INT32, 4); }
  Int32 UCharAt() { return Varying(HYPERFILEVALUE_UCHAR, 1); }
  Int32 FloatAt() { return Varying(HYPERFILEVALUE_FLOAT, FloatBytes()); }
  Int32 TimeAt() { return Varying(HYPERFILEVALUE_TIME, 2 * FloatBytes()); }
  // A memory value of size bytes, whatever they are; the offset of the bytes.
  Int32 MemoryAt(Int32 size) {
    Kind(HYPERFILEVALUE_MEMORY);
    Word(UInt32(size));
    const Int32 at = _size;
    for (Int32 i = 0; i < size; ++i) Byte(0, 0);
    return at;
  }

  // False when the run outgrew kMaxBytes (Match then finds nothing).
  bool IsValid() const { return !_overflow && _size >= 16; }
  Int32 GetSize() const { return _size; }

 private:
  friend class HyperFileSpan;
  Int32 FloatBytes() const { return _float32 ? 4 : 8; }
  void Byte(UChar value, UChar mask) {
    if (_size >= kMaxBytes) {
      _overflow = true;
      return;
    }
    _bytes[_size] = value;
    _mask[_size] = mask;
    ++_size;
  }
  void Kind(HYPERFILEVALUE kind) { Byte(UChar(kind), 0xFF); }
  void Word(UInt32 value) {
    UChar raw[4];
    hyperfile_bytes::PutRaw(raw, value, _swap);
    for (UChar b : raw) Byte(b, 0xFF);
  }
  Int32 Varying(HYPERFILEVALUE kind, Int32 n) {
    Kind(kind);
    const Int32 at = _size;
    for (Int32 i = 0; i < n; ++i) Byte(0, 0);
    return at;
  }

  bool _swap;
  bool _float32;
  bool _overflow = false;
  Int32 _size = 0;
  Int32 _depth = 0;
  UChar _bytes[kMaxBytes] = {};
  UChar _mask[kMaxBytes] = {};
};

// Reads values straight from the stream's buffer, for the readers of records the current
// version always writes the same way (a key, a node's header): each call checks the value's
// kind byte (a chunk's id and level too) and that the value lies whole in the buffer, and
// nothing else, and the stream moves only at Commit. A call that meets anything else (another
// kind, id or level, a value cut by the buffer's end) returns false; the caller then drops the
// span uncommitted and reads the same bytes with the stream's own readers, which give the
// general result, errors included. A stream in error, not reading, with a reading
// hook (whose steps the span would not count) or without a buffer (or the bytes of a memory
// file) gives an empty span.
class HyperFileSpan {
 public:
  explicit HyperFileSpan(HyperFile* hf) : _hf(hf) {
    Int64 have = 0;
    const UChar* at = nullptr;
    if (hf->_error == FILEERROR_NONE && hf->_readingHook == nullptr)
      at = hf->_file.PeekReadable(&have);
    _start = _p = at;
    _end = at != nullptr ? at + have : nullptr;
    _swap = hf->SwapNeeded();
    _float32 = hf->_float32;
  }

  bool ChunkStart(Int32 id, Int32 level) {
    const UChar* v = Value(HYPERFILEVALUE_CHUNKSTART, 8);
    if (v == nullptr || Load<UInt32>(v) != UInt32(id) || Load<UInt32>(v + 4) != UInt32(level))
      return false;
    _p = v + 8;
    ++_depth;
    return true;
  }
  bool ChunkEnd() {
    if (Value(HYPERFILEVALUE_CHUNKEND, 0) == nullptr) return false;
    ++_p;
    --_depth;
    return true;
  }
  bool Int32Value(Int32* value) {
    return Fixed(HYPERFILEVALUE_INT32, 4, value, [this](const UChar* v) { return Int32At(v); });
  }
  bool UCharValue(UChar* value) {
    return Fixed(HYPERFILEVALUE_UCHAR, 1, value, [](const UChar* v) { return v[0]; });
  }
  bool BoolValue(bool* value) {
    return Fixed(HYPERFILEVALUE_BOOL, 1, value, [](const UChar* v) { return v[0] != 0; });
  }
  bool FloatValue(Float* value) {
    return Fixed(HYPERFILEVALUE_FLOAT, FloatBytes(), value,
                 [this](const UChar* v) { return FloatAt(v); });
  }
  // As HyperFile::ReadTime, reduced by the two-number BaseTime constructor.
  bool TimeValue(BaseTime* value) {
    return Fixed(HYPERFILEVALUE_TIME, 2 * FloatBytes(), value,
                 [this](const UChar* v) { return TimeAt(v); });
  }
  // An empty string.
  bool EmptyString() {
    const UChar* v = Value(HYPERFILEVALUE_STRING, 4);
    if (v == nullptr || Load<UInt32>(v) != 0) return false;
    _p = v + 4;
    return true;
  }
  // A memory value (kind 128) of exactly size bytes, copied to bytes.
  bool Memory(void* bytes, Int32 size) {
    const UChar* v = Value(HYPERFILEVALUE_MEMORY, 4 + Int64(size));
    if (v == nullptr || Load<UInt32>(v) != UInt32(size)) return false;
    std::memcpy(bytes, v + 4, size_t(size));
    _p = v + 4 + size;
    return true;
  }

  // The start of a run of layout's bytes at the span's place, the span moved over it; null
  // (nothing moved) when the layout is for another byte order or float size, the run is not
  // whole in the span or any of its fixed bytes differ.
  const UChar* Match(const HyperFileLayout& layout) {
    const Int64 n = layout._size;
    if (layout._swap != _swap || layout._float32 != _float32 || !layout.IsValid() || _end - _p < n)
      return nullptr;
    if (hyperfile_internal::RunDiffers(_p, layout._bytes, layout._mask, n)) return nullptr;
    const UChar* run = _p;
    _p += n;
    _depth += layout._depth;
    return run;
  }
  // The members of a run Match found, at the offsets the layout gave them.
  Int32 Int32At(const UChar* at) const { return Int32(Load<UInt32>(at)); }
  // The stream's Float, with the float rule (infinity and NaN read as 0).
  Float FloatAt(const UChar* at) const {
    return _float32 ? Float(hyperfile_bytes::F32FromBits(Load<UInt32>(at)))
                    : hyperfile_bytes::F64FromBits(Load<UInt64>(at));
  }
  BaseTime TimeAt(const UChar* at) const {
    return BaseTime(FloatAt(at), FloatAt(at + FloatBytes()));
  }
  bool IsSwapped() const { return _swap; }
  bool IsFloat32() const { return _float32; }

  // Moves the stream over the bytes read, with the chunk depth they hold.
  void Commit() {
    if (_p == _start) return;
    _hf->_file.SkipReadable(_p - _start);
    _hf->_depth += _depth;
    _start = _p;
    _depth = 0;
  }

 private:
  // The payload of a value of kind and n bytes at the span's place, or null.
  const UChar* Value(HYPERFILEVALUE kind, Int64 n) const {
    if (_end - _p < 1 + n || _p[0] != UChar(kind)) return nullptr;
    return _p + 1;
  }
  // A value of kind with n payload bytes, decoded by decode(payload) into *value.
  template <typename T, typename Decode>
  bool Fixed(HYPERFILEVALUE kind, Int64 n, T* value, Decode decode) {
    const UChar* v = Value(kind, n);
    if (v == nullptr) return false;
    *value = decode(v);
    _p = v + n;
    return true;
  }
  template <typename U>
  U Load(const UChar* at) const {
    return hyperfile_bytes::LoadRaw<U>(at, _swap);
  }
  Int64 FloatBytes() const { return _float32 ? 4 : 8; }

  HyperFile* _hf;
  const UChar* _start;
  const UChar* _p;
  const UChar* _end;
  bool _swap;
  bool _float32;
  Int32 _depth = 0;
};

// One value as ReadAnyValue gives it.
struct HyperFileAnyValue {
  // Elements of a string, memory block or array that are kept.
  static constexpr Int32 kHeadCount = 64;

  HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
  // The position of the kind byte.
  Int64 offset = 0;
  // Chunk start.
  Int32 id = 0;
  Int32 level = 0;
  // Char .. UInt64, Bool: the number (UInt64 as its bits).
  Int64 integer = 0;
  // Float kinds, Time (numerator, denominator), vectors (x, y, z), matrices (offset, v1, v2,
  // v3): numberCount numbers.
  Float64 numbers[12] = {};
  Int32 numberCount = 0;
  // Kinds 128 and above: the bytes of the payload after its counts (and type byte), the
  // number of elements (bytes of a memory block, UTF-16 units of a string or file name, array
  // elements; for the older array kinds the stored count as it is), the array's element type
  // (HYPERFILEARRAY) and the first headCount elements:
  // integers in heads (bytes of a memory block as 0..255), floats in headFloats (float
  // arrays).
  Int64 size = 0;
  Int64 elements = 0;
  Int32 elementType = 0;
  Int32 headCount = 0;
  // Set by the caller: the most elements of a memory block or array kept (strings and file
  // names keep up to kHeadCount units whatever it is); at most kHeadCount.
  Int32 headLimit = kHeadCount;
  Int64 heads[kHeadCount] = {};
  Float64 headFloats[kHeadCount] = {};
};

// ---- array helpers ----
//
// _HFWriteArray writes an Int32 count and then the elements as typed arrays (a Vector64 array
// as three Float arrays: all x, all y, all z). Null data or a count of 0 or less writes the
// count 0 only. _HFReadArray reads what _HFWriteArray wrote into a block allocated with
// MemAlloc (null for 0 elements); *data and *count are null / 0 unless it succeeds.
bool _HFWriteArray(HyperFile* hf, const Vector64* data, Int32 count);
bool _HFWriteArray(HyperFile* hf, const Float32* data, Int32 count);
bool _HFWriteArray(HyperFile* hf, const Int32* data, Int32 count);
bool _HFWriteArray(HyperFile* hf, const Int16* data, Int32 count);
bool _HFReadArray(HyperFile* hf, Vector64** data, Int32* count);
bool _HFReadArray(HyperFile* hf, Float32** data, Int32* count);
bool _HFReadArray(HyperFile* hf, Int32** data, Int32* count);
bool _HFReadArray(HyperFile* hf, Int16** data, Int32* count);

// The older forms of such arrays: one memory value holding little-endian numbers, whatever the
// stream's byte order. *count is the number of whole elements in the block; the block is
// allocated with MemAlloc (null for 0 elements).
bool _HFReadMemoryL(HyperFile* hf, Int32** data, Int32* count);
bool _HFReadMemoryW(HyperFile* hf, Int16** data, Int32* count);
// Files of version above 11599: _HFReadArray; older files: a memory value of little-endian
// 32-bit floats, x, y, z per vector.
bool _HFReadMemoryVectorArray(HyperFile* hf, Vector64** data, Int32* count);

// The header of a stored dynamic array: two Int32 values, the element count and the element
// size in bytes. Either reader pointer may be null.
bool CDynArrayWriteHeader(HyperFile* hf, Int32 count, Int32 elementSize);
bool CDynArrayReadHeader(HyperFile* hf, Int32* count, Int32* elementSize);

}  // namespace lumora

#endif  // LUM_HYPERFILE_H
