// Filename: normalised paths, case-insensitive equality and memory files.
#include "foundation/lum_filename.h"

#include <cstring>

#include "lum_memory.h"

namespace lumora {

Filename::Filename() : _memory(nullptr) {}

Filename::Filename(const char* utf8Path) : _memory(nullptr) {
  if (utf8Path == nullptr) return;
  SetString(String(utf8Path, STRINGENCODING_UTF8));
}

Filename::Filename(const Filename& src) : _path(src._path), _memory(nullptr) {
  if (src._memory != nullptr) {
    _memory = &_record;
    _record.CopyFrom(*src._memory);
  }
}

Filename& Filename::operator=(const Filename& src) {
  if (&src == this) return *this;
  _path = src._path;
  if (src._memory != nullptr) {
    _memory = &_record;
    _record.CopyFrom(*src._memory);
  }
  return *this;
}

Filename::~Filename() { _memory = nullptr; }

void Filename::SetString(const String& path) {
  _path = path;
  const Int32 n = _path.GetLength();
  const Int32 end = NormalisedLength(_path);
  if (end < n) _path.Delete(end, n - end);
}

Int32 Filename::NormalisedLength(const String& path) {
  // One '/' then the blanks, repeated until neither goes, so that storing a stored path again
  // changes nothing ("x/ " gives "x", not "x/").
  Int32 end = path.GetLength();
  for (;;) {
    const Int32 before = end;
    if (end >= 2 && path.GetUnit(end - 1) == '/') --end;
    while (end > 0 && path.GetUnit(end - 1) == ' ') --end;
    if (end == before) return end;
  }
}

String Filename::GetString() const { return _path; }

bool Filename::operator==(const Filename& other) const {
  return _path.LexCompare(other._path) == 0;
}

bool Filename::operator!=(const Filename& other) const {
  return _path.LexCompare(other._path) != 0;
}

bool Filename::GetFSRef(FSRef* ref) const {
  if (ref == nullptr) return false;
  std::memset(ref, 0, sizeof(FSRef));
  if (_path.GetLength() == 0) return false;
  Int32 n = _path.GetCStringLen(STRINGENCODING_UTF8);
  char* text = static_cast<char*>(MemAllocNC(static_cast<Int64>(n) + 1));
  if (text == nullptr) return false;
  Int32 got = _path.GetCString(text, n + 1, STRINGENCODING_UTF8);
  // A 0 unit would name another file than the path says.
  bool ok = got == n && static_cast<Int32>(std::strlen(text)) == n && PlatformGetFSRef(text, ref);
  DeleteMem(text);
  return ok;
}

bool Filename::SetMemoryData(const void* bytes, Int64 n, bool copy) {
  _memory = &_record;
  return _record.SetReadable(bytes, n, copy);
}

void Filename::SetMemoryTarget() {
  _memory = &_record;
  _record.Free();
  _record.data = nullptr;
  _record.size = 0;
  _record.flags = MemoryFileStruct::FLAG_WRITABLE | MemoryFileStruct::FLAG_OWNS;
}

bool Filename::CollectMemoryData(const void** bytes, Int64* n) {
  if (bytes != nullptr) *bytes = nullptr;
  if (n != nullptr) *n = 0;
  if (_memory == nullptr) return false;
  if (_record.GetWrittenSize() > 0 && !_record.CollectWritten()) return false;
  if (bytes != nullptr) *bytes = _record.data;
  if (n != nullptr) *n = _record.data != nullptr ? _record.size : 0;
  return true;
}

void Filename::ClearMemoryFile() {
  _record.Free();
  _record.data = nullptr;
  _record.size = 0;
  _record.flags = MemoryFileStruct::FLAG_OWNS;
  _memory = nullptr;
}

}  // namespace lumora
