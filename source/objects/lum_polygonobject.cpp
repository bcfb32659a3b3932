// PolygonObject, PolygonObjectData and the n-gon records (see lum_polygonobject.h).
#include "objects/lum_polygonobject.h"

#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

constexpr Int32 kPolySelectionChunks[5] = {CHUNK_POLYSELECTION_A, CHUNK_POLYSELECTION_B,
                                           CHUNK_POLYSELECTION_C, CHUNK_POLYSELECTION_D,
                                           CHUNK_POLYSELECTION_E};
// The smallest file form of one value (a kind byte and four bytes).
constexpr Int64 kValueBytes = 5;

}  // namespace

// ---- Pgon ----

void Pgon::Free() {
  DeleteMem(values);
  count = 0;
}

bool Pgon::Set(const UInt32* src, Int32 n) {
  Free();
  if (src == nullptr || n <= 0) return true;
  values = static_cast<UInt32*>(MemAllocNC(Int64(n) * Int64(sizeof(UInt32))));
  if (values == nullptr) return false;
  std::memcpy(values, src, size_t(n) * sizeof(UInt32));
  count = n;
  return true;
}

bool Pgon::CopyFrom(const Pgon* src) {
  if (src == this) return true;
  if (src == nullptr) {
    Free();
    return true;
  }
  return Set(src->values, src->count);
}

// ---- NgonBase ----

NgonBase::~NgonBase() { FreeRecords(); }

NgonBase* NgonBase::Alloc() { return NewObj<NgonBase>(); }

void NgonBase::Free(NgonBase*& ngons) { DeleteObj(ngons); }

void NgonBase::FreeRecords() {
  for (Int32 i = 0; i < _count; ++i) _records[i].Free();
  DeleteMem(_records);
  _count = 0;
}

bool NgonBase::Resize(Int32 n) {
  if (n == _count) return true;
  if (n <= 0) {
    FreeRecords();
    return true;
  }
  Pgon* grown = static_cast<Pgon*>(MemAlloc(Int64(n) * Int64(sizeof(Pgon))));
  if (grown == nullptr) return false;
  const Int32 keep = n < _count ? n : _count;
  for (Int32 i = 0; i < keep; ++i) grown[i] = _records[i];
  for (Int32 i = keep; i < _count; ++i) _records[i].Free();
  DeleteMem(_records);
  _records = grown;
  _count = n;
  return true;
}

bool NgonBase::Write(HyperFile* hf) const {
  if (_count <= 0) return true;
  if (!hf->WriteChunkStart(CHUNK_NGONS, NGON_CHUNK_LEVEL) || !hf->WriteInt32(_count)) return false;
  for (Int32 i = 0; i < _count; ++i) {
    const Pgon& p = _records[i];
    if (!hf->WriteInt32(p.count)) return false;
    for (Int32 k = 0; k < p.count; ++k)
      if (!hf->WriteUInt32(p.values[k])) return false;
  }
  return hf->WriteChunkEnd();
}

bool NgonBase::Read(HyperFile* hf, Int32 id, Int32 level) {
  if (id != CHUNK_NGONS) return false;
  FreeRecords();
  if (level == NGON_CHUNK_LEVEL) {
    Int32 count = 0;
    if (!hf->ReadInt32(&count)) return false;
    // A record takes at least its count value; a negative count is no record count.
    if (count < 0) {
      hf->SetError(FILEERROR_WRONG_VALUE);
      return false;
    }
    if (count != 0) {
      if (!hf->CheckRemaining(Int64(count) * kValueBytes)) return false;
      if (!Resize(count)) {
        hf->SetError(FILEERROR_OUTOFMEMORY);
        return false;
      }
      for (Int32 i = 0; i < count; ++i) {
        Int32 n = 0;
        if (!hf->ReadInt32(&n)) return false;
        if (n < 0) {
          hf->SetError(FILEERROR_WRONG_VALUE);
          return false;
        }
        if (n == 0) continue;
        if (!hf->CheckRemaining(Int64(n) * kValueBytes)) return false;
        Pgon& p = _records[i];
        p.values = static_cast<UInt32*>(MemAlloc(Int64(n) * Int64(sizeof(UInt32))));
        if (p.values == nullptr) {
          hf->SetError(FILEERROR_OUTOFMEMORY);
          return false;
        }
        p.count = n;
        for (Int32 k = 0; k < n; ++k)
          if (!hf->ReadUInt32(&p.values[k])) return false;
      }
    }
  }
  return hf->SkipToEndChunk();
}

