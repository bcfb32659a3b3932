// CKey: one key of an animation curve: its time, a value (a Float for value tracks, a GeData for
// data tracks), a left and a right tangent (each a time offset and a value offset), the
// interpolation, the automatic-tangent mode, the quaternion interpolation and the key bits.
//
// Key bits are node bits (GetNBit / ChangeNBit) with the numbers below; the key's parameters
// read and write them as Int32 0/1. The tangent operations that need the neighbouring keys
// (soft tangents, overshoot removal, automatic weighting) live on the curve (lum_ccurve.h).
//
// A key's curve pointer is set whenever the key enters a curve (MoveKey, AddKey, reading,
// copying) and cleared when it leaves, so that the parameters work on every key that lives in a
// curve. A key without a curve rejects every parameter change (false) and has no value
// parameter (910). The chunk layout is in doc/scene-format.md.
#ifndef LUM_CKEY_H
#define LUM_CKEY_H

#include "scene/lum_baselist2d.h"

namespace lumora {

class CCurve;
class CTrack;

constexpr Int32 TYPE_CKEY = 5352;
constexpr Int32 CHUNK_CKEY = 110416;

// Interpolation of the segment that starts at a key. 1 is the default, the one the key presets
// set; CCurve::GetValue draws 1 (and any value it does not know) as a cubic Bezier through the
// tangents, 2 as a straight line and 3 as the left key's value held up to the right key.
enum CINTERPOLATION : Int32 {
  CINTERPOLATION_SPLINE = 1,
  CINTERPOLATION_LINEAR = 2,
  CINTERPOLATION_STEP = 3,
};

// How automatic (soft) tangents are computed (CCurve::CalcSoftTangents).
enum CAUTOMODE : Int32 {
  CAUTOMODE_CLASSIC = 1,  // from the values of the key and both neighbours
  CAUTOMODE_SLOPE = 2,    // from the slope between the two neighbours
};

// Quaternion interpolation of rotation keys; 2 is the default, 3 the alternative. Reading maps
// every other stored value to 2.
enum ROTATIONINTERPOLATION : Int32 {
  ROTATIONINTERPOLATION_QUATERNION_SLERP = 2,
  ROTATIONINTERPOLATION_QUATERNION_CUBIC = 3,
};

// Key presets (parameter 1247), see CKey::GetKeyPreset.
enum CKEYPRESET : Int32 {
  CKEYPRESET_CLASSIC = 1,
  CKEYPRESET_AUTO_OVERSHOOT = 2,
  CKEYPRESET_AUTO_OVERSHOOTWEIGHTED = 3,
  CKEYPRESET_CUSTOM = 4,
};

// Key bits (node bit numbers) and the parameter that reads and writes each.
enum : Int32 {
  CKEY_BIT_925 = 38,
  CKEY_BIT_926 = 39,
  CKEY_BIT_SKIPNEIGHBOUR = 40,  // 902: skipped as a neighbour by the tangent computations
  CKEY_BIT_PRESET = 41,         // 923: part of the key presets
  CKEY_BIT_BREAK = 42,          // 915: left and right tangents are edited independently
  CKEY_BIT_EDITED = 43,         // 927: cleared whenever a tangent is edited by hand
  CKEY_BIT_917 = 44,
  CKEY_BIT_918 = 45,
  CKEY_BIT_AUTO = 46,          // 919: automatic tangents
  CKEY_BIT_ZEROVALUES = 48,    // level-0 files only: both value offsets are zero
  CKEY_BIT_ZEROTANGENTS = 49,  // level-0 files only: both tangents are zero
  CKEY_BIT_1234 = 54,
  CKEY_BIT_WEIGHTED = 84,    // 1244: weighted tangents
  CKEY_BIT_OVERSHOOT = 85,   // 1245: overshoot removal
  CKEY_BIT_AUTOWEIGHT = 86,  // 1246: automatic weighting
};

// Key parameters (first level of the DescID).
enum : Int32 {
  CKEY_TIME = 901,
  CKEY_VALUE = 910,
  CKEY_TIME_LEFT = 911,
  CKEY_TIME_RIGHT = 912,
  CKEY_VALUE_LEFT = 913,
  CKEY_VALUE_RIGHT = 914,
  CKEY_BREAK = 915,
  CKEY_AUTO = 919,
  CKEY_INTERPOLATION = 924,
  CKEY_AUTOMODE = 1240,
  CKEY_WEIGHTED = 1244,
  CKEY_OVERSHOOT = 1245,
  CKEY_AUTOWEIGHT = 1246,
  CKEY_PRESET = 1247,
  CKEY_QUATINTERPOLATION = 1248,
  CKEY_DATA_FIRST = 10001,  // 10001-10003: entries of the container held in the key's data
  CKEY_DATA_LAST = 10003,
};

// The document's key-preset store lives with the document class, which is the application's.
// A program that keeps one installs these hooks; without them presets 1-3 save nothing and
// preset 4 restores nothing. Also the notification a track's document receives when parameter
// 905 of a track changes (code 31, twice).
struct AnimationDocumentHooks {
  void (*copyToPresetSettings)(BaseDocument* doc, const class CKey* key) = nullptr;
  void (*restoreFromPresetSettings)(BaseDocument* doc, class CKey* key) = nullptr;
  void (*notify)(BaseDocument* doc, Int32 code) = nullptr;
};
// Installs the hooks (copied); null removes them.
void SetAnimationDocumentHooks(const AnimationDocumentHooks* hooks);
const AnimationDocumentHooks& GetAnimationDocumentHooks();

class CKey : public BaseList2D {
 public:
  CKey();
  ~CKey() override;

