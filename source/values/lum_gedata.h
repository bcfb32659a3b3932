// GeData: the library's tagged value; ByteArray, UnknownCustomData and the custom data types
// that a GeData dispatches to.
//
// A GeData holds exactly one value of one kind (VALUETYPE). The small kinds (untyped pointer,
// Int32, Float, Int64) live in the value's 8-byte slot; every other kind lives in a heap block
// the GeData owns exclusively, so copies are deep and destruction frees the payload.
//
// Getters never fail hard: asked for a kind the value does not hold (and that is not one of the
// few conversions), they raise the debug alert and return a neutral fallback (0, false, or one
// of the shared constant dummies). References and pointers they return point into the value or
// into those dummies and are valid until the value next changes.
//
// Custom data types (ids from VALUETYPE_CUSTOMFIRST on) have no run-time registry: every
// operation dispatches with one fixed switch over the ids this library knows. A custom id it
// does not know is read as kind VALUETYPE_UNKNOWNCUSTOM, whose raw chunk is written back
// unchanged under the id it was read with. doc/value-format.md describes the bytes.
#ifndef LUM_GEDATA_H
#define LUM_GEDATA_H

#include "foundation/lum_basetime.h"
#include "foundation/lum_filename.h"
#include "foundation/lum_string.h"
#include "lum_math.h"
#include "lum_types.h"

namespace lumora {

class AliasTrans;
class BaseContainer;
class BaseLink;
class BaseList2D;
class GeMarker;
class HyperFile;

// Value kinds. The numbers are what files store.
enum VALUETYPE : Int32 {
  VALUETYPE_NIL = 0,
  VALUETYPE_VOID = 14,  // untyped pointer, not owned; written as the id alone
  VALUETYPE_INT32 = 15,
  VALUETYPE_FLOAT = 19,   // 64-bit
  VALUETYPE_TIME = 22,    // BaseTime
  VALUETYPE_VECTOR = 23,  // Vector64
  VALUETYPE_MATRIX = 25,  // Matrix64
  VALUETYPE_INT64 = 26,
  VALUETYPE_BYTEARRAY = 128,
  VALUETYPE_STRING = 130,
  VALUETYPE_FILENAME = 131,
  VALUETYPE_CONTAINER = 132,  // BaseContainer
  VALUETYPE_LINK = 133,       // BaseLink (values/lum_baselink.h)
  VALUETYPE_MARKER = 256,     // GeMarker; written as the id alone and not readable
  VALUETYPE_UNKNOWNCUSTOM = 257,
  VALUETYPE_CUSTOMFIRST = 1000000,  // this id and every higher one is a custom data type
};

// Ids InitType accepts for other kinds (the value stores the target kind).
constexpr Int32 VALUETYPE_ALIAS_VECTOR = 3;
constexpr Int32 VALUETYPE_ALIAS_STRING1 = 7;
constexpr Int32 VALUETYPE_ALIAS_STRING2 = 12;
constexpr Int32 VALUETYPE_ALIAS_INT32 = 400006001;

// The custom data types the value dispatch knows, with the level written on their chunk.
constexpr Int32 CUSTOMDATATYPE_GRADIENT = 1000481;        // level 1 (2 when value-only)
constexpr Int32 CUSTOMDATATYPE_DESCID = 1000486;          // level 5
constexpr Int32 CUSTOMDATATYPE_LENSGLOW = 1000997;        // level 0
constexpr Int32 CUSTOMDATATYPE_SPLINE = 1009060;          // level 9
constexpr Int32 CUSTOMDATATYPE_INEXCLUDE_LIST = 1009290;  // level 2
constexpr Int32 CUSTOMDATATYPE_PRIORITY = 1009369;        // level 0
constexpr Int32 CUSTOMDATATYPE_FONT = 1009372;            // level 0
constexpr Int32 CUSTOMDATATYPE_DATETIME = 1009398;        // level 0
constexpr Int32 CUSTOMDATATYPE_BLEND = 1011131;           // level 2
constexpr Int32 CUSTOMDATATYPE_MATPREVIEW = 1011153;      // level 7
constexpr Int32 CUSTOMDATATYPE_LISTVIEW = 1018397;        // level 0
constexpr Int32 CUSTOMDATATYPE_ITEMLIST = 1019655;        // level 1
constexpr Int32 CUSTOMDATATYPE_SPREADSHEET = 1019660;     // level 3
constexpr Int32 CUSTOMDATATYPE_ITEMTREE = 1024869;        // level 0
constexpr Int32 CUSTOMDATATYPE_DYNAMICSPLINE = 1029123;   // level 0
constexpr Int32 CUSTOMDATATYPE_XRLAYERS = 1031184;        // level 11
constexpr Int32 CUSTOMDATATYPE_PLA = 100004811;           // level 0
constexpr Int32 CUSTOMDATATYPE_REALARRAY = 180000104;     // level 0
constexpr Int32 CUSTOMDATATYPE_COLORPROFILE = 200000266;  // level 2
constexpr Int32 CUSTOMDATATYPE_UNITSCALE = 200000275;     // level 0
constexpr Int32 CUSTOMDATATYPE_RANGE = 431000178;         // level 3
constexpr Int32 CUSTOMDATATYPE_FIELD = 440000246;         // level 5
constexpr Int32 CUSTOMDATATYPE_SKYOBJECTS = 450000019;    // level 0

// Tags that pick a constructor.
enum VOIDVALUETYPE { VOIDVALUE = 0 };
enum DEFAULTVALUETYPE { DEFAULTVALUE = 0 };

// The object a custom value owns. It has no members of its own: each data-type class knows the
// real type behind the pointer (DescID for CUSTOMDATATYPE_DESCID, DateTimeData for
// CUSTOMDATATYPE_DATETIME, PriorityData, RawCustomData ...).
class CustomDataType;

// Owned bytes: the payload of VALUETYPE_BYTEARRAY. Not copyable; GeData copies with Init.
class ByteArray {
 public:
  ByteArray() = default;
  ~ByteArray();
  ByteArray(const ByteArray&) = delete;
  ByteArray& operator=(const ByteArray&) = delete;

