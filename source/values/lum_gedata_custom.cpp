// The custom data types a value can hold: the fixed table of known types and the dispatch over
// their kinds, PriorityData, and the classes of description ids, dates and kept raw chunks.
#include <cstring>

#include "lum_memory.h"
#include "stream/lum_hyperfile.h"
#include "values/datatypes/lum_gradient.h"
#include "values/datatypes/lum_inexclude.h"
#include "values/datatypes/lum_splinedata.h"
#include "values/lum_descid.h"
#include "values/lum_gedata.h"
#include "values/lum_gedata_private.h"

namespace lumora {

using namespace gedata_internal;

namespace gedata_internal {

// The fixed dispatch table. Every type whose contents this library does not read is kept as a
// raw chunk.
constexpr CustomEntry kCustomTable[] = {
    {CUSTOMDATATYPE_GRADIENT, 1, CustomKind::GRADIENT},
    {CUSTOMDATATYPE_DESCID, 5, CustomKind::DESCID},
    {CUSTOMDATATYPE_LENSGLOW, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_SPLINE, 9, CustomKind::SPLINE},
    {CUSTOMDATATYPE_INEXCLUDE_LIST, 2, CustomKind::INEXCLUDE},
    {CUSTOMDATATYPE_PRIORITY, 0, CustomKind::PRIORITY},
    {CUSTOMDATATYPE_FONT, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_DATETIME, 0, CustomKind::DATETIME},
    {CUSTOMDATATYPE_BLEND, 2, CustomKind::BLEND},
    {CUSTOMDATATYPE_MATPREVIEW, 7, CustomKind::RAW},
    {CUSTOMDATATYPE_LISTVIEW, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_ITEMLIST, 1, CustomKind::RAW},
    {CUSTOMDATATYPE_SPREADSHEET, 3, CustomKind::RAW},
    {CUSTOMDATATYPE_ITEMTREE, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_DYNAMICSPLINE, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_XRLAYERS, 11, CustomKind::RAW},
    {CUSTOMDATATYPE_PLA, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_REALARRAY, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_COLORPROFILE, 2, CustomKind::RAW},
    {CUSTOMDATATYPE_UNITSCALE, 0, CustomKind::RAW},
    {CUSTOMDATATYPE_RANGE, 3, CustomKind::RAW},
    {CUSTOMDATATYPE_FIELD, 5, CustomKind::RAW},
    {CUSTOMDATATYPE_SKYOBJECTS, 0, CustomKind::RAW},
};

const CustomEntry* FindCustom(Int32 id) {
  for (const CustomEntry& entry : kCustomTable) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

// Unknown custom ids whose raw chunks are kept even from files older than version 11600.
constexpr Int32 kKeptFromOldFiles[] = {1001053,   1009372,   1009617,   1011188,   1011190,
                                       1019870,   1019918,   1020497,   180000106, 200000027,
                                       200000044, 200000157, 465001521, 465001527};

bool KeptFromOldFiles(Int32 id) {
  for (Int32 kept : kKeptFromOldFiles) {
    if (kept == id) return true;
  }
  return false;
}
// ---- dispatch over the custom kinds ----

CustomDataType* CustomAlloc(const CustomEntry& e) {
  switch (e.kind) {
    case CustomKind::DESCID:
      return DescIDDataTypeClass::AllocData();
    case CustomKind::DATETIME:
      return DateTimeDataTypeClass::AllocData();
    case CustomKind::PRIORITY:
      return AsCustom(NewObj<PriorityData>());
    case CustomKind::GRADIENT:
      return GradientDataTypeClass::AllocData();
    case CustomKind::SPLINE:
      return SplineDataTypeClass::AllocData();
    case CustomKind::INEXCLUDE:
      return InExcludeDataTypeClass::AllocData();
    case CustomKind::BLEND:
      return BlendDataTypeClass::AllocData();
    case CustomKind::RAW:  // the last kind: every value is one of them
    default: {
      CustomDataType* data = RawCustomDataTypeClass::AllocData();
      if (data != nullptr) As<RawCustomData>(data)->level = e.level;
      return data;
    }
  }
}

void CustomFree(const CustomEntry& e, CustomDataType* data) {
  switch (e.kind) {
    case CustomKind::DESCID:
      DescIDDataTypeClass::FreeData(data);
      break;
    case CustomKind::DATETIME:
      DateTimeDataTypeClass::FreeData(data);
      break;
    case CustomKind::PRIORITY: {
      PriorityData* priority = As<PriorityData>(data);
      DeleteObj(priority);
      break;
    }
    case CustomKind::GRADIENT:
      GradientDataTypeClass::FreeData(data);
      break;
    case CustomKind::SPLINE:
      SplineDataTypeClass::FreeData(data);
      break;
    case CustomKind::INEXCLUDE:
      InExcludeDataTypeClass::FreeData(data);
      break;
    case CustomKind::BLEND:
      BlendDataTypeClass::FreeData(data);
      break;
    case CustomKind::RAW:  // the last kind: every value is one of them
    default:
      RawCustomDataTypeClass::FreeData(data);
      break;
  }
}

bool CustomCopy(const CustomEntry& e, const CustomDataType* src, CustomDataType* dest,
                AliasTrans* trans) {
  switch (e.kind) {
    case CustomKind::DESCID:
      return DescIDDataTypeClass::CopyData(src, dest, trans);
    case CustomKind::DATETIME:
      return DateTimeDataTypeClass::CopyData(src, dest, trans);
    case CustomKind::PRIORITY:  // the object of a value is never null
      As<PriorityData>(src)->CopyTo(As<PriorityData>(dest));
      return true;
    case CustomKind::GRADIENT:
      return GradientDataTypeClass::CopyData(src, dest, trans);
    case CustomKind::SPLINE:
      return SplineDataTypeClass::CopyData(src, dest, trans);
    case CustomKind::INEXCLUDE:
      return InExcludeDataTypeClass::CopyData(src, dest, trans);
    case CustomKind::BLEND:
      return BlendDataTypeClass::CopyData(src, dest, trans);
    case CustomKind::RAW:  // the last kind: every value is one of them
    default:
      return RawCustomDataTypeClass::CopyData(src, dest, trans);
  }
}

bool CustomEqual(const CustomEntry& e, const CustomDataType* a, const CustomDataType* b) {
  switch (e.kind) {
    case CustomKind::DESCID:
      return DescIDDataTypeClass::Compare(a, b) == 0;
    case CustomKind::DATETIME:
      return DateTimeDataTypeClass::Compare(a, b) == 0;
    case CustomKind::PRIORITY:
      return As<PriorityData>(a)->IsEqual(As<PriorityData>(b));
    case CustomKind::GRADIENT:
      return GradientDataTypeClass::Compare(a, b) == 0;
    case CustomKind::SPLINE:
      return SplineDataTypeClass::Compare(a, b) == 0;
    case CustomKind::INEXCLUDE:
      return InExcludeDataTypeClass::Compare(a, b) == 0;
    case CustomKind::BLEND:
      return BlendDataTypeClass::Compare(a, b) == 0;
    case CustomKind::RAW:  // the last kind: every value is one of them
    default:
      return RawCustomDataTypeClass::Compare(a, b) == 0;
  }
}

bool CustomWrite(const CustomEntry& e, const CustomDataType* data, HyperFile* hf) {
  switch (e.kind) {
    case CustomKind::DESCID:
      return DescIDDataTypeClass::WriteData(data, hf);
    case CustomKind::DATETIME:
      return DateTimeDataTypeClass::WriteData(data, hf);
    case CustomKind::PRIORITY:
      return As<PriorityData>(data)->WriteData(hf);
    case CustomKind::GRADIENT:
      return GradientDataTypeClass::WriteData(data, hf);
    case CustomKind::SPLINE:
      return SplineDataTypeClass::WriteData(data, hf);
    case CustomKind::INEXCLUDE:
      return InExcludeDataTypeClass::WriteData(data, hf);
    case CustomKind::BLEND:
      return BlendDataTypeClass::WriteData(data, hf);
    case CustomKind::RAW:  // the last kind: every value is one of them
    default:
      return RawCustomDataTypeClass::WriteData(data, hf);
  }
}

bool CustomRead(const CustomEntry& e, CustomDataType* data, HyperFile* hf, Int32 level) {
  switch (e.kind) {
    case CustomKind::DESCID:
      return DescIDDataTypeClass::ReadData(data, hf, level);
    case CustomKind::DATETIME:
      return DateTimeDataTypeClass::ReadData(data, hf, level);
    case CustomKind::PRIORITY:
      return As<PriorityData>(data)->ReadData(hf, level);
    case CustomKind::GRADIENT:
      return GradientDataTypeClass::ReadData(data, hf, level);
    case CustomKind::SPLINE:
      return SplineDataTypeClass::ReadData(data, hf, level);
    case CustomKind::INEXCLUDE:
      return InExcludeDataTypeClass::ReadData(data, hf, level);
    case CustomKind::BLEND:
      return BlendDataTypeClass::ReadData(data, hf, level);
    case CustomKind::RAW:  // the last kind: every value is one of them
    default:
      return RawCustomDataTypeClass::ReadData(data, hf, level);
  }
}

// The chunk level a custom value is written under: raw values keep the level they were read
// with, so that the kept contents are never relabelled; a gradient needs a higher level for a
// flag the table's level cannot carry.
Int32 CustomWriteLevel(const CustomEntry& e, const CustomDataType* data) {
  if (e.kind == CustomKind::RAW) return As<RawCustomData>(data)->level;
  if (e.kind == CustomKind::GRADIENT) return GradientDataTypeClass::GetWriteLevel(data);
  return e.level;
}

// The holder cell of a new custom value with the class's fresh object; null when out of memory.
CustomHolder* NewCustomHolder(const CustomEntry& e) {
  CustomHolder* holder = static_cast<CustomHolder*>(MemAlloc(sizeof(CustomHolder)));
  if (holder == nullptr) return nullptr;
  holder->object = CustomAlloc(e);
  if (holder->object == nullptr) DeleteMem(holder);
  return holder;
}

}  // namespace gedata_internal

// ---- PriorityData ----

bool PriorityData::SetPriorityValue(Int32 which, const GeData& value) {
  if (value.GetType() != VALUETYPE_INT32) return false;
  switch (which) {
    case 0:
      first = value.GetInt32();
      return true;
    case 1:
      second = value.GetInt32();
      return true;
    case 2:
      flag = value.GetBool();
      return true;
    default:
      return false;
  }
}

GeData PriorityData::GetPriorityValue(Int32 which) const {
  switch (which) {
    case 0:
      return GeData(first);
    case 1:
      return GeData(second);
    case 2:
      return GeData(flag ? 1 : 0);
    default:
      return GeData();
  }
}

void PriorityData::CopyTo(PriorityData* dest) const {
  if (dest == nullptr) return;
  dest->first = first;
  dest->second = second;
  dest->flag = flag;
}

bool PriorityData::IsEqual(const PriorityData* other) const {
  return other != nullptr && first == other->first && second == other->second &&
         flag == other->flag;
}

bool PriorityData::WriteData(HyperFile* hf) const {
  return hf->WriteInt32(second) && hf->WriteInt32(first) && hf->WriteBool(flag);
}

bool PriorityData::ReadData(HyperFile* hf, Int32) {
  return hf->ReadInt32(&second) && hf->ReadInt32(&first) && hf->ReadBool(&flag);
}

// ---- DescIDDataTypeClass ----

CustomDataType* DescIDDataTypeClass::AllocData() { return AsCustom(NewObj<DescID>()); }

void DescIDDataTypeClass::FreeData(CustomDataType* data) {
  DescID* id = As<DescID>(data);
  DeleteObj(id);
}

bool DescIDDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans*) {
  if (src == nullptr || dest == nullptr) return false;
  const DescID* s = As<DescID>(src);
  DescID* d = As<DescID>(dest);
  *d = *s;
  return d->GetCount() == s->GetCount();  // a copy whose levels could not be allocated is empty
}

Int32 DescIDDataTypeClass::Compare(const CustomDataType* a, const CustomDataType* b) {
  if (a == nullptr || b == nullptr) return 0;
  return *As<DescID>(a) == *As<DescID>(b) ? 0 : 1;
}

bool DescIDDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  // Reported as success: a failed write is recorded by the stream and fails what follows.
  if (data != nullptr) As<DescID>(data)->Write(hf);
  return true;
}

