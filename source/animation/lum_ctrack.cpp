// CTrack: description ids, curves, parameters, copies and the track chunks; the typed track
// operations of BaseList2D (see lum_ctrack.h).
#include "animation/lum_ctrack.h"

#include "animation/lum_rootctrack.h"
#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kTrackChunkLevel = 3;
constexpr Int32 kCurveChunkLevel = 3;
constexpr Int32 kTimeTrackId = -1;
constexpr Int32 kPlainIdLimit = 10;
// The further curves that always have an object in the curve chunk, and the order of the ones
// that are written behind a Bool.
constexpr Int32 kAlwaysWritten[] = {2, 3, 4};
constexpr Int32 kOptional[] = {5, 6, 7, 8, 10, 9};
constexpr Int32 kScratchCurvesOfLevel2 = 8;

bool IsSpecialId(Int32 id) {
  for (Int32 s : CTRACK_SPECIAL_IDS)
    if (s == id) return true;
  return false;
}

// The track list is created by the node tree when a node first needs one: installed when this
// family is part of the program.
struct TrackListInstaller {
  TrackListInstaller() {
    GeSetAttachedListAllocator(ATTACHEDLIST_TRACKS,
                               [] { return static_cast<RootList2D*>(RootCTrack::Alloc()); });
  }
};
TrackListInstaller g_installer;

}  // namespace

// ---- BaseList2D's typed track operations ----

CTrack* BaseList2D::GetFirstCTrack() const {
  RootList2D* list = ListAt(ATTACHEDLIST_TRACKS);
  return list != nullptr ? static_cast<CTrack*>(list->GetFirst()) : nullptr;
}

CTrack* BaseList2D::FindCTrack(const DescID& id) const {
  return static_cast<CTrack*>(_FindTrack(id));
}

bool BaseList2D::InsertTrackSorted(CTrack* track) {
  if (track == nullptr || track->GetListHead() != nullptr) return false;
  if (!_InsertTrackSorted(track)) return false;
  track->SetObject(this);
  return true;
}

CTrack* C_FindTrack(BaseList2D* node, const DescID& id, CTrack*) {
  if (node == nullptr || id.GetDepth() == 0) return nullptr;
  return node->FindCTrack(id);
}

// ---- life ----

CTrack::CTrack(Int32 nodeId) : BaseList2D(nodeId) { _main.SetTrack(this); }

CTrack::~CTrack() {
  for (CCurve*& c : _further) DeleteObj(c);
  Remove();
}

CTrack* CTrack::Alloc(BaseList2D* owner, const DescID& id, const String& name) {
  if (owner == nullptr) return nullptr;
  const bool special = IsSpecialId(id[0].id);
  CTrack* track = NewObj<CTrack>(special ? TYPE_CTRACK_SPECIAL : TYPE_CTRACK);
  if (track == nullptr) return nullptr;
  if (special) track->_specialType = id[0].id;
  track->SetName(name);
  track->SetDescriptionID(owner, id);
  if (track->_descId.GetCount() < id.GetDepth()) Free(track);  // the levels could not be copied
  return track;
}

void CTrack::Free(CTrack*& track) { DeleteObj(track); }

bool CTrack::IsInstanceOf(Int32 id) const {
  return id == 0 || id == TYPE_BASELIST2D || id == TYPE_CTRACK || id == BaseList2D::GetType() ||
         id == GetType();
}

Int32 CTrack::GetType() const {
  const Int32 node = BaseList2D::GetType();
  return node == TYPE_CTRACK_SPECIAL ? _specialType : node;
}

GeListNode* CTrack::GetClone(COPYFLAGS flags, AliasTrans* trans) {
  CTrack* track = NewObj<CTrack>(BaseList2D::GetType());
  if (track == nullptr) return nullptr;
  if (!CopyTo(track, flags, trans)) Free(track);
  return track;
}

BaseDocument* CTrack::GetTrackDocument() const {
  if (GetDocument() != nullptr) return GetDocument();
  return _object != nullptr ? _object->GetDocument() : nullptr;
}

// ---- description id and curves ----

void CTrack::SetDescriptionID(BaseList2D*, const DescID& id) {
  _kind = CTRACKKIND_UNSET;
  _cachedIndex = -1;
  if (BaseList2D::GetType() == TYPE_CTRACK_SPECIAL) {
    _kind = CTRACKKIND_SPECIAL;
    _descId = id;
    return;
  }
  if (id == DescID(DescLevel(kTimeTrackId, 0, 0))) {
    _descId = DescID(DescLevel(kTimeTrackId, VALUETYPE_FLOAT, 0));
    _kind = CTRACKKIND_VALUE;
    SetName(String("Time Track"));
    return;
  }
  _descId = id;
  const Int32 lastType = id[-1].dataType;
  if (id[0].id <= kPlainIdLimit) {
    _kind = lastType == VALUETYPE_FLOAT ? CTRACKKIND_VALUE : CTRACKKIND_DATA;
  } else {
    _kind = lastType == VALUETYPE_STRING ? CTRACKKIND_DATA : CTRACKKIND_VALUE;
  }
}

