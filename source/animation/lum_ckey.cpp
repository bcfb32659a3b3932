// CKey: fields, parameters, tangent edits, presets and the key chunk (see lum_ckey.h).
#include "animation/lum_ckey.h"

#include <cmath>
#include <utility>

#include "animation/lum_ccurve.h"
#include "animation/lum_ctrack.h"
#include "lum_debug.h"
#include "lum_memory.h"
#include "stream/lum_hyperfile.h"
#include "values/lum_basecontainer.h"

namespace lumora {

namespace {

constexpr const Char* kFile = "source/lum_ckey";
constexpr Int32 kKeyChunkLevel = 4;
// Below this many seconds a tangent time counts as zero when its value is rescaled.
constexpr Float kTimeEpsilon = 1.1920928955078125e-7;

AnimationDocumentHooks g_hooks;

// The parameters that stand for one key bit each.
struct BitParam {
  Int32 param;
  Int32 bit;
};
constexpr BitParam kBitParams[] = {
    {902, CKEY_BIT_SKIPNEIGHBOUR},
    {917, CKEY_BIT_917},
    {918, CKEY_BIT_918},
    {923, CKEY_BIT_PRESET},
    {925, CKEY_BIT_925},
    {926, CKEY_BIT_926},
    {927, CKEY_BIT_EDITED},
    {1234, CKEY_BIT_1234},
    {CKEY_BREAK, CKEY_BIT_BREAK},
    {CKEY_AUTO, CKEY_BIT_AUTO},
    {CKEY_WEIGHTED, CKEY_BIT_WEIGHTED},
    {CKEY_OVERSHOOT, CKEY_BIT_OVERSHOOT},
    {CKEY_AUTOWEIGHT, CKEY_BIT_AUTOWEIGHT},
};

Int32 BitOfParam(Int32 param) {
  for (const BitParam& b : kBitParams)
    if (b.param == param) return b.bit;
  return -1;
}

BaseTime Negated(const BaseTime& t) { return BaseTime(-t.GetNumerator(), t.GetDenominator()); }

bool IsControlledBit(Int32 bit) { return (bit >= 38 && bit <= 46) || (bit >= 84 && bit <= 86); }

}  // namespace

void SetAnimationDocumentHooks(const AnimationDocumentHooks* hooks) {
  g_hooks = hooks != nullptr ? *hooks : AnimationDocumentHooks();
}

const AnimationDocumentHooks& GetAnimationDocumentHooks() { return g_hooks; }

// ---- life ----

CKey::CKey() : BaseList2D(TYPE_CKEY) {}

CKey::CKey(NoMarker none) : BaseList2D(TYPE_CKEY, none) {}

CKey::~CKey() { _data.Free(); }

CKey* CKey::Alloc() { return NewObj<CKey>(); }

CKey* CKey::AllocToRead() { return NewObj<CKey>(NoMarker()); }

GeToolNode2D* CKey::Remove() {
  if (_curve != nullptr && _curve->FindKey(_time, nullptr, FINDANIM_EXACT) != this)
    _curve = nullptr;
  return BaseList2D::Remove();
}

void CKey::Free(CKey*& key) { DeleteObj(key); }

bool CKey::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_BASELIST2D || id == TYPE_CKEY;
}

GeListNode* CKey::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  CKey* key = Alloc();
  if (key == nullptr) return nullptr;
  if (!CopyTo(key, flags, trans)) Free(key);
  return key;
}

bool CKey::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!BaseList2D::CopyToX(dest, flags, trans)) return false;
  CKey* d = static_cast<CKey*>(dest);
  d->_value = _value;
  d->_valueLeft = _valueLeft;
  d->_valueRight = _valueRight;
  d->_time = _time;
  d->_timeLeft = _timeLeft;
  d->_timeRight = _timeRight;
  d->_interpolation = _interpolation;
  d->_autoMode = _autoMode;
  d->_quatInterpolation = _quatInterpolation;
  return _GeDataCopyChecked(_data, d->_data, trans);
}