bool DescIDDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32 level) {
  if (level < 0) return true;
  return data != nullptr && As<DescID>(data)->Read(hf);
}

// ---- DateTimeDataTypeClass ----

CustomDataType* DateTimeDataTypeClass::AllocData() { return AsCustom(NewObj<DateTimeData>()); }

void DateTimeDataTypeClass::FreeData(CustomDataType* data) {
  DateTimeData* dt = As<DateTimeData>(data);
  DeleteObj(dt);
}

bool DateTimeDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest, AliasTrans*) {
  if (src == nullptr || dest == nullptr) return false;
  As<DateTimeData>(dest)->_dateTime = As<DateTimeData>(src)->_dateTime;
  return true;
}

Int32 DateTimeDataTypeClass::Compare(const CustomDataType* a, const CustomDataType* b) {
  if (a == nullptr || b == nullptr) return 0;
  return As<DateTimeData>(a)->_dateTime != As<DateTimeData>(b)->_dateTime ? 1 : 0;
}

bool DateTimeDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  if (data == nullptr) return true;
  const DateTime& t = As<DateTimeData>(data)->_dateTime;
  // Reported as success: a failed write is recorded by the stream and fails what follows.
  (void)(hf->WriteInt32(t.year) && hf->WriteInt32(t.month) && hf->WriteInt32(t.day) &&
         hf->WriteInt32(t.hour) && hf->WriteInt32(t.minute) && hf->WriteInt32(t.second));
  return true;
}