bool NgonBase::CopyTo(NgonBase* dest) const {
  if (dest == this) return true;
  dest->FreeRecords();
  if (_count <= 0) return true;
  if (!dest->Resize(_count)) return false;
  for (Int32 i = 0; i < _count; ++i)
    if (!dest->_records[i].CopyFrom(&_records[i])) return false;
  return true;
}

// ---- PolygonObjectData ----

bool PolygonObjectData::Write(HyperFile* hf) {
  if (!PointObjectData::Write(hf)) return false;
  for (Int32 i = 0; i < 5; ++i)
    if (!WriteSelection(hf, kPolySelectionChunks[i], _select[i])) return false;
  return _ngons == nullptr || _ngons->Write(hf);
}

bool PolygonObjectData::Read(HyperFile* hf, Int32 id, Int32 level) {
  if (PointObjectData::Read(hf, id, level)) return true;
  if (hf->GetError() != FILEERROR_NONE) return false;
  for (Int32 i = 0; i < 5; ++i)
    if (id == kPolySelectionChunks[i]) return ReadSelection(hf, _select[i]);
  if (id != CHUNK_NGONS) return false;
  if (_ngons == nullptr) {
    _ngons = NgonBase::Alloc();
    if (_ngons == nullptr || !_ngons->Resize(1)) {
      hf->SetError(FILEERROR_OUTOFMEMORY);
      return false;
    }
  }
  return _ngons->Read(hf, id, level);
}

bool PolygonObjectData::CopyToX(PrivateChunk* dest, COPYFLAGS flags, AliasTrans* trans) {
  if (!PointObjectData::CopyToX(dest, flags, trans)) return false;
  NodeData* d = static_cast<NodeData*>(dest);
  if (d == this || d->GetDiskType() != GetDiskType()) return true;
  PolygonObjectData* p = static_cast<PolygonObjectData*>(d);
  for (Int32 i = 0; i < 5; ++i)
    if (!_select[i].CopyTo(&p->_select[i])) return false;
  if ((flags & COPYFLAGS_NO_NGONS) == 0 && _ngons != nullptr && _ngons->GetCount() > 0) {
    if (p->_ngons == nullptr) p->_ngons = NgonBase::Alloc();
    if (p->_ngons == nullptr || !_ngons->CopyTo(p->_ngons)) return false;
  }
  return true;
}

// ---- PolygonObject ----

PolygonObject* PolygonObject::Alloc(Int32 points, Int32 polygons) {
  BaseObject* obj = BaseObject::Alloc(TYPE_POLYGONOBJECT);
  PolygonObject* poly = static_cast<PolygonObject*>(obj);
  if (poly != nullptr && !poly->ResizeObject(points, polygons, -1)) DeleteObj(poly);
  return poly;
}

void PolygonObject::Free(PolygonObject*& object) {
  if (object == nullptr) return;
  object->ResizeObject(0, 0);
  DeleteObj(object);
}

bool PolygonObject::ResizeObject(Int32 points, Int32 polygons, Int32 ngons) {
  NodeData* data = GetNodeData();
  if (data == nullptr || data->GetDiskType() != TYPE_POLYGONOBJECTDATA_DISK) return false;
  return static_cast<PolygonObjectData*>(data)->_ResizeObject(points, polygons, ngons);
}

}  // namespace lumora
