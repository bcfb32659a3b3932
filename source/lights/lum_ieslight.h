// IESLight: the photometric description of a luminaire read from an IES file (the text format
// of IESNA LM-63, 1991, 1995 and 2002), and IESLightParser, which reads such a file through a
// BaseFile.
//
// A light holds its header texts, the shape and size of its luminous opening, the vertical and
// horizontal angle grids (degrees) and the candela table, and evaluates its normalised intensity
// in any direction by interpolation. Its power ratio is the integral of that normalised
// intensity over the sphere, estimated with a fixed random sequence: maximum candela x power
// ratio is the luminous flux. The light stores itself as a record in a scene stream;
// doc/ies-record.md describes the record.
//
// The light holds type C photometry only (vertical angle 0 straight down, horizontal angle 0 along
// +y). Files of photometric type A or B are resampled onto a type C grid when they are imported
// (doc/ies-record.md, "Photometric types").
#ifndef LUM_IESLIGHT_H
#define LUM_IESLIGHT_H

#include "foundation/lum_basefile.h"
#include "foundation/lum_filename.h"
#include "foundation/lum_string.h"
#include "lum_math.h"
#include "lum_types.h"
#include "objects/lum_baseobject.h"  // the light object's type
#include "scene/lum_nodedata.h"

namespace lumora {

class BaseContainer;
class BaseDocument;
class BaseList2D;
class HyperFile;
class IESLightParser;

// The generator of the power-ratio estimate: seed := (seed x 69069 + 69069) mod 2^32, low 31
// bits kept. A new generator holds seed 100.
class Random {
 public:
  void Init(Int32 seed) { _seed = seed; }
  // In [0, 1).
  Float Get01() {
    const UInt32 next = static_cast<UInt32>(_seed) * 69069u + 69069u;
    _seed = static_cast<Int32>(next & 0x7FFFFFFFu);
    return static_cast<Float>(_seed) / 2147483649.0;
  }
  // In [-1, 1).
  Float Get11() { return 2.0 * Get01() - 1.0; }

 private:
  Int32 _seed = 100;
};

// The keyword a line of an IES file starts with.
enum IESKEYWORD : Int32 {
  IESKEYWORD_NONE_FOUND = 0,
  IESKEYWORD_IESNA91 = 1,    // "IESNA91"
  IESKEYWORD_LM63_1995 = 2,  // "IESNA:LM-63-1995"
  IESKEYWORD_LM63_2002 = 3,  // "IESNA:LM-63-2002"
  IESKEYWORD_TILT = 4,       // "TILT"
  IESKEYWORD_NONE = 5,       // "NONE"
  IESKEYWORD_INCLUDE = 6,    // "INCLUDE"
  IESKEYWORD_MANUFAC = 7,    // "[MANUFAC]"
  IESKEYWORD_LUMCAT = 8,     // "[LUMCAT]"
  IESKEYWORD_LUMINAIRE = 9,  // "[LUMINAIRE]"
  IESKEYWORD_LAMPCAT = 10,   // "[LAMPCAT]"
  IESKEYWORD_LAMP = 11,      // "[LAMP]"
};

struct IESSymbols {
  Int32 keyword = IESKEYWORD_NONE_FOUND;
};

// The five header texts, in the order the light keeps and stores them.
enum IESTEXT : Int32 {
  IESTEXT_MANUFACTURER = 0,   // [MANUFAC]
  IESTEXT_CATALOGUE = 1,      // [LUMCAT]
  IESTEXT_LUMINAIRE = 2,      // [LUMINAIRE]
  IESTEXT_LAMPCATALOGUE = 3,  // [LAMPCAT]
  IESTEXT_LAMP = 4,           // [LAMP]
  IESTEXT_COUNT = 5,
};

// The largest vertical or horizontal angle count a file or record may state.
constexpr Int32 IES_MAX_ANGLES = 1024;
// The record version Write stores.
constexpr Int32 IES_RECORD_VERSION = 4;

class IESLight {
 public:
  // Format 0, tilt 0, empty texts, shape 2, opening (0, 0, 0), no angles, maximum candela 0,
  // power ratio 2 pi.
  IESLight();
  virtual ~IESLight();
  IESLight(const IESLight&) = delete;
  IESLight& operator=(const IESLight&) = delete;

  // A new light through the memory functions (null when out of memory); Free destroys it and
  // clears the pointer.
  static IESLight* Alloc();
  static void Free(IESLight*& light);

  // Reads an IES file: 1 success; -1 the file cannot be opened; -3 no memory for the head
  // buffer; -5 the head cannot be read or the file does not parse; -2 neither "IESN" nor
  // "TILT" (in any case) among the first 1024 bytes. A file that does not parse may have set
  // the header fields it got to, but the angles and the table change only together, on success.
  Int32 ImportFromFile(const Filename& name);