CCurve* CTrack::GetCurve(CCURVE which, bool create) {
  if (which < CCURVE_FURTHER_FIRST || which > CCURVE_FURTHER_LAST) {
    _main.SetTrack(this);
    return &_main;
  }
  CCurve*& c = _further[which - CCURVE_FURTHER_FIRST];
  if (c == nullptr && create) {
    c = NewObj<CCurve>();
    if (c != nullptr) c->SetTrack(this);
  }
  return c;
}

bool CTrack::FindCurve(const CCurve* curve, CCURVE& which) const {
  if (curve == nullptr) return false;
  if (curve == &_main) {
    which = CCURVE_CURVE;
    return true;
  }
  for (Int32 v = CCURVE_FURTHER_FIRST; v <= CCURVE_FURTHER_LAST; ++v) {
    if (_further[v - CCURVE_FURTHER_FIRST] == curve) {
      which = CCURVE(v);
      return true;
    }
  }
  return false;
}

// ---- parameters ----

bool CTrack::GetDParameter(const DescID& id, GeData& out) {
  switch (id[0].id) {
    case CTRACK_ON:
      out = GeData(Int32(GetBit(CTRACK_BIT_OFF) ? 0 : 1));
      return true;
    case CTRACK_SOLO:
      out = GeData(Int32(GetBit(CTRACK_BIT_SOLO) ? 1 : 0));
      return true;
    case CTRACK_LINK:
      out = GeData(_link);
      return true;
    case CTRACK_SETTING_A:
      out = GeData(_settingA);
      return true;
    case CTRACK_SETTING_B:
      out = GeData(_settingB);
      return true;
    default:
      return BaseList2D::GetDParameter(id, out);
  }
}

bool CTrack::SetDParameter(const DescID& id, const GeData& value) {
  switch (id[0].id) {
    case CTRACK_ON:
      if (value.GetInt32() != 0) {
        DelBit(CTRACK_BIT_OFF);
      } else {
        SetBit(CTRACK_BIT_OFF);
      }
      return true;
    case CTRACK_SOLO: {
      if (value.GetInt32() != 0) {
        SetBit(CTRACK_BIT_SOLO);
      } else {
        DelBit(CTRACK_BIT_SOLO);
      }
      BaseDocument* doc = GetTrackDocument();
      if (doc == nullptr) return false;
      const AnimationDocumentHooks& hooks = GetAnimationDocumentHooks();
      if (hooks.notify != nullptr) {
        hooks.notify(doc, 31);
        hooks.notify(doc, 31);
      }
      return true;
    }
    case CTRACK_LINK: {
      const BaseLink* link = value.GetBaseLink();
      if (link == nullptr) {
        _link.Clear();
        return true;
      }
      return link->CopyData(&_link, nullptr);
    }
    case CTRACK_SETTING_A:
      _settingA = value.GetInt32();
      return true;
    case CTRACK_SETTING_B:
      _settingB = value.GetInt32();
      return true;
    case CTRACK_LOCKED:
      if (value.GetInt32() != 0) {
        SetBit(CTRACK_BIT_LOCKED);
      } else {
        DelBit(CTRACK_BIT_LOCKED);
      }
      return true;
    default:
      return BaseList2D::SetDParameter(id, value);
  }
}

// ---- copying ----

bool CTrack::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!BaseList2D::CopyToX(dest, flags, trans)) return false;
  CTrack* d = static_cast<CTrack*>(dest);
  if (d == this) return true;
  d->_descId = _descId;
  if (d->_descId.GetCount() < _descId.GetDepth()) return false;
  d->_kind = _kind;
  d->_settingA = _settingA;
  d->_settingB = _settingB;
  for (Int32 i = 0; i < 4; ++i) d->_reserved[i] = _reserved[i];
  d->_synchronized = _synchronized;
  d->_specialType = _specialType;
  d->_cachedIndex = -1;
  if (!_link.CopyData(&d->_link, trans)) return false;
  if ((flags & COPYFLAGS_NO_BRANCHES) != 0) return true;
  d->_main.FlushKeys(false);
  for (CCurve* c : d->_further)
    if (c != nullptr) c->FlushKeys(false);
  if (!_main.CopyToX(&d->_main, flags, trans)) return false;
  for (Int32 v = CCURVE_FURTHER_FIRST; v <= CCURVE_FURTHER_LAST; ++v) {
    CCurve* src = _further[v - CCURVE_FURTHER_FIRST];
    if (src == nullptr) continue;
    CCurve* dc = d->GetCurve(CCURVE(v), true);
    if (dc == nullptr || !src->CopyToX(dc, flags, trans)) return false;
  }
  return true;
}

// ---- writing ----