  // Frees the old buffer and takes len bytes, copied from src when src is not null (a null src
  // gives zeroed bytes). False when the buffer cannot be allocated: the array is then
  // empty, so that length never claims bytes that do not exist. len <= 0 gives the empty array.
  bool Init(const void* src, Int64 len);
  void Free();

  Int64 length = 0;
  void* data = nullptr;
};

// The payload of VALUETYPE_UNKNOWNCUSTOM: a custom value whose class this library lacks.
// bytes are the raw contents of the value's chunk up to and including its end byte.
struct UnknownCustomData {
  Int32 originalType = 0;  // the custom id as read
  Int32 level = 0;         // the chunk level read with it; -1 when the contents were dropped
  Int32 layout = 0;        // HyperFile::GetRawLayout of the stream read
  Int64 size = 0;
  void* bytes = nullptr;
};

class GeData {
 public:
  // Nil.
  GeData() = default;
  // Nil, then a copy of src (CopyData without alias translation); nil if that fails.
  GeData(const GeData& src);
  // Takes the payload of src, which is left nil. Never allocates.
  GeData(GeData&& src) noexcept { Adopt(src); }
  explicit GeData(void* pointer, VOIDVALUETYPE);
  GeData(Int32 value);
  GeData(Float64 value);
  explicit GeData(Int64 value);
  // The heap kinds: a copy of the argument, or nil when it cannot be allocated.
  GeData(const Vector64& value);
  GeData(const BaseTime& value);
  GeData(const Matrix64& value);
  GeData(const String& value);
  GeData(const Filename& value);
  GeData(const ByteArray& value);
  GeData(const GeMarker& value);
  // A clone of the container made with no copy flags and no alias translation.
  GeData(const BaseContainer& value);
  // Kind 133 holding a clone of the link (nil when out of memory).
  GeData(const BaseLink& value);
  // InitType(type).
  GeData(Int32 type, DEFAULTVALUETYPE);
  // A new object of the custom type, then the class's copy of src into it; nil when either
  // fails. A type kept as raw bytes (RawCustomData) is made only from a src that holds bytes.
  GeData(Int32 type, const CustomDataType& src);
  ~GeData() { Free(); }

