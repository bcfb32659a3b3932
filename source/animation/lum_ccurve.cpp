// CCurve: the key index, key moves, flushes, tangent computations and the curve chunk (see
// lum_ccurve.h).
#include "animation/lum_ccurve.h"

#include <algorithm>
#include <cmath>

#include "animation/lum_ctrack.h"
#include "lum_debug.h"
#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr const Char* kFile = "source/lum_ccurve";
// The single-precision 1.3, widened: how far a tangent may reach towards a neighbour's value.
constexpr Float kOvershootReach = 1.2999999523162842;
constexpr Float kFractionDenominator = 2500000.0;

// Built before main, so that the searches test no guard of a local static.
const BaseTime kWindowLow(-CCURVE_TIME_LIMIT);
const BaseTime kWindowHigh(CCURVE_TIME_LIMIT);

const BaseTime& WindowLow() { return kWindowLow; }

const BaseTime& WindowHigh() { return kWindowHigh; }

// A tangent time of span seconds scaled by factor: from seconds for mode 1, else a fraction
// over 2500000.
BaseTime TangentTime(Float factor, Float span, CAUTOMODE mode) {
  if (mode == CAUTOMODE_CLASSIC) return BaseTime(factor * span);
  return BaseTime(factor * span * kFractionDenominator, kFractionDenominator);
}

// The factor that keeps a tangent reaching g short of the neighbour offsets a and b.
Float OvershootFactor(Float g, Float a, Float b) {
  Float h = 1.0;
  if (g >= 0.0) {
    if (0.0 < a && a < g) h = a / g;
    if (0.0 < b && b < g) h = b / g;
  } else {
    if (g < a && a < 0.0) h = a / g;
    if (g < b && b < 0.0) h = b / g;
  }
  return h;
}

// BaseTime's order as one three-way comparison (negative, 0, positive): equal when both parts
// are, otherwise floor(p * s) against floor(r * q) for p/q against r/s. A BaseTime's members are
// whole, so are their products, and the floors are left out.
inline Int32 Order(const BaseTime& a, const BaseTime& b) {
  if (a.GetNumerator() == b.GetNumerator() && a.GetDenominator() == b.GetDenominator()) return 0;
  const Float left = a.GetNumerator() * b.GetDenominator();
  const Float right = b.GetNumerator() * a.GetDenominator();
  return left < right ? -1 : (left > right ? 1 : 0);
}

}  // namespace

bool _CCurveTimeInWindow(const BaseTime& t) {
  // A time whose whole members put it more than a unit of its denominator inside the window is
  // in it by the exact comparison too (the products stay exact below 2^39); the rest compare.
  const Float q = t.GetDenominator();
  if (q >= 1.0 && q < 549755813888.0 && std::fabs(t.GetNumerator()) < CCURVE_TIME_LIMIT * q - 1.0)
    return true;
  return !(t < WindowLow()) && !(t > WindowHigh());
}

// ---- life ----

CCurve::CCurve() : BaseList2D(TYPE_CCURVE) { _keys.SetOwner(this); }

GeListNode* CCurve::GetHolder() const { return _track; }

CCurve::~CCurve() { FlushKeys(false); }

bool CCurve::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_BASELIST2D || id == TYPE_CCURVE;
}

// ---- the two views ----

CKey* CCurve::FindKey(const BaseTime& t, Int32* index, FINDANIM mode) {
  return const_cast<CKey*>(static_cast<const CCurve*>(this)->FindKey(t, index, mode));
}

void CCurve::IndexInsert(Int32 at, CKey* key) {
  // Cannot fail: the callers made room (MakeRoom) or freed a slot.
  _index.Insert(at, IndexEntry{key->GetTime(), key});
}

