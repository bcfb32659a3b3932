// The parts of GeData its files share: the dispatch over the known custom data types (in
// lum_gedata_custom.cpp) and the byte-block helpers (in lum_gedata.cpp). Private to
// source/values.
#ifndef LUMORA_VALUES_LUM_GEDATA_PRIVATE_H_
#define LUMORA_VALUES_LUM_GEDATA_PRIVATE_H_

#include "stream/lum_hyperfile.h"
#include "values/lum_gedata.h"

namespace lumora {
namespace gedata_internal {

// How a known custom data type is served.
enum class CustomKind { DESCID, DATETIME, PRIORITY, GRADIENT, SPLINE, INEXCLUDE, BLEND, RAW };

struct CustomEntry {
  Int32 id;
  Int32 level;  // written on the value's chunk
  CustomKind kind;
};

// The heap cell a custom value owns: one pointer to the data-type object.
struct CustomHolder {
  CustomDataType* object;
};

template <typename T>
T* As(CustomDataType* p) {
  return reinterpret_cast<T*>(p);
}
template <typename T>
const T* As(const CustomDataType* p) {
  return reinterpret_cast<const T*>(p);
}
template <typename T>
CustomDataType* AsCustom(T* p) {
  return reinterpret_cast<CustomDataType*>(p);
}

// The table entry of a known custom data type; null for an unknown id.
const CustomEntry* FindCustom(Int32 id);

// Unknown custom ids whose raw chunks are kept even from files older than version 11600.
bool KeptFromOldFiles(Int32 id);

// The class of e's kind, asked for each operation on a custom value.
CustomDataType* CustomAlloc(const CustomEntry& e);
void CustomFree(const CustomEntry& e, CustomDataType* data);
bool CustomCopy(const CustomEntry& e, const CustomDataType* src, CustomDataType* dest,
                AliasTrans* trans);
bool CustomEqual(const CustomEntry& e, const CustomDataType* a, const CustomDataType* b);
bool CustomWrite(const CustomEntry& e, const CustomDataType* data, HyperFile* hf);
bool CustomRead(const CustomEntry& e, CustomDataType* data, HyperFile* hf, Int32 level);

// The chunk level a custom value is written under.
Int32 CustomWriteLevel(const CustomEntry& e, const CustomDataType* data);

// The holder cell of a new custom value with the class's fresh object; null when out of memory.
CustomHolder* NewCustomHolder(const CustomEntry& e);

// A copy of n bytes (null for none); ok is false when the block cannot be allocated.
void* CopyBytes(const void* src, Int64 n, bool* ok);

bool SameBytes(const void* a, const void* b, Int64 n);

}  // namespace gedata_internal
}  // namespace lumora

#endif  // LUMORA_VALUES_LUM_GEDATA_PRIVATE_H_