  // Sets the kind (aliases mapped first) with its default payload. An id below
  // VALUETYPE_CUSTOMFIRST that is no kind raises the alert and is kept without payload (true);
  // an unknown custom id leaves nil (false); a failed allocation raises the alert and leaves
  // nil (false). A known custom type this library keeps as raw bytes (fonts, ranges and the
  // other RawCustomData types) has no default: its empty chunk is nothing its readers accept,
  // so InitType leaves nil (false) like for an unknown id. Such values come only from files.
  bool InitType(Int32 type);
  // Frees the payload and makes the value nil.
  void Free();

  // Makes dest a deep copy of this value; links would be re-pointed through trans. In place
  // when dest already has this kind. Any failure leaves dest nil.
  void CopyData(GeData* dest, AliasTrans* trans) const;
  GeData& operator=(const GeData& src);
  // Frees this value's payload and takes src's; src is left nil.
  GeData& operator=(GeData&& src) noexcept;

  // Int32 and Float compare across kinds; every other pair of different kinds is unequal. Nil
  // is unequal to everything, another nil included, and so are markers and unknown custom
  // values.
  bool operator==(const GeData& other) const;
  bool operator!=(const GeData& other) const { return !(*this == other); }

  // The kind; VALUETYPE_UNKNOWNCUSTOM reports VALUETYPE_NIL.
  Int32 GetType() const { return _type == VALUETYPE_UNKNOWNCUSTOM ? VALUETYPE_NIL : _type; }

  // Float truncates toward zero; beyond the Int32 range it saturates, NaN gives 0.
  Int32 GetInt32() const;
  // Int32 converts exactly.
  Float64 GetFloat() const;
  // Int32 not 0. A float is not accepted.
  bool GetBool() const;
  Int64 GetInt64() const;
  void* GetVoid() const;
  const Vector64& GetVector() const;
  const Matrix64& GetMatrix() const;
  const BaseTime& GetTime() const;
  const String& GetString() const;
  const Filename& GetFilename() const;
  const ByteArray& GetByteArray() const;
  // Null unless the value is a marker.
  const GeMarker* GetMarker() const;
  // The stored container, or null.
  BaseContainer* GetContainer() const;
  // The stored link, or null (no alert).
  BaseLink* GetBaseLink() const;
  // The node the stored link resolves to, or null.
  BaseList2D* GetLink() const;
  // Null unless type is the stored kind. Then: the pointer for VALUETYPE_VOID, the heap block
  // for time, vector, matrix and string, the slot for Int32, Float and Int64, the record for
  // VALUETYPE_UNKNOWNCUSTOM and the object for the other heap kinds and custom types.
  CustomDataType* GetCustomDataType(Int32 type) const;
  // The record of an unknown custom value, or null.
  const UnknownCustomData* GetUnknownCustomData() const;

  // In place when the value already holds an Int32.
  void SetInt32(Int32 value);
  // Overwrites the stored link in place when the value holds one; otherwise kind 133 with a
  // clone of link (nil when out of memory).
  void SetBaseLink(const BaseLink& link);

  // The value's file form, preceded by its Int32 kind. Write fails when the stream does;
  // Read frees the value first and leaves nil on failure (the stream records why).
  bool Write(HyperFile* hf) const;
  bool Read(HyperFile* hf);

 private:
  bool CopyPayloadFrom(const GeData& src, AliasTrans* trans);
  bool AssignInPlaceFrom(const GeData& src, AliasTrans* trans);
  bool ReadCustom(HyperFile* hf, Int32 type);
  // Takes the kind and payload of from (this value must be nil), leaving from nil.
  void Adopt(GeData& from);