bool DateTimeDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32) {
  if (data == nullptr) return true;
  DateTime& t = As<DateTimeData>(data)->_dateTime;
  // A failed read is recorded by the stream, so skipping to the chunk's end fails after it.
  (void)(hf->ReadInt32(&t.year) && hf->ReadInt32(&t.month) && hf->ReadInt32(&t.day) &&
         hf->ReadInt32(&t.hour) && hf->ReadInt32(&t.minute) && hf->ReadInt32(&t.second));
  return true;
}

// ---- RawCustomDataTypeClass ----

CustomDataType* RawCustomDataTypeClass::AllocData() {
  return AsCustom(NewObjClear<RawCustomData>());
}

void RawCustomDataTypeClass::FreeData(CustomDataType* data) {
  RawCustomData* raw = As<RawCustomData>(data);
  if (raw != nullptr) MemFree(raw->bytes);
  DeleteObj(raw);
}

bool RawCustomDataTypeClass::CopyData(const CustomDataType* src, CustomDataType* dest,
                                      AliasTrans*) {
  if (src == nullptr || dest == nullptr || src == dest) return src != nullptr && dest != nullptr;
  const RawCustomData* s = As<RawCustomData>(src);
  RawCustomData* d = As<RawCustomData>(dest);
  bool ok = false;
  void* bytes = CopyBytes(s->bytes, s->size, &ok);
  if (!ok) return false;
  MemFree(d->bytes);
  d->bytes = bytes;
  d->size = bytes != nullptr ? s->size : 0;
  d->level = s->level;
  d->layout = s->layout;
  return true;
}

