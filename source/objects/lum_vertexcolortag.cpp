// VertexColorTag and its layouts (see lum_vertexcolortag.h).
#include "objects/lum_vertexcolortag.h"

#include "lum_memory.h"
#include "objects/lum_pointtag.h"
#include "objects/lum_polygontag.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

namespace {

// The object type whose polygons give per-point colours.
constexpr Int32 kPolygonObject = 5100;
// A Vector32 (13 bytes) and a Float32 (5 bytes).
constexpr Int64 kColorDisk = 18;

bool WriteColors(HyperFile* hf, const ColorA32* c, Int64 n) {
  for (Int64 i = 0; i < n; ++i)
    if (!hf->WriteVector32(Vector32(c[i].r, c[i].g, c[i].b)) || !hf->WriteFloat32(c[i].a))
      return false;
  return true;
}

bool ReadColors(HyperFile* hf, ColorA32* c, Int64 n) {
  for (Int64 i = 0; i < n; ++i) {
    Vector32 v;
    if (!hf->ReadVector32(&v) || !hf->ReadFloat32(&c[i].a)) return false;
    c[i].r = v.x;
    c[i].g = v.y;
    c[i].b = v.z;
  }
  return true;
}

void Add(ColorA32& to, const ColorA32& c) {
  to.r += c.r;
  to.g += c.g;
  to.b += c.b;
  to.a += c.a;
}

}  // namespace

bool VertexColorTag::Resize(Int32 n, Int32 bytes) {
  if (n < 0 || (bytes != 0 && bytes != POINT_BYTES && bytes != POLYGON_BYTES)) return false;
  if (n == 0 || bytes == 0) {
    FreeData();
    return true;
  }
  void* block = MemAlloc(Int64(n) * bytes);
  if (block == nullptr) return false;
  Adopt(block, n, bytes);
  return true;
}

bool VertexColorTag::OwnsChunk(Int32 id, Int32 level) const {
  return id == GetType() && (level >= 0 || !IsPerPointColor());
}

// ---- chunks ----

bool PerVertexColorTag::Write(BaseTag* tag, HyperFile* hf) {
  VertexColorTag* t = static_cast<VertexColorTag*>(tag);
  return hf->WriteChunkStart(TAG_VERTEXCOLOR, 0) && hf->WriteInt32(t->GetCount()) &&
         WriteColors(hf, t->GetColorR(), t->GetCount()) && hf->WriteChunkEnd();
}

bool PerVertexColorTag::Read(BaseTag* tag, HyperFile* hf, Int32, Int32 level) {
  VertexColorTag* t = static_cast<VertexColorTag*>(tag);
  if (level >= 0) {
    Int32 n = 0;
    if (!hf->ReadInt32(&n)) return false;
    if (n > 0) {
      if (!VertexColorTag::CheckCount(hf, n, kColorDisk)) return false;
      void* block = VertexColorTag::AllocElements(hf, n, VertexColorTag::POINT_BYTES);
      if (block == nullptr) return false;
      t->Adopt(block, n, VertexColorTag::POINT_BYTES);
      if (!ReadColors(hf, t->GetColorW(), n)) {
        t->ClearElements();
        return false;
      }
    }
  }
  return hf->SkipToEndChunk();
}

bool VertexColorTag::ReadPerPolygon(HyperFile* hf) {
  if (!VertexColorTag_ConvertVertexColorMode(this, false)) {
    hf->SetError(FILEERROR_OUTOFMEMORY);
    return false;
  }
  Int32 n = 0;
  if (!hf->ReadInt32(&n)) return false;
  if (n == 0) {
    FreeData();
  } else {
    if (!CheckCount(hf, n, 4 * kColorDisk)) return false;
    void* block = AllocElements(hf, n, POLYGON_BYTES);
    if (block == nullptr) return false;
    Adopt(block, n, POLYGON_BYTES);
    if (!ReadColors(hf, GetColorW(), 4 * Int64(n))) {
      ClearElements();
      return false;
    }
  }
  return hf->SkipToEndChunk();
}