  Int32 _type = VALUETYPE_NIL;
  union Payload {
    void* pointer;
    Int32 int32;
    Float64 float64;
    Int64 int64;
  } _payload{nullptr};
};

// Priority settings: two integers and a flag (CUSTOMDATATYPE_PRIORITY). GeData calls these
// directly; there is no data-type class.
class PriorityData {
 public:
  // which 0: the first integer, 1: the second, 2: the flag (value's GetBool). Only Int32
  // values are accepted; anything else (or another which) is refused with false.
  bool SetPriorityValue(Int32 which, const GeData& value);
  // The field as an Int32 value; nil for another which.
  GeData GetPriorityValue(Int32 which) const;
  void CopyTo(PriorityData* dest) const;
  bool IsEqual(const PriorityData* other) const;
  // Int32 second integer, Int32 first integer, Bool flag.
  bool WriteData(HyperFile* hf) const;
  bool ReadData(HyperFile* hf, Int32 level);

  Int32 first = 0;
  Int32 second = 0;
  bool flag = false;
};

// The six operations of a custom data type, for DescID values (CUSTOMDATATYPE_DESCID).
class DescIDDataTypeClass {
 public:
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  // Deep copy; false when either side is null or the copy cannot be allocated.
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // 0 when the ids are equal (wildcard equality), and when either is null.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  // A negative level reads nothing.
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
};

// The six operations for date-time values (CUSTOMDATATYPE_DATETIME, a DateTimeData).
class DateTimeDataTypeClass {
 public:
  // 2000-01-01 00:00:00.
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  // All six fields; false when either pointer is null.
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // 1 when any field differs; 0 when equal or when either pointer is null.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  // Six Int32 values in field order; true whatever the stream reports (its error tells).
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
};

// The six operations of layer stacks (CUSTOMDATATYPE_BLEND, an iBlendDataType), served by the
// shading family (shading/lum_blendlayers.cpp), since a layer links to shader nodes. Declared
// here for the value dispatch, which therefore links that family into every program.
class BlendDataTypeClass {
 public:
  // An empty stack, int32 2.
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  // The layers appended to dest's (links through trans) and the int32; false when either is
  // null or memory runs out.
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // 0 only when both exist, their int32s are equal and their layers compare equal.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  // The list (level 3), then Int32 the int32.
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  // The list (replacing the layers), then the int32 (its read may fail harmlessly).
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
};

// The object of every known custom type whose contents this library does not interpret: the
// chunk's raw contents up to and including its end byte, and the chunk level they were written
// under. A GeData holds one only with the bytes of a stored value.
struct RawCustomData {
  Int32 level = 0;
  Int32 layout = 0;  // HyperFile::GetRawLayout of the stream read
  Int64 size = 0;
  void* bytes = nullptr;
};

// The six operations over RawCustomData. ReadData keeps the rest of the chunk, end byte
// included (so the caller must not skip to the chunk's end afterwards); WriteData writes the
// bytes back and closes the chunk (a chunk end alone when there are none).
class RawCustomDataTypeClass {
 public:
  static CustomDataType* AllocData();
  static void FreeData(CustomDataType* data);
  static bool CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans* trans);
  // 0 when level, size and bytes are equal.
  static Int32 Compare(const CustomDataType* a, const CustomDataType* b);
  static bool WriteData(const CustomDataType* data, HyperFile* hf);
  static bool ReadData(CustomDataType* data, HyperFile* hf, Int32 level);
};

// Link values are served by the link family (scene/lum_smart_link.cpp), which lives with the
// node tree: these are the few operations a value needs of a link. A null source clones an empty
// link; the clone is null when out of memory.
BaseLink* _GeLinkClone(const BaseLink* src, AliasTrans* trans);
void _GeLinkFree(BaseLink*& link);
// dest becomes a copy of src pointing at the same node; false when out of memory.
bool _GeLinkAssign(const BaseLink& src, BaseLink* dest);
bool _GeLinkRead(BaseLink* link, HyperFile* hf);
bool _GeLinkWrite(const BaseLink* link, HyperFile* hf);
BaseList2D* _GeLinkResolve(const BaseLink* link);

// True when id is one of the custom data types the value dispatch knows.
bool GeIsKnownCustomDataType(Int32 id);
// The chunk level a new value of a known custom type is written under (-1 for other ids).
Int32 GeGetCustomDataTypeLevel(Int32 id);

}  // namespace lumora

#endif  // LUM_GEDATA_H