bool CKey::ChangeNBit(NBIT bit, Int32 control) {
  if (IsControlledBit(bit)) control |= 0xF0;
  return BaseList2D::ChangeNBit(bit, control);
}

CTrack* CKey::GetTrack() const { return _curve != nullptr ? _curve->GetTrack() : nullptr; }

BaseDocument* CKey::GetKeyDocument() const {
  if (GetDocument() != nullptr) return GetDocument();
  CTrack* track = GetTrack();
  return track != nullptr ? track->GetTrackDocument() : nullptr;
}

Int32 CKey::FindOwnIndex() const {
  if (_curve == nullptr) return -1;
  Int32 i = -1;
  if (_curve->FindKey(_time, &i, FINDANIM_EXACT) == this) return i;
  for (Int32 j = 0; j < _curve->GetKeyCount(); ++j)
    if (_curve->GetKey(j) == this) return j;
  return -1;
}

// ---- plain setters ----

void CKey::SetTimeLeft(CCurve*, const BaseTime& t) {
  if (_timeLeft != t) _timeLeft = t;
}

void CKey::SetTimeRight(CCurve*, const BaseTime& t) {
  if (_timeRight != t) _timeRight = t;
}

void CKey::SetValueLeft(CCurve*, Float v) {
  if (_valueLeft != v) _valueLeft = v;
}

void CKey::SetValueRight(CCurve*, Float v) {
  if (_valueRight != v) _valueRight = v;
}

void CKey::SetInterpolation(CCurve*, CINTERPOLATION inter) { _interpolation = inter; }

void CKey::SetAutomaticTangentMode(CCurve*, CAUTOMODE mode) { _autoMode = mode; }

void CKey::SetValue(CCurve*, Float v) {
  if (_value != v) _value = v;
}

void CKey::SetGeData(CCurve*, const GeData& d) { _data = d; }

bool CKey::SetTimeLeftAdjustValue(CCurve* curve, const BaseTime& t) {
  Float scaled = _valueLeft;
  const Float old = _timeLeft.Get();
  if (std::fabs(old) > kTimeEpsilon) {
    scaled = _valueLeft * (t.Get() / old);
  } else if (_valueLeft != 0.0) {
    return false;
  }
  SetTimeLeft(curve, t);
  SetValueLeft(curve, scaled);
  return true;
}

bool CKey::SetTimeRightAdjustValue(CCurve* curve, const BaseTime& t) {
  Float scaled = _valueRight;
  const Float old = _timeRight.Get();
  if (std::fabs(old) > kTimeEpsilon) {
    scaled = _valueRight * (t.Get() / old);
  } else if (_valueRight != 0.0) {
    return false;
  }
  SetTimeRight(curve, t);
  SetValueRight(curve, scaled);
  return true;
}

void CKey::UnifyTangent() {
  const Float h = (_timeRight.Get() - _timeLeft.Get()) / 2.0;
  SetTimeLeft(_curve, BaseTime(-h));
  SetTimeRight(_curve, BaseTime(h));
  Float m = (_valueRight - _valueLeft) / 2.0;
  if (_valueRight > 0.0 && m < 0.0) m = -m;
  SetValueLeft(_curve, -m);
  SetValueRight(_curve, m);
}

void CKey::RejoinTangents() {
  const Float right = _timeRight.Get();
  if (right != 0.0 && GetNBit(CKEY_BIT_WEIGHTED)) {
    SetValueLeft(_curve, _valueRight * (_timeLeft.Get() / right));
    return;
  }
  SetValueLeft(_curve, -_valueRight);
  SetTimeLeft(_curve, BaseTime(-right));
}

// ---- presets ----