const CKey* CCurve::FindKey(const BaseTime& t, Int32* index, FINDANIM mode) const {
  Int32 dummy = 0;
  if (index == nullptr) index = &dummy;
  *index = -1;
  const Int32 count = _index.GetCount();
  if (count == 0) return nullptr;
  const IndexEntry* e = _index.GetArray();
  const Int32 toFirst = Order(t, e[0].time);
  if (toFirst == 0) {
    *index = 0;
    return e[0].key;
  }
  const Int32 toLast = Order(t, e[count - 1].time);
  if (toLast == 0) {
    *index = count - 1;
    return e[count - 1].key;
  }
  if (toFirst < 0) {
    if (mode != FINDANIM_RIGHT) return nullptr;
    *index = 0;
    return e[0].key;
  }
  if (toLast > 0) {
    if (mode != FINDANIM_LEFT) return nullptr;
    *index = count - 1;
    return e[count - 1].key;
  }
  Int32 lo = 0, hi = count - 1, mid = 0, order = 0;
  for (;;) {
    mid = (lo + hi) / 2;
    // The entries both possible next steps probe are fetched while this one waits for its own:
    // in a large index they are seldom in the cache.
    __builtin_prefetch(&e[(lo + mid - 1) / 2]);
    __builtin_prefetch(&e[(mid + 1 + hi) / 2]);
    order = Order(t, e[mid].time);
    if (order == 0) {
      *index = mid;
      return e[mid].key;
    }
    if (order < 0) {
      if (lo >= mid) break;
      hi = mid - 1;
    } else {
      if (mid >= hi) break;
      lo = mid + 1;
    }
  }
  if (lo + hi > 1 && order < 0) --mid;
  if (mode == FINDANIM_EXACT) return nullptr;
  const Int32 at = mode == FINDANIM_LEFT ? mid : mid + 1;
  if (at < 0 || at >= count) {
    _GeDebugBreak(__LINE__, kFile);
    return nullptr;
  }
  *index = at;
  return e[at].key;
}

CKey* CCurve::FindKeyFrom(const BaseTime& t, Int32 hint, Int32* index, FINDANIM mode) {
  return const_cast<CKey*>(static_cast<const CCurve*>(this)->FindKeyFrom(t, hint, index, mode));
}

const CKey* CCurve::FindKeyFrom(const BaseTime& t, Int32 hint, Int32* index, FINDANIM mode) const {
  const Int32 count = _index.GetCount();
  if (count == 0) return FindKey(t, index, mode);
  const IndexEntry* e = _index.GetArray();
  const Int32 from = std::min(std::max(hint, 0), count - 1);
  // at: the last position whose time is at or before t (-1 when none), found by steps that
  // double away from the hint until they pass t, then halving between the last two.
  Int32 below, above;  // Order(t, e[below]) >= 0 (or below = -1), Order(t, e[above]) < 0 (or count)
  if (Order(t, e[from].time) >= 0) {
    below = from;
    above = from + 1;
    for (Int32 step = 1; above < count && Order(t, e[above].time) >= 0; step *= 2) {
      below = above;
      above = step < count - below ? below + step : count;
    }
  } else {
    above = from;
    below = from - 1;
    for (Int32 step = 1; below >= 0 && Order(t, e[below].time) < 0; step *= 2) {
      above = below;
      below = step <= above ? above - step : -1;
    }
  }
  while (above - below > 1) {
    const Int32 mid = below + (above - below) / 2;
    if (Order(t, e[mid].time) >= 0) {
      below = mid;
    } else {
      above = mid;
    }
  }
  const Int32 at = below;
  if (at >= 0 && Order(t, e[at].time) == 0) {
    if ((at > 0 && Order(t, e[at - 1].time) == 0)) return FindKey(t, index, mode);
    if (index != nullptr) *index = at;
    return e[at].key;
  }
  Int32 found = -1;
  if (mode == FINDANIM_LEFT) found = at;
  if (mode == FINDANIM_RIGHT && at + 1 < count) found = at + 1;
  if (index != nullptr) *index = found;
  return found >= 0 ? e[found].key : nullptr;
}

void CCurve::Unlink(Int32 index) {
  CKey* key = _index[index].key;
  _index.Erase(index);
  key->Remove();
  key->_curve = nullptr;
}

