// FileErrorInfo and the names of the FILEERROR codes (see lum_fileerror.h).
#include "stream/lum_fileerror.h"

#include <cstdio>
#include <cstring>

#include "stream/lum_hyperfile.h"

namespace lumora {
namespace {

struct ErrorText {
  Int32 code;
  const char* name;
  const char* text;
};

const ErrorText kErrors[] = {
    {FILEERROR_NONE, "NONE", "no error"},
    {FILEERROR_OPEN, "OPEN", "cannot be opened"},
    {FILEERROR_CLOSE, "CLOSE", "closing failed"},
    {FILEERROR_READ, "READ", "file ends early or cannot be read"},
    {FILEERROR_WRITE, "WRITE", "write failed"},
    {FILEERROR_SEEK, "SEEK", "seek failed"},
    {FILEERROR_INVALID, "INVALID", "invalid operation"},
    {FILEERROR_OUTOFMEMORY, "OUTOFMEMORY", "out of memory"},
    {FILEERROR_WRONG_VALUE, "WRONG_VALUE", "value of another kind"},
    {FILEERROR_CHUNK_EXPECTED, "CHUNK_EXPECTED", "chunk start or end expected"},
    {FILEERROR_CHUNKEND_MISSING, "CHUNKEND_MISSING", "chunk end missing"},
};

const ErrorText* Find(Int32 code) {
  for (const ErrorText& e : kErrors)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

const char* FileErrorName(Int32 code) {
  const ErrorText* e = Find(code);
  return e != nullptr ? e->name : "UNKNOWN";
}

void FileErrorInfo::Clear() { Set(FILEERROR_NONE, 0, 0, Filename()); }

void FileErrorInfo::Set(const HyperFile& hf, const Filename& file) {
  Set(hf.GetError(), hf.GetErrorPosition(), hf.GetOSError(), file);
}

void FileErrorInfo::Set(Int32 errorCode, Int64 at, Int32 errnoValue, const Filename& file) {
  code = errorCode;
  offset = at;
  osError = errnoValue;
  name = file;
}

const char* FileErrorInfo::Describe() const {
  char file[512];
  if (name.GetString().GetCString(file, sizeof file, STRINGENCODING_UTF8) <= 0 || file[0] == 0)
    std::snprintf(file, sizeof file, "(no file)");
  const ErrorText* e = Find(code);
  char unknown[48];
  const char* what = e != nullptr ? e->text : unknown;
  if (e == nullptr) std::snprintf(unknown, sizeof unknown, "error %d", static_cast<int>(code));
  if (osError != 0) what = std::strerror(osError);
  // An open fails before any byte: its offset says nothing.
  if (code == FILEERROR_OPEN || code == FILEERROR_NONE)
    std::snprintf(_text, sizeof _text, "%s: %s", file, what);
  else
    std::snprintf(_text, sizeof _text, "%s: %s at byte %lld", file, what,
                  static_cast<long long>(offset));
  return _text;
}

}  // namespace lumora
