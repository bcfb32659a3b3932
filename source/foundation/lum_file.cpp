// CallFileOpen and the byte swappers.
#include "foundation/lum_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lum_debug.h"

namespace lumora {
namespace {

constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

void Swap16(void* data, Int64 count) {
  if (data == nullptr) return;
  UChar* p = static_cast<UChar*>(data);
  for (Int64 i = 0; i < count; ++i, p += 2) {
    UChar t = p[0];
    p[0] = p[1];
    p[1] = t;
  }
}

void Swap32(void* data, Int64 count) {
  if (data == nullptr) return;
  UChar* p = static_cast<UChar*>(data);
  for (Int64 i = 0; i < count; ++i, p += 4) {
    UChar t0 = p[0], t1 = p[1];
    p[0] = p[3];
    p[1] = p[2];
    p[2] = t1;
    p[3] = t0;
  }
}

// A lock error that only says the file system has no locks.
bool LocksUnsupported(int err) {
  if (err == ENOTSUP) return true;
#if defined(EOPNOTSUPP) && EOPNOTSUPP != ENOTSUP
  if (err == EOPNOTSUPP) return true;
#endif
  return false;
}

}  // namespace

FILE* CallFileOpen(const char* path, FILEMODE mode, OPENSTREAMFLAGSF flags) {
  if (path == nullptr) return nullptr;
  int openFlags;
  int lock;
  const char* streamMode;
  bool truncate;
  switch (mode) {
    case FILEMODE_READ:
      if ((flags & OPENSTREAMFLAGSF_KEEP) != 0) return nullptr;
      openFlags = O_RDONLY | O_CLOEXEC;
      lock = LOCK_SH | LOCK_NB;
      streamMode = "rb";
      truncate = false;
      break;
    case FILEMODE_READWRITE:
    case FILEMODE_WRITE:
      if ((flags & 3) == OPENSTREAMFLAGSF_SHARED) return nullptr;
      if (mode == FILEMODE_READWRITE) {
        openFlags = O_RDWR | O_CREAT | O_CLOEXEC;
        streamMode = "r+b";
      } else {
        openFlags = O_WRONLY | O_CREAT | O_CLOEXEC;
        streamMode = "wb";
      }
      truncate = (flags & OPENSTREAMFLAGSF_KEEP) == 0;
      lock = ((flags & OPENSTREAMFLAGSF_SHARED) != 0 ? LOCK_SH : LOCK_EX) | LOCK_NB;
      break;
    default:
      _GeDebugBreak(__LINE__, "source/lum_file");
      return nullptr;
  }

  int fd = open(path, openFlags, 0644);
  if (fd == -1) return nullptr;
  if (flock(fd, lock) != 0 && !LocksUnsupported(errno)) {
    close(fd);
    return nullptr;
  }
  // Truncation comes after the lock, so that a file another process holds is never cut.
  // Devices and pipes have no length to cut; only regular files are truncated, and an empty one
  // (a file just made) needs no cut.
  if (truncate) {
    struct stat st;
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && st.st_size > 0 && ftruncate(fd, 0) != 0)) {
      close(fd);
      return nullptr;
    }
  }
  FILE* stream = fdopen(fd, streamMode);
  if (stream == nullptr) close(fd);
  return stream;
}

void wMotor(void* data, Int64 count) {
  if (kLittleEndianHost) Swap16(data, count);
}

void lMotor(void* data, Int64 count) {
  if (kLittleEndianHost) Swap32(data, count);
}

void wIntel(void* data, Int64 count) {
  if (!kLittleEndianHost) Swap16(data, count);
}

void lIntel(void* data, Int64 count) {
  if (!kLittleEndianHost) Swap32(data, count);
}

}  // namespace lumora