bool CTrack::WriteCurves(HyperFile* hf) {
  if (!hf->WriteChunkStart(CHUNK_CTRACK_CURVES, kCurveChunkLevel) ||
      !_main.WriteObject(hf, CHUNK_CCURVE)) {
    return false;
  }
  for (Int32 v : kAlwaysWritten) {
    CCurve* c = _further[v - CCURVE_FURTHER_FIRST];
    if (c != nullptr) {
      if (!c->WriteObject(hf, CHUNK_CCURVE)) return false;
    } else {
      // A missing curve is written as an empty one whose marker is all zero: readers drop
      // curves without keys, and writing the same track twice gives the same bytes.
      CCurve empty;
      empty.SetMarker(GeMarker());
      if (!empty.WriteObject(hf, CHUNK_CCURVE)) return false;
    }
  }
  for (Int32 v : kOptional) {
    CCurve* c = _further[v - CCURVE_FURTHER_FIRST];
    if (!hf->WriteBool(c != nullptr)) return false;
    if (c != nullptr && !c->WriteObject(hf, CHUNK_CCURVE)) return false;
  }
  return hf->WriteChunkEnd();
}

bool CTrack::Write(HyperFile* hf) {
  if (!BaseList2D::Write(hf)) return false;
  if (BaseList2D::GetType() == TYPE_CTRACK_SPECIAL) {
    if (!hf->WriteChunkStart(CHUNK_CTRACK_SPECIAL, GetChunkLevel()) ||
        !hf->WriteInt32(_specialType) || !hf->WriteInt32(0) || !hf->WriteString(GetName()) ||
        !hf->WriteChunkEnd()) {
      return false;
    }
  }
  if (!WriteCurves(hf)) return false;
  if (!hf->WriteChunkStart(CHUNK_CTRACK_DATA, kTrackChunkLevel) || !hf->WriteInt32(_settingA) ||
      !hf->WriteInt32(_settingB) || !_link.Write(hf) || !_descId.Write(hf) ||
      !hf->WriteInt32(_kind)) {
    return false;
  }
  for (Int32 r : _reserved)
    if (!hf->WriteInt32(r)) return false;
  return hf->WriteBool(_synchronized) && hf->WriteChunkEnd();
}

// ---- reading ----

bool CTrack::ReadFurtherCurve(HyperFile* hf, Int32 which) {
  CCurve* c = GetCurve(CCURVE(which), true);
  if (c == nullptr) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  const bool ok = c->ReadObject(hf, true);
  if (c->GetKeyCount() == 0 && c->GetKeyList()->GetFirst() == nullptr)
    DeleteObj(_further[which - CCURVE_FURTHER_FIRST]);
  return ok;
}

bool CTrack::ReadCurves(HyperFile* hf, Int32 level) {
  if (!_main.ReadObject(hf, true)) return false;
  if (!ReadFurtherCurve(hf, 2) || !ReadFurtherCurve(hf, 3)) return false;
  if (level == 0) return true;
  if (!ReadFurtherCurve(hf, 4)) return false;
  if (level == 1) return true;
  if (level == 2) {
    for (Int32 i = 0; i < kScratchCurvesOfLevel2; ++i) {
      CCurve scratch;
      if (!scratch.ReadObject(hf, true)) return false;
    }
    return true;
  }
  for (Int32 v : kOptional) {
    bool present = false;
    if (!hf->ReadBool(&present)) return false;
    if (present && !ReadFurtherCurve(hf, v)) return false;
  }
  return true;
}

bool CTrack::ReadData(HyperFile* hf, Int32 level) {
  if (!hf->ReadInt32(&_settingA) || !hf->ReadInt32(&_settingB) || !_link.Read(hf) ||
      !_descId.Read(hf)) {
    return false;
  }
  _cachedIndex = -1;
  if (level > 0) {
    Int32 kind = 0;
    if (!hf->ReadInt32(&kind)) return false;
    _kind = CTRACKKIND(kind);
  }
  if (level >= 2) {
    for (Int32& r : _reserved)
      if (!hf->ReadInt32(&r)) return false;
  }
  if (level > 2 && !hf->ReadBool(&_synchronized)) return false;
  return true;
}

bool CTrack::HandleSubChunk(HyperFile* hf, Int32 id, Int32 level) {
  if (BaseList2D::HandleSubChunk(hf, id, level)) return true;
  switch (id) {
    case CHUNK_CTRACK_SPECIAL: {
      String name;
      if (!hf->ReadInt32(&_specialType) || !hf->ReadInt32(nullptr) || !hf->ReadString(&name))
        return false;
      SetName(name);
      return hf->SkipToEndChunk();
    }
    case CHUNK_CTRACK_DATA:
      return ReadData(hf, level) && hf->SkipToEndChunk();
    case CHUNK_CTRACK_CURVES:
      if (level >= 0 && !ReadCurves(hf, level)) return false;
      return hf->SkipToEndChunk();
    default:
      return false;
  }
}

}  // namespace lumora