  explicit CKey(NoMarker);

  static CKey* Alloc();
  static void Free(CKey*& key);
  // For readers: a key without a marker (see BaseList2D::NoMarker), which ReadPlain gives it
  // or DrawMarker draws.
  static CKey* AllocToRead();
  // Reads the key's chunk contents, up to and including its end, as the current version writes
  // them for a key with no data and no more than BaseList2D::ReadPlainHeader takes, straight
  // from the stream's buffer (see HyperFileSpan), into a key as constructed. False, with nothing
  // read and the key unchanged, for anything else: the caller then reads it with ReadChunk.
  bool ReadPlain(HyperFile* hf);

  // True for 0, 110050 and 5352.
  bool IsInstanceOf(Int32 id) const override;
  bool HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) override;
  bool Write(HyperFile* hf) override;
  // BaseList2D's copy, then the key's fields and its data (links through trans). The
  // destination keeps its own curve pointer.
  bool CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) override;
  bool GetDParameter(const DescID& id, GeData& out) override;
  // False, and nothing changed, when the key has no curve.
  bool SetDParameter(const DescID& id, const GeData& value) override;
  // A new key filled by CopyTo; null when that fails.
  GeListNode* GetClone(COPYFLAGS flags, AliasTrans* trans) override;
  // Bits 38-46 and 84-86 get the flag 0xF0 added to the control.
  bool ChangeNBit(NBIT bit, Int32 control) override;
  // Out of the key list. A key its curve does not index (one beyond +-10000 s) thereby leaves
  // the curve altogether: its curve pointer is cleared.
  GeToolNode2D* Remove() override;

  // ---- accessors ----

  const BaseTime& GetTime() const { return _time; }
  Float GetValue() const { return _value; }
  Float GetValueLeft() const { return _valueLeft; }
  Float GetValueRight() const { return _valueRight; }
  const BaseTime& GetTimeLeft() const { return _timeLeft; }
  const BaseTime& GetTimeRight() const { return _timeRight; }
  CINTERPOLATION GetInterpolation() const { return _interpolation; }
  CAUTOMODE GetAutomaticTangentMode() const { return _autoMode; }
  ROTATIONINTERPOLATION GetQuatInterpolation() const { return _quatInterpolation; }
  const GeData& GetGeData() const { return _data; }
  CCurve* GetCurve() const { return _curve; }
  // The track of the key's curve, or null.
  CTrack* GetTrack() const;
  // 4 (custom) unless interpolation is 1 and bit 46 is set; then 1 when bits 84, 42, 86, 85 are
  // clear, bit 41 set and the mode is 1; 2 when the mode is 1, bit 85 set and bits 41, 86, 42,
  // 84 clear; 3 when the mode is 2, bits 85 and 84 set and bits 41, 86, 42 clear; else 4.
  CKEYPRESET GetKeyPreset() const;

  // ---- setters (the curve may be null; each stores only when the value differs) ----

  void SetTimeLeft(CCurve* curve, const BaseTime& t);
  void SetTimeRight(CCurve* curve, const BaseTime& t);
  void SetValueLeft(CCurve* curve, Float v);
  void SetValueRight(CCurve* curve, Float v);
  void SetInterpolation(CCurve* curve, CINTERPOLATION inter);
  void SetAutomaticTangentMode(CCurve* curve, CAUTOMODE mode);
  // This library's own additions: the value of a value-track key and of a data-track key.
  void SetValue(CCurve* curve, Float v);
  void SetGeData(CCurve* curve, const GeData& d);
  // Sets the left time to t, scaling the left value by t / old time (in seconds). When the old
  // time is within 2^-23 s of zero and the value is not zero, nothing changes and the result is
  // false.
  bool SetTimeLeftAdjustValue(CCurve* curve, const BaseTime& t);
  bool SetTimeRightAdjustValue(CCurve* curve, const BaseTime& t);
  // Presets 1-3 set interpolation 1, bit 46 and the preset's bits and mode (after saving a
  // custom key's settings through the document hooks); 4 restores them from the document when
  // the key is not custom. Other values do nothing.
  void SetKeyPreset(CCurve* curve, CKEYPRESET preset);
  // Nothing when value is already set. With propagate, a curve whose track animates a vector
  // parameter of an object: the keys at exactly this time in the three component curves get
  // the same value. Then this key's.
  void SetQuatInterpolationI(CCurve* curve, ROTATIONINTERPOLATION value, bool propagate);
  // Makes the two tangents mirror images: times -h / +h with h half the time span, values -m /
  // +m with m half the value span (positive when the right value is).
  void UnifyTangent();

  // The document the key belongs to: its own, else its track's, else the track's node's.
  BaseDocument* GetKeyDocument() const;

 private:
  friend class CCurve;

  bool ReadKeyChunk(HyperFile* hf, Int32 level);
  bool SetBitParameter(Int32 bit, const GeData& value);
  // Parameter 915 turned off.
  void RejoinTangents();
  // The key's position in its curve's index, or -1.
  Int32 FindOwnIndex() const;

  CCurve* _curve = nullptr;
  BaseTime _time;
  Float _value = 0.0;
  Float _valueLeft = 0.0;
  Float _valueRight = 0.0;
  BaseTime _timeLeft;
  BaseTime _timeRight;
  CINTERPOLATION _interpolation = CINTERPOLATION_SPLINE;
  CAUTOMODE _autoMode = CAUTOMODE_CLASSIC;
  ROTATIONINTERPOLATION _quatInterpolation = ROTATIONINTERPOLATION_QUATERNION_SLERP;
  GeData _data;
};

}  // namespace lumora

#endif  // LUM_CKEY_H
