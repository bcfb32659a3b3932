
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