CKEYPRESET CKey::GetKeyPreset() const {
  if (_interpolation != CINTERPOLATION_SPLINE || !GetNBit(CKEY_BIT_AUTO)) return CKEYPRESET_CUSTOM;
  const bool b41 = GetNBit(CKEY_BIT_PRESET), b42 = GetNBit(CKEY_BIT_BREAK);
  const bool b84 = GetNBit(CKEY_BIT_WEIGHTED), b85 = GetNBit(CKEY_BIT_OVERSHOOT);
  const bool b86 = GetNBit(CKEY_BIT_AUTOWEIGHT);
  if (!b84 && !b42 && !b86 && !b85 && b41 && _autoMode == CAUTOMODE_CLASSIC)
    return CKEYPRESET_CLASSIC;
  if (_autoMode == CAUTOMODE_CLASSIC && b85 && !b41 && !b86 && !b42 && !b84)
    return CKEYPRESET_AUTO_OVERSHOOT;
  if (_autoMode == CAUTOMODE_SLOPE && b85 && b84 && !b41 && !b86 && !b42)
    return CKEYPRESET_AUTO_OVERSHOOTWEIGHTED;
  return CKEYPRESET_CUSTOM;
}

void CKey::SetKeyPreset(CCurve* curve, CKEYPRESET preset) {
  const bool weighted =
      GetNBit(CKEY_BIT_AUTOWEIGHT) || GetNBit(CKEY_BIT_BREAK) || GetNBit(CKEY_BIT_WEIGHTED);
  const bool custom = GetKeyPreset() == CKEYPRESET_CUSTOM;
  BaseDocument* doc = GetKeyDocument();
  if (preset == CKEYPRESET_CUSTOM) {
    if (!custom && doc != nullptr && g_hooks.restoreFromPresetSettings != nullptr)
      g_hooks.restoreFromPresetSettings(doc, this);
    return;
  }
  if (preset < CKEYPRESET_CLASSIC || preset > CKEYPRESET_AUTO_OVERSHOOTWEIGHTED) return;
  if (custom && doc != nullptr && g_hooks.copyToPresetSettings != nullptr)
    g_hooks.copyToPresetSettings(doc, this);
  SetInterpolation(curve, CINTERPOLATION_SPLINE);
  ChangeNBit(CKEY_BIT_AUTO, NBITCONTROL_SET);
  const bool slope = preset == CKEYPRESET_AUTO_OVERSHOOTWEIGHTED;
  SetAutomaticTangentMode(curve, slope ? CAUTOMODE_SLOPE : CAUTOMODE_CLASSIC);
  ChangeNBit(CKEY_BIT_PRESET, preset == CKEYPRESET_CLASSIC ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
  ChangeNBit(CKEY_BIT_OVERSHOOT,
             preset == CKEYPRESET_CLASSIC ? NBITCONTROL_CLEAR : NBITCONTROL_SET);
  ChangeNBit(CKEY_BIT_AUTOWEIGHT, NBITCONTROL_CLEAR);
  ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_CLEAR);
  ChangeNBit(CKEY_BIT_WEIGHTED, slope ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
  if (!slope && weighted) UnifyTangent();
}

// ---- quaternion interpolation ----

void CKey::SetQuatInterpolationI(CCurve* curve, ROTATIONINTERPOLATION value, bool propagate) {
  if (_quatInterpolation == value) return;
  CTrack* track = curve != nullptr ? curve->GetTrack() : nullptr;
  CCURVE which = CCURVE_CURVE;
  if (propagate && track != nullptr && track->GetObject() != nullptr &&
      track->FindCurve(curve, which) && track->GetDescriptionID()[0].dataType == DTYPE_VECTOR) {
    const DescLevel first = track->GetDescriptionID()[0];
    for (Int32 component = VECTOR_X; component <= VECTOR_Z; ++component) {
      CTrack* other =
          C_FindTrack(track->GetObject(), DescID(first, DescLevel(component, VALUETYPE_FLOAT, 0)));
      if (other == nullptr) continue;
      CCurve* c = other->GetCurve(which, false);
      if (c == nullptr || c == curve) continue;
      CKey* k = c->FindKey(_time, nullptr, FINDANIM_EXACT);
      if (k != nullptr) k->_quatInterpolation = value;
    }
  }
  _quatInterpolation = value;
}

// ---- parameters ----

bool CKey::GetDParameter(const DescID& id, GeData& out) {
  const Int32 first = id[0].id;
  switch (first) {
    case CKEY_TIME:
      out = GeData(_time);
      return true;
    case CKEY_VALUE: {
      if (_curve == nullptr) return false;
      CTrack* track = _curve->GetTrack();
      const CTRACKKIND kind = track != nullptr ? track->GetTrackKind() : CTRACKKIND_VALUE;
      if (kind == CTRACKKIND_SPECIAL) {
        _GeDebugBreak(__LINE__, kFile);
        return false;
      }
      if (kind == CTRACKKIND_DATA) {
        out = _data;
      } else {
        out = GeData(_value);
      }
      return true;
    }
    case CKEY_TIME_LEFT:
      out = GeData(_timeLeft);
      return true;
    case CKEY_TIME_RIGHT:
      out = GeData(_timeRight);
      return true;
    case CKEY_VALUE_LEFT:
      out = GeData(_valueLeft);
      return true;
    case CKEY_VALUE_RIGHT:
      out = GeData(_valueRight);
      return true;
    case CKEY_INTERPOLATION:
      out = GeData(Int32(_interpolation));
      return true;
    case CKEY_AUTOMODE:
      out = GeData(Int32(_autoMode));
      return true;
    case CKEY_PRESET:
      out = GeData(Int32(GetKeyPreset()));
      return true;
    case CKEY_QUATINTERPOLATION:
      out = GeData(Int32(_quatInterpolation));
      return true;
    default:
      break;
  }
  if (first >= CKEY_DATA_FIRST && first <= CKEY_DATA_LAST) {
    // A container value always holds its container.
    out = _data.GetType() == VALUETYPE_CONTAINER ? *_data.GetContainer()->GetData(first) : GeData();
    return true;
  }
  const Int32 bit = BitOfParam(first);
  if (bit >= 0) {
    out = GeData(Int32(GetNBit(bit) ? 1 : 0));
    return true;
  }
  return BaseList2D::GetDParameter(id, out);
}

bool CKey::SetBitParameter(Int32 bit, const GeData& value) {
  ChangeNBit(bit, value.GetInt32() != 0 ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
  return true;
}

bool CKey::SetDParameter(const DescID& id, const GeData& value) {
  if (_curve == nullptr) return false;
  CCurve* curve = _curve;
  const Int32 first = id[0].id;
  switch (first) {
    case CKEY_TIME: {
      const BaseTime t = value.GetTime();
      if (t == _time) return true;
      Int32 index = -1;
      if (curve->FindKey(_time, &index, FINDANIM_EXACT) != this) return false;
      if (curve->FindKey(t, nullptr, FINDANIM_EXACT) != nullptr) return false;
      curve->MoveKey(t, index, nullptr, false);
      return _curve == curve && _time == t;
    }
    case CKEY_VALUE: {
      CTrack* track = curve->GetTrack();
      const CTRACKKIND kind = track != nullptr ? track->GetTrackKind() : CTRACKKIND_VALUE;
      if (kind == CTRACKKIND_DATA) {
        SetGeData(curve, value);
      } else {
        SetValue(curve, value.GetFloat());
      }
      return true;
    }
    case CKEY_TIME_LEFT:
      SetTimeLeft(curve, value.GetTime());
      if (!GetNBit(CKEY_BIT_BREAK)) SetTimeRight(curve, Negated(_timeLeft));
      ChangeNBit(CKEY_BIT_EDITED, NBITCONTROL_CLEAR);
      return true;
    case CKEY_TIME_RIGHT:
      SetTimeRight(curve, value.GetTime());
      if (!GetNBit(CKEY_BIT_BREAK)) SetTimeLeft(curve, Negated(_timeRight));
      ChangeNBit(CKEY_BIT_EDITED, NBITCONTROL_CLEAR);
      return true;
    case CKEY_VALUE_LEFT:
      SetValueLeft(curve, value.GetFloat());
      if (!GetNBit(CKEY_BIT_BREAK)) SetValueRight(curve, -_valueLeft);
      ChangeNBit(CKEY_BIT_EDITED, NBITCONTROL_CLEAR);
      return true;
    case CKEY_VALUE_RIGHT:
      SetValueRight(curve, value.GetFloat());
      if (!GetNBit(CKEY_BIT_BREAK)) SetValueLeft(curve, -_valueRight);
      ChangeNBit(CKEY_BIT_EDITED, NBITCONTROL_CLEAR);
      return true;
    case CKEY_BREAK: {
      const bool on = value.GetInt32() != 0;
      const bool was = GetNBit(CKEY_BIT_BREAK);
      ChangeNBit(CKEY_BIT_BREAK, on ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
      if (was && !on) RejoinTangents();
      return true;
    }
    case CKEY_AUTO: {
      const bool on = value.GetInt32() != 0;
      if (on) {
        ChangeNBit(CKEY_BIT_BREAK, NBITCONTROL_CLEAR);
      } else {
        Float vl = 0, vr = 0;
        BaseTime tl, tr;
        curve->CalcSoftTangents(FindOwnIndex(), &vl, &vr, &tl, &tr);
        SetValueLeft(curve, vl);
        SetValueRight(curve, vr);
        SetTimeLeft(curve, tl);
        SetTimeRight(curve, tr);
      }
      ChangeNBit(CKEY_BIT_EDITED, NBITCONTROL_CLEAR);
      ChangeNBit(CKEY_BIT_AUTO, on ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
      return true;
    }
    case CKEY_INTERPOLATION:
      SetInterpolation(curve, CINTERPOLATION(value.GetInt32()));
      return true;
    case CKEY_AUTOMODE:
      SetAutomaticTangentMode(curve, CAUTOMODE(value.GetInt32()));
      return true;
    case CKEY_WEIGHTED: {
      const bool on = value.GetInt32() != 0;
      if (!on && !GetNBit(CKEY_BIT_AUTO) && !GetNBit(CKEY_BIT_BREAK)) UnifyTangent();
      ChangeNBit(CKEY_BIT_WEIGHTED, on ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
      return true;
    }
    case CKEY_OVERSHOOT: {
      const bool on = value.GetInt32() != 0;
      if (!on) {
        Float vl = _valueLeft, vr = _valueRight;
        BaseTime tl = _timeLeft, tr = _timeRight;
        curve->CalcRemoveOvershoot(FindOwnIndex(), &vl, &vr, &tl, &tr);
        SetValueLeft(curve, vl);
        SetValueRight(curve, vr);
        SetTimeLeft(curve, tl);
        SetTimeRight(curve, tr);
      }
      ChangeNBit(CKEY_BIT_OVERSHOOT, on ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
      return true;
    }
    case CKEY_AUTOWEIGHT: {
      const bool on = value.GetInt32() != 0;
      if (on) {
        curve->AdjustTangentAutoWeight(FindOwnIndex());
      } else if (!GetNBit(CKEY_BIT_WEIGHTED)) {
        UnifyTangent();
      }
      ChangeNBit(CKEY_BIT_AUTOWEIGHT, on ? NBITCONTROL_SET : NBITCONTROL_CLEAR);
      return true;
    }
    case CKEY_PRESET:
      SetKeyPreset(curve, CKEYPRESET(value.GetInt32()));
      return true;
    case CKEY_QUATINTERPOLATION:
      SetQuatInterpolationI(curve, ROTATIONINTERPOLATION(value.GetInt32()), true);
      return true;
    default:
      break;
  }
  if (first >= CKEY_DATA_FIRST && first <= CKEY_DATA_LAST) {
    if (_data.GetType() != VALUETYPE_CONTAINER) {
      GeData fresh(BaseContainer{});
      if (fresh.GetType() != VALUETYPE_CONTAINER) return false;
      _data = std::move(fresh);
    }
    // A container value always holds its container.
    return _data.GetContainer()->SetData(first, value) != nullptr;
  }
  const Int32 bit = BitOfParam(first);
  if (bit >= 0) return SetBitParameter(bit, value);
  return BaseList2D::SetDParameter(id, value);
}

// ---- file ----

bool CKey::Write(HyperFile* hf) {
  if (!BaseList2D::Write(hf)) return false;
  return hf->WriteChunkStart(CHUNK_CKEY, kKeyChunkLevel) && hf->WriteTime(_time) &&
         hf->WriteTime(_timeLeft) && hf->WriteTime(_timeRight) && hf->WriteFloat(_value) &&
         hf->WriteFloat(_valueLeft) && hf->WriteFloat(_valueRight) &&
         hf->WriteInt32(_interpolation) && hf->WriteGeData(_data) && hf->WriteInt32(_autoMode) &&
         hf->WriteInt32(_quatInterpolation) && hf->WriteChunkEnd();
}

namespace {

ROTATIONINTERPOLATION QuatFromFile(Int32 quat) {
  return quat == ROTATIONINTERPOLATION_QUATERNION_CUBIC ? ROTATIONINTERPOLATION_QUATERNION_CUBIC
                                                        : ROTATIONINTERPOLATION_QUATERNION_SLERP;
}

// A plain key's chunks as a fixed run, for each byte order and float size (see
// HyperFileLayout), and the offsets of its members.
struct PlainKeyRun {
  HyperFileLayout layout;
  BaseList2D::PlainHeaderOffsets header;
  Int32 time, timeLeft, timeRight, value, valueLeft, valueRight, inter, mode, quat;

  PlainKeyRun(bool swap, bool float32) : layout(swap, float32) {
    BaseList2D::AddPlainHeader(&layout, &header);
    layout.ChunkStart(CHUNK_CKEY, kKeyChunkLevel);
    time = layout.TimeAt();
    timeLeft = layout.TimeAt();
    timeRight = layout.TimeAt();
    value = layout.FloatAt();
    valueLeft = layout.FloatAt();
    valueRight = layout.FloatAt();
    inter = layout.Int32At();
    layout.Int32Is(VALUETYPE_NIL);
    mode = layout.Int32At();
    quat = layout.Int32At();
    layout.ChunkEnd();
    layout.ChunkEnd();
  }
};

const PlainKeyRun& PlainKeyRunFor(bool swap, bool float32) {
  static const PlainKeyRun runs[4] = {{false, false}, {false, true}, {true, false}, {true, true}};
  return runs[(swap ? 2 : 0) + (float32 ? 1 : 0)];
}

// A plain key's members.
struct PlainKeyValues {
  BaseTime time, timeLeft, timeRight;
  Float value = 0.0, valueLeft = 0.0, valueRight = 0.0;
  Int32 inter = 0, mode = 0, quat = 0;
};

// The members of a run Match found, decoded as HyperFileSpan's ...At decoders do, for one byte
// order and float size fixed at compile time: the run's ten numbers without a test of either
// per number.
template <bool kSwap, bool kFloat32>
void DecodePlainKey(const UChar* run, const PlainKeyRun& at, PlainKeyValues* v) {
  using hyperfile_bytes::LoadRaw;
  auto number = [run](Int32 offset) {
    if (kFloat32) return Float(hyperfile_bytes::F32FromBits(LoadRaw<UInt32>(run + offset, kSwap)));
    return hyperfile_bytes::F64FromBits(LoadRaw<UInt64>(run + offset, kSwap));
  };
  auto time = [&number](Int32 offset) {
    return BaseTime(number(offset), number(offset + (kFloat32 ? 4 : 8)));
  };
  auto whole = [run](Int32 offset) { return Int32(LoadRaw<UInt32>(run + offset, kSwap)); };
  v->time = time(at.time);
  v->timeLeft = time(at.timeLeft);
  v->timeRight = time(at.timeRight);
  v->value = number(at.value);
  v->valueLeft = number(at.valueLeft);
  v->valueRight = number(at.valueRight);
  v->inter = whole(at.inter);
  v->mode = whole(at.mode);
  v->quat = whole(at.quat);
}

void DecodePlainKey(bool swap, bool float32, const UChar* run, const PlainKeyRun& at,
                    PlainKeyValues* v) {
  if (swap) {
    float32 ? DecodePlainKey<true, true>(run, at, v) : DecodePlainKey<true, false>(run, at, v);
  } else {
    float32 ? DecodePlainKey<false, true>(run, at, v) : DecodePlainKey<false, false>(run, at, v);
  }
}

}  // namespace

bool CKey::ReadPlain(HyperFile* hf) {
  if (!MayReadNested(hf)) return false;
  HyperFileSpan span(hf);
  PlainHeader header;
  PlainKeyValues v;
  Int32 dataType = 0;
  const PlainKeyRun& fixed = PlainKeyRunFor(span.IsSwapped(), span.IsFloat32());
  if (const UChar* run = hf->Before12() ? nullptr : span.Match(fixed.layout)) {
    // The layout this library writes, checked whole at once.
    PlainHeaderAt(span, run, fixed.header, &header);
    DecodePlainKey(span.IsSwapped(), span.IsFloat32(), run, fixed, &v);
  } else if (!ReadPlainHeader(hf, &span, &header) || !span.ChunkStart(CHUNK_CKEY, kKeyChunkLevel) ||
             !span.TimeValue(&v.time) || !span.TimeValue(&v.timeLeft) ||
             !span.TimeValue(&v.timeRight) || !span.FloatValue(&v.value) ||
             !span.FloatValue(&v.valueLeft) || !span.FloatValue(&v.valueRight) ||
             !span.Int32Value(&v.inter) || !span.Int32Value(&dataType) ||
             dataType != VALUETYPE_NIL || !span.Int32Value(&v.mode) || !span.Int32Value(&v.quat) ||
             !span.ChunkEnd() || !span.ChunkEnd()) {
    return false;
  }
  span.Commit();
  TakePlainHeader(header);
  _time = v.time;
  _timeLeft = v.timeLeft;
  _timeRight = v.timeRight;
  _value = v.value;
  _valueLeft = v.valueLeft;
  _valueRight = v.valueRight;
  _interpolation = CINTERPOLATION(v.inter);
  _autoMode = CAUTOMODE(v.mode);
  _quatInterpolation = QuatFromFile(v.quat);
  return true;
}

bool CKey::ReadKeyChunk(HyperFile* hf, Int32 level) {
  Int32 inter = 0;
  if (!hf->ReadTime(&_time) || !hf->ReadTime(&_timeLeft) || !hf->ReadTime(&_timeRight) ||
      !hf->ReadFloat(&_value) || !hf->ReadFloat(&_valueLeft) || !hf->ReadFloat(&_valueRight) ||
      !hf->ReadInt32(&inter)) {
    return false;
  }
  _interpolation = CINTERPOLATION(inter);
  Int32 mode = _autoMode;
  if (level == 2) {
    if (!hf->ReadInt32(&mode) || !hf->ReadGeData(&_data)) return false;
  } else {
    if (!hf->ReadGeData(&_data)) return false;
    if (level > 2 && !hf->ReadInt32(&mode)) return false;
    if (level >= 4) {
      Int32 quat = 0;
      if (!hf->ReadInt32(&quat)) return false;
      _quatInterpolation = QuatFromFile(quat);
    }
  }
  _autoMode = CAUTOMODE(mode);
  if (level == 0) {
    if (GetNBit(CKEY_BIT_ZEROVALUES)) _valueLeft = _valueRight = 0.0;
    if (GetNBit(CKEY_BIT_ZEROTANGENTS)) {
      _valueLeft = _valueRight = 0.0;
      _timeLeft = BaseTime();
      _timeRight = BaseTime();
    }
    GeListNode::ChangeNBit(CKEY_BIT_ZEROVALUES, NBITCONTROL_CLEAR);
    GeListNode::ChangeNBit(CKEY_BIT_ZEROTANGENTS, NBITCONTROL_CLEAR);
  }
  return true;
}

bool CKey::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList2D::HandleSubChunk(hf, id, level)) return true;
  if (id != CHUNK_CKEY) return false;
  if (level >= 0 && !ReadKeyChunk(hf, level)) return false;
  return hf->SkipToEndChunk();
}

}  // namespace lumora