Int32 CCurve::MoveKey(const BaseTime& t, Int32 index, CCurve* dest, bool) {
  if (dest == nullptr) dest = this;
  if (t < WindowLow() || t > WindowHigh()) return -1;
  if (index < 0 || index >= _index.GetCount() || _index[index].key == nullptr) return -1;
  // The room in dest's index first, so that a failure leaves both curves as they were.
  if (dest != this && !dest->MakeRoom()) return -1;
  CKey* key = _index[index].key;
  Unlink(index);
  Int32 i = -1;
  CKey* found = dest->FindKey(t, &i, FINDANIM_LEFT);
  while (found != nullptr && found->GetTime() == t) {
    _GeDebugBreak(__LINE__, kFile);
    dest->Unlink(i);
    CKey::Free(found);
    found = dest->FindKey(t, &i, FINDANIM_LEFT);
  }
  key->_time = t;
  dest->IndexInsert(i + 1, key);
  dest->_keys.InsertAfter(key, found);
  key->_curve = dest;
  return i;
}

CKey* CCurve::AddKey(const BaseTime& t) {
  if (t < WindowLow() || t > WindowHigh()) return nullptr;
  Int32 i = -1;
  CKey* found = FindKey(t, &i, FINDANIM_LEFT);
  if (found != nullptr && found->GetTime() == t) return found;
  if (!MakeRoom()) return nullptr;
  CKey* key = CKey::Alloc();
  if (key == nullptr) return nullptr;
  key->_time = t;
  key->_curve = this;
  IndexInsert(i + 1, key);
  _keys.InsertAfter(key, found);
  return key;
}

bool CCurve::DelKey(Int32 index) {
  if (index < 0 || index >= _index.GetCount()) return false;
  CKey* key = _index[index].key;
  Unlink(index);
  CKey::Free(key);
  return true;
}

void CCurve::FlushKeys(bool propagate) {
  if (propagate && _track != nullptr && _track->IsSynchronized()) {
    CCURVE which = CCURVE_CURVE;
    BaseList2D* node = _track->GetObject();
    const DescLevel first = _track->GetDescriptionID()[0];
    if (!_track->FindCurve(this, which) || node == nullptr || first.dataType != DTYPE_VECTOR)
      return;
    for (Int32 component = VECTOR_X; component <= VECTOR_Z; ++component) {
      CTrack* track = C_FindTrack(node, DescID(first, DescLevel(component, VALUETYPE_FLOAT, 0)));
      if (track == nullptr) continue;
      CCurve* curve = track->GetCurve(which, true);
      if (curve != nullptr) curve->FlushKeys(false);
    }
    return;
  }
  for (IndexEntry& e : _index) e.key->_curve = nullptr;
  _index.Flush();
  // The list owns every key, those beyond the index's window too.
  _keys.FlushAll();
}

bool CCurve::_LoadKeysHack() {
  _index.Flush();
  bool sorted = true;
  for (GeListNode* m = _keys.GetFirst(); m != nullptr; m = m->GetNext()) {
    CKey* key = static_cast<CKey*>(m);
    key->_curve = this;
    if (!_CCurveTimeInWindow(key->GetTime())) continue;
    const Int32 n = _index.GetCount();
    if (n > 0 && Order(_index[n - 1].time, key->GetTime()) >= 0) sorted = false;
    if (!MakeRoom()) return false;
    IndexInsert(n, key);
  }
  // A file whose keys are out of order still gives an index that binary search can use; the
  // list, and so what is written, keeps the file's order.
  // Heapsort: it stays within the array whatever the comparisons of extreme fractions say.
  if (!sorted) {
    auto byTime = [](const IndexEntry& a, const IndexEntry& b) {
      return Order(a.time, b.time) < 0;
    };
    std::make_heap(_index.begin(), _index.end(), byTime);
    std::sort_heap(_index.begin(), _index.end(), byTime);
  }
  return true;
}

// ---- neighbours and tangents ----

const CKey* CCurve::PrevNeighbour(Int32 index) const {
  for (Int32 i = index - 1; i >= 0; --i)
    if (!_index[i].key->GetNBit(CKEY_BIT_SKIPNEIGHBOUR)) return _index[i].key;
  return nullptr;
}