Int32 RawCustomDataTypeClass::Compare(const CustomDataType* a, const CustomDataType* b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : 1;
  const RawCustomData* x = As<RawCustomData>(a);
  const RawCustomData* y = As<RawCustomData>(b);
  return x->level == y->level && x->size == y->size && SameBytes(x->bytes, y->bytes, x->size) ? 0
                                                                                              : 1;
}

bool RawCustomDataTypeClass::WriteData(const CustomDataType* data, HyperFile* hf) {
  const RawCustomData* raw = As<RawCustomData>(data);
  if (raw == nullptr) return hf->WriteChunkEnd();
  return hf->WriteKeptChunk(raw->bytes, raw->bytes != nullptr ? raw->size : 0, false, raw->layout);
}

bool RawCustomDataTypeClass::ReadData(CustomDataType* data, HyperFile* hf, Int32 level) {
  RawCustomData* raw = As<RawCustomData>(data);
  if (raw == nullptr) return hf->SkipToEndChunk();
  MemFree(raw->bytes);
  raw->size = 0;
  raw->level = level;
  raw->layout = hf->GetRawLayout();
  return hf->ReadUnknownChunk(&raw->bytes, &raw->size, false);
}

// ---- table queries ----

bool GeIsKnownCustomDataType(Int32 id) { return FindCustom(id) != nullptr; }

Int32 GeGetCustomDataTypeLevel(Int32 id) {
  const CustomEntry* entry = FindCustom(id);
  return entry != nullptr ? entry->level : -1;
}

}  // namespace lumora