  // The intensity in direction (a unit vector: the vertical angle is taken from z alone)
  // divided by the maximum candela, >= 0.
  // Straight down is (0, 0, -1); horizontal angle 0 lies along +y, 90 along +x.
  Float ComputeLightIntensity(const Vector64& direction) const;
  // Recomputes the maximum candela and the power ratio (65536 intensity evaluations).
  void ComputePowerRatio();
  // atan2 with the arguments of the light's horizontal angle: the angle of (b, a) from the
  // b axis towards the a axis, in radians, -pi .. pi; pi/2 when both are 0.
  static Float ATan2(Float a, Float b);

  // A new light with every field and array duplicated, owned by the caller; null when any
  // allocation fails.
  IESLight* Copy() const;

  // The record (version 4 written; versions 1 to 4 read). Read replaces the light's content
  // only when the whole record has been read; counts outside 0 .. 1024, or tables larger than
  // the bytes left in the stream, fail before anything is allocated.
  bool Read(HyperFile* hf);
  bool Write(HyperFile* hf) const;

  // ---- fields ----
  Int32 GetFormat() const { return _format; }
  Int32 GetTilt() const { return _tilt; }
  const String& GetText(IESTEXT which) const { return _texts[which]; }
  Int32 GetShape() const { return _shape; }
  const Vector64& GetOpeningSize() const { return _size; }
  Int32 GetVerticalCount() const { return _nv; }
  Int32 GetHorizontalCount() const { return _nh; }
  // nv vertical, nh horizontal angles in degrees; nh x nv candela values, horizontal index j
  // and vertical index i at j * nv + i. Null when the count is 0.
  const Float* GetVerticalAngles() const { return _vertical; }
  const Float* GetHorizontalAngles() const { return _horizontal; }
  const Float* GetCandela() const { return _candela; }
  Float GetMaxCandela() const { return _maxCandela; }
  Float GetPowerRatio() const { return _powerRatio; }

 private:
  friend class IESLightParser;

  // Takes over the arrays (freeing the old ones) and notes whether the grids ascend. Each holds
  // its count of values (nv, nh, nv x nh) and is null only for a count of 0.
  void AdoptTables(Int32 nv, Float* vertical, Int32 nh, Float* horizontal, Float* candela);
  Float RowValue(const Float* row, Int32 i0, Int32 i1, Float t) const;

  Int32 _format = 0;
  Int32 _tilt = 0;
  String _texts[IESTEXT_COUNT];
  Int32 _shape = 2;
  Vector64 _size;
  Float* _vertical = nullptr;
  Float* _horizontal = nullptr;
  Int32 _nv = 0;
  Int32 _nh = 0;
  Float* _candela = nullptr;
  Float _maxCandela = 0.0;
  Float _powerRatio = 6.283185307179586;
  // Whether the grids never descend: the intervals are then found by bisection, which gives
  // the same interval as the scan from the start.
  bool _verticalAscending = true;
  bool _horizontalAscending = true;
};

// Reads an IES file through a BaseFile in 1024-byte blocks: lines of at most 20479 characters
// (carriage returns dropped, empty lines skipped, a longer line continues as the next one),
// tokens of at most 256 characters ended by a space, tab, comma, '=' or the end of the line.
// Numbers may continue over any number of lines. Nothing is allocated but the light's tables.
class IESLightParser {
 public:
  IESLightParser() = default;
  IESLightParser(const IESLightParser&) = delete;
  IESLightParser& operator=(const IESLightParser&) = delete;

  // Reads the file from its current position into light: header lines until a TILT line,
  // then the photometric block; nothing after it is read. False when the file ends before a
  // TILT line or the block does not parse. The light is the caller's in every case.
  bool ParseIESFile(BaseFile* file, IESLight* light);
  // The photometric block after the TILT line; a table of photometric type A or B is resampled
  // onto a type C grid. False at the first malformed number, at the end of the file, for a count
  // above 1024 or more numbers than the bytes left, or when out of memory.
  bool ParseIESLight(IESLight* light);
  // The keyword the current token names (a bracketed keyword also when the token only starts
  // with it, as in "[MANUFAC]MAKER"). Always true.
  bool ParseSymbolKeyword(IESSymbols& symbol);
  // The next token as a number: '+' ignored, '-' first (sign) or after the exponent mark, one
  // '.', one 'E' or 'e', digits; an empty token is 0. False at the end of the file and for any
  // other character.
  bool ParseSymbolNumberFloat(Float& value);

  static constexpr Int32 kBlockSize = 1024;
  static constexpr Int32 kMaxLine = 20479;
  static constexpr Int32 kMaxToken = 256;