const CKey* CCurve::NextNeighbour(Int32 index) const {
  for (Int32 i = index + 1; i < _index.GetCount(); ++i)
    if (!_index[i].key->GetNBit(CKEY_BIT_SKIPNEIGHBOUR)) return _index[i].key;
  return nullptr;
}

void CCurve::CalcSoftTangents(Int32 index, Float* vl, Float* vr, BaseTime* tl, BaseTime* tr) const {
  *vl = *vr = 0.0;
  *tl = *tr = BaseTime();
  const CKey* key = GetKey(index);
  if (key == nullptr) return;
  const CKey* prev = PrevNeighbour(index);
  const CKey* next = NextNeighbour(index);
  if (prev == nullptr && next == nullptr) return;
  const Float t = key->GetTime().Get(), v = key->GetValue();
  const CAUTOMODE mode = key->GetAutomaticTangentMode();
  Float left = 0.0, right = 0.0;
  if (prev != nullptr && next != nullptr) {
    const Float tp = prev->GetTime().Get(), vp = prev->GetValue();
    const Float tn = next->GetTime().Get(), vn = next->GetValue();
    const Float dp = t - tp, dn = tn - t;
    const Float s = std::fabs(dp) + std::fabs(dn);
    const Float u = s != 0.0 ? std::fabs(dp) / s : 1.0;
    const Float w = 1.0 - u;
    const bool weighted = key->GetNBit(CKEY_BIT_WEIGHTED);
    if (mode == CAUTOMODE_SLOPE) {
      const Float delta = vn - vp;
      if (weighted) {
        *vl = -0.25 * u * delta;
        *vr = 0.25 * w * delta;
        left = dp;
        right = dn;
      } else {
        const Float b = std::min(std::min(dp, dn) * 2.0, (dp + dn) * 0.5);
        const Float d = dp != 0.0 ? (u * delta / dp) * b : 0.0;
        *vl = -0.25 * d;
        *vr = 0.25 * d;
        left = right = b;
      }
    } else {
      const Float f = (v - vp) * w + (vn - v) * u;
      const Float e = dp * w + dn * u;
      if (weighted) {
        const Float uu = u * 2.0 * e, hh = w * 2.0 * e;
        const Float slope = e != 0.0 ? f / e : 0.0;
        *vl = -0.25 * slope * uu;
        *vr = 0.25 * slope * hh;
        left = uu;
        right = hh;
      } else {
        *vl = -0.25 * f;
        *vr = 0.25 * f;
        left = right = e;
      }
    }
  } else {
    Float f, e;
    if (prev != nullptr) {
      f = v - prev->GetValue();
      e = t - prev->GetTime().Get();
    } else {
      f = next->GetValue() - v;
      e = next->GetTime().Get() - t;
    }
    *vl = -0.25 * f;
    *vr = 0.25 * f;
    left = right = e;
  }
  *tl = TangentTime(-0.25, left, mode);
  *tr = TangentTime(0.25, right, mode);
}

void CCurve::CalcRemoveOvershoot(Int32 index, Float* vl, Float* vr, BaseTime* tl,
                                 BaseTime* tr) const {
  const CKey* key = GetKey(index);
  if (key == nullptr) {
    *vl = *vr = 0.0;
    *tl = *tr = BaseTime();
    return;
  }
  const CKey* prev = PrevNeighbour(index);
  const CKey* next = NextNeighbour(index);
  if (prev != nullptr && next != nullptr) {
    const Float a = prev->GetValue() - key->GetValue();
    const Float b = next->GetValue() - key->GetValue();
    if ((a >= 0.0 && b >= 0.0) || (a <= 0.0 && b <= 0.0)) {
      *vl = *vr = 0.0;
      return;
    }
    const Float h = OvershootFactor(kOvershootReach * *vl, a, b);
    if (h != 1.0) {
      *vl *= h;
      *vr *= h;
    }
    const Float m = OvershootFactor(kOvershootReach * *vr, a, b);
    if (m != 1.0) {
      *vr *= m;
      *vl *= m;
    }
  } else if (prev != nullptr) {
    *vl = 0.0;
  } else if (next != nullptr) {
    *vr = 0.0;
  }
}