bool VertexColorTag::ReadData(HyperFile* hf, Int32 id, Int32 level) {
  if (IsPerPointColor()) return PerVertexColorTag::Read(this, hf, id, level);
  return ReadPerPolygon(hf);
}

bool VertexColorTag::WriteData(HyperFile* hf) {
  if (HoldsPerPointColors()) return PerVertexColorTag::Write(this, hf);
  return hf->WriteChunkStart(GetType(), 0) && hf->WriteInt32(_count) &&
         WriteColors(hf, GetColorR(), 4 * Int64(_count)) && hf->WriteChunkEnd();
}

bool VertexColorTag::CopyDataV(BaseTag* dest, COPYFLAGS, AliasTrans*) {
  return CopyElementsTo(static_cast<VertexColorTag*>(dest));
}

// ---- converting ----

bool VertexColorTag_ConvertVertexColorMode(VertexColorTag* tag, bool toPerPoint) {
  if (tag == nullptr) return false;
  BaseList2D* object = tag->GetObject();
  const PointTag* points =
      object != nullptr ? PointTag::Cast(tag->FindSibling(TAG_POINT)) : nullptr;
  const PolygonTag* polygons =
      object != nullptr ? PolygonTag::Cast(tag->FindSibling(TAG_POLYGON)) : nullptr;
  const Int32 pointCount = points != nullptr ? points->GetCount() : 0;
  const Int32 polyCount = polygons != nullptr ? polygons->GetCount() : 0;
  const CPolygon* poly = polygons != nullptr ? polygons->GetPolygonR() : nullptr;

  // The old colours, set aside.
  ColorA32* old = static_cast<ColorA32*>(tag->_data);
  const Int32 oldCount = tag->_count;
  const bool oldPerPoint = tag->HoldsPerPointColors();
  const Int32 oldSize = tag->_elementSize;
  tag->_data = nullptr;
  tag->_count = 0;
  bool ok;
  if (toPerPoint) {
    ok = tag->Resize(pointCount, VertexColorTag::POINT_BYTES);
    ColorA32* out = tag->GetColorW();
    if (ok && out != nullptr && old != nullptr && oldPerPoint) {
      for (Int32 p = 0; p < pointCount && p < oldCount; ++p) out[p] = old[p];
    } else if (ok && out != nullptr && old != nullptr && object->IsInstanceOf(kPolygonObject)) {
      Int32* counter = static_cast<Int32*>(MemAlloc(Int64(pointCount) * 4));
      ok = counter != nullptr;
      for (Int32 i = 0; ok && i < polyCount && i < oldCount; ++i) {
        const Int32 corner[4] = {poly[i].a, poly[i].b, poly[i].c, poly[i].d};
        for (Int32 k = 0; k < 4; ++k) {
          if (corner[k] < 0 || corner[k] >= pointCount) continue;
          Add(out[corner[k]], old[4 * i + k]);
          ++counter[corner[k]];
        }
      }
      for (Int32 p = 0; ok && p < pointCount; ++p) {
        if (counter[p] == 0) continue;
        const Float32 n = Float32(counter[p]);
        out[p].r /= n;
        out[p].g /= n;
        out[p].b /= n;
        out[p].a /= n;
      }
      DeleteMem(counter);
    }
  } else {
    ok = tag->Resize(polyCount, VertexColorTag::POLYGON_BYTES);
    ColorA32* out = tag->GetColorW();
    for (Int32 i = 0; ok && out != nullptr && old != nullptr && i < polyCount; ++i) {
      if (!oldPerPoint) {
        if (i >= oldCount) break;
        for (Int32 k = 0; k < 4; ++k) out[4 * i + k] = old[4 * i + k];
        continue;
      }
      const Int32 corner[4] = {poly[i].a, poly[i].b, poly[i].c, poly[i].d};
      for (Int32 k = 0; k < 4; ++k)
        if (corner[k] >= 0 && corner[k] < oldCount) out[4 * i + k] = old[corner[k]];
    }
  }
  if (!ok) {
    tag->Adopt(old, oldCount, oldSize);
    return false;
  }
  DeleteMem(old);
  return true;
}

}  // namespace lumora