 private:
  // The next non-empty line; false at the end of the file (or a read error).
  bool ReadLine();
  // The next token of the current line; false when the line is used up.
  bool LineToken();
  // The next token, reading further lines as needed; false at the end of the file.
  bool NextToken();
  // The rest of the current line after blanks, at most kMaxToken characters.
  void RestOfLine(String* text);
  // Whether count more numbers can be in the rest of the file (each takes at least a byte).
  bool NumbersFit(Int64 count) const;
  bool FillBlock();

  BaseFile* _file = nullptr;
  Int64 _length = 0;
  Int64 _position = 0;
  UChar _block[kBlockSize];
  Int32 _fill = 0;
  Int32 _read = 0;
  Char _line[kMaxLine + 1];
  Int32 _lineLength = 0;
  Int32 _linePos = 0;
  Char _token[kMaxToken + 1];
  Int32 _tokenLength = 0;
  Int32 _tokenStart = 0;  // where the current token starts in the line
};

// Light-object parameters an applied IES light sets.
enum LIGHT_IES : Int32 {
  LIGHT_TYPE = 90002,            // int32; 9 = photometric
  LIGHT_IES_FILE = 90036,        // file name; importing and applying it when set
  LIGHT_IES_MODE = 90037,        // int32 := 1
  LIGHT_IES_ENABLED = 90042,     // bool := true
  LIGHT_IES_MAXCANDELA = 90043,  // float
  LIGHT_IES_APPLIED = 90046,     // bool := true
  LIGHT_IES_TEXTS = 90050,       // strings 90050 .. 90054: the five texts in IESTEXT order
  LIGHT_AREA_SIZEX = 100010,     // float, the opening in document units
  LIGHT_AREA_SIZEY = 100011,
  LIGHT_AREA_SIZEZ = 100012,
  LIGHT_AREA_SHAPE = 100015,  // int32, the shape code (1 for no opening)
};
constexpr Int32 LIGHT_TYPE_PHOTOMETRIC = 9;

// The node data of light objects. The light data chunk is kept as the file has it
// (RawNodeData); besides, the data holds the IES light applied to the object and the three
// values SetIESLight sets with it. Writing the IES file name parameter (90036) imports that file
// and applies it.
class LightObjectData : public RawNodeData {
 public:
  explicit LightObjectData(Int32 type = TYPE_LIGHTOBJECT) : RawNodeData(type) {}
  ~LightObjectData() override;

  // A new light data (null when out of memory).
  static NodeData* Alloc(Int32 type = TYPE_LIGHTOBJECT);

  // dest must be a LightObjectData: the kept bytes, a copy of the IES light, the three values.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  // 90036: the file name is stored in the object's container, and a file that imports is
  // applied with SetIESLight (true in every case). Other ids: the base answer.
  bool SetDParameter(const DescID& id, const GeData& value) override;

  // The applied IES light (owned), or null.
  IESLight* GetIESLight() const { return _ies; }
  // Takes over light (the old one is freed); null frees it.
  void SetIESLight(IESLight* light);

  // The three values SetIESLight sets: half the opening's scaled width, 10 and 1000.
  void SetIESValues(Float halfSize, Int32 count, Float distance) {
    _iesHalfSize = halfSize;
    _iesCount = count;
    _iesDistance = distance;
  }
  Float GetIESHalfSize() const { return _iesHalfSize; }
  Int32 GetIESCount() const { return _iesCount; }
  Float GetIESDistance() const { return _iesDistance; }

 private:
  IESLight* _ies = nullptr;
  Float _iesHalfSize = 0.0;
  Int32 _iesCount = 0;
  Float _iesDistance = 0.0;
};

// Applies light to a light object (type 5102 with light data): the data takes a copy (the power
// ratio recomputed first), the object becomes photometric (90002 := 9) and its container gets
// the light's texts, maximum candela, shape and opening, the opening in the document's units.
// False without an object, a light, the type or the data; true (nothing more done) when the
// copy cannot be made.
bool SetIESLight(BaseList2D* object, IESLight* light, BaseDocument* document);

// Metres per unit of a document unit scale, by the unit's index (0 metre-scaled units, 1 km,
// 2 m, 3 cm, 4 mm, 5 um, 6 nm, 7 mile, 8 yard, 9 foot, 10 inch); 1 for any other index.
Float IESMetresPerUnit(Int32 unit);
// The factor an IES light's opening (in metres) is scaled by for a document whose unit scale is
// scale units of index unit; null scale: the document has none (or it cannot be read), factor 1.
Float IESSizeFactor(const Float* scale, Int32 unit);
// The container part of applying light to a light object: 90037, 90042, 90043, 90046, the texts,
// the shape and the opening scaled by sizeFactor. False when out of memory.
bool IESApplyToContainer(BaseContainer* bc, const IESLight& light, Float sizeFactor);

}  // namespace lumora

#endif  // LUM_IESLIGHT_H