void CCurve::AdjustTangentAutoWeight(Int32 index) {
  CKey* key = GetKey(index);
  if (key == nullptr) return;
  const CKey* prev = PrevNeighbour(index);
  const CKey* next = NextNeighbour(index);
  const Float t = key->GetTime().Get();
  Float dl = 0.0, dr = 0.0, rl = 0.0, rr = 0.0;
  BaseTime newLeft, newRight;
  if (prev != nullptr) {
    dl = (prev->GetTime().Get() - t) * 0.25;
    rl = dl != 0.0 ? 100000.0 / dl : 0.0;
    if (key->GetValueLeft() < 0.0) rl = -rl;
    newLeft = BaseTime(dl * kFractionDenominator, kFractionDenominator);
  }
  if (next != nullptr) {
    dr = (next->GetTime().Get() - t) * 0.25;
    rr = dr != 0.0 ? 100000.0 / dr : 0.0;
    if (key->GetValueRight() < 0.0) rr = -rr;
    newRight = BaseTime(dr * kFractionDenominator, kFractionDenominator);
  }
  if (!key->GetNBit(CKEY_BIT_BREAK)) {
    const Float r = -dl < dr ? rr : rl;
    rl = rr = r;
  }
  if (prev != nullptr) {
    const Float candidate = dl * rl;
    if (key->SetTimeLeftAdjustValue(this, newLeft)) {
      if (std::fabs(key->GetValueLeft()) > std::fabs(candidate)) {
        key->SetValueLeft(this, candidate);
        key->SetTimeLeft(this, newLeft);
      }
    } else {
      key->SetTimeLeft(this, newLeft);
      key->SetValueLeft(this, candidate);
    }
  }
  if (next != nullptr) {
    const Float candidate = dr * rr;
    if (key->SetTimeRightAdjustValue(this, newRight)) {
      if (std::fabs(key->GetValueRight()) > std::fabs(candidate)) {
        key->SetValueRight(this, candidate);
        key->SetTimeRight(this, newRight);
      }
    } else {
      key->SetTimeRight(this, newRight);
      key->SetValueRight(this, candidate);
    }
  }
}

// ---- file ----

bool CCurve::Write(HyperFile* hf) {
  if (!BaseList2D::Write(hf)) return false;
  if (_keys.GetFirst() == nullptr) return true;
  return hf->WriteChunkStart(CHUNK_CCURVE_KEYS, 0) && _keys.Write(hf) && hf->WriteChunkEnd();
}

bool CCurve::ReadKeys(HyperFile* hf) {
  HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
  if (!hf->ReadValueHeader(&kind)) return false;
  FlushKeys(false);
  if (kind == HYPERFILEVALUE_CHUNKEND) return hf->ReadChunkEnd();
  if (kind != HYPERFILEVALUE_CHUNKSTART) {
    hf->SetError(FILEERROR_WRONG_VALUE);
    return false;
  }
  const bool read = hf->ReadChunkStart(nullptr, nullptr) && _keys.ReadChunk(hf, true, false);
  // The keys read so far are indexed also when the read failed, so that both views agree.
  if (!_LoadKeysHack()) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  return read && hf->SkipToEndChunk();
}

bool CCurve::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList2D::HandleSubChunk(hf, id, level)) return true;
  if (id != CHUNK_CCURVE_KEYS) return false;
  return ReadKeys(hf);
}

bool CCurve::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!BaseList2D::CopyToX(dest, flags, trans)) return false;
  if ((flags & COPYFLAGS_NO_BRANCHES) != 0) return true;
  CCurve* d = static_cast<CCurve*>(dest);
  if (d == this) return true;
  d->FlushKeys(false);
  for (GeListNode* m = _keys.GetFirst(); m != nullptr; m = m->GetNext()) {
    GeListNode* clone = m->GetClone(flags & ~COPYFLAGS_NO_CHILDREN, trans);
    if (clone == nullptr) {
      d->FlushKeys(false);  // no half copy: the destination ends without keys
      return false;
    }
    d->_keys.InsertLast(clone);
  }
  if (d->_LoadKeysHack()) return true;
  d->FlushKeys(false);
  return false;
}

}  // namespace lumora
