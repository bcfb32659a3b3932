// klaymo-thumbnail: writes the 96 x 96 preview stored in a Klaymo document as a JPEG file.
//
//   klaymo-thumbnail [--require-thumbnail] DOCUMENT OUTPUT
//
// Exit status: 0 when the picture was written (a document without a thumbnail gives a black
// picture, unless --require-thumbnail makes that an error), 1 when the document cannot be read,
// holds no thumbnail that was required, is named by OUTPUT too, or the picture cannot be written
// (a message on stderr names the file), 2 for a wrong command line. A good run prints nothing.
// doc/klaymo-thumbnail.1 is the manual.
//
// Also home of the thumbnail decoder. The memory functions the library leaves to the program
// come from the default application library (app/lum_app_memory.cpp), which shows how a program
// would define its own.
//
// The thumbnail block (B = block start; multi-byte fields little-endian):
//   B+0        int8     format version, 4 or more
//   B+1..5              not examined
//   B+6..13             signature 00 90 00 00 04 00 80 01 (decoded size 36864, 4 bytes per
//                       pixel, 384 bytes per row)
//   version 4:  B+14, 16, 18, 20  int16 stored sizes of segments 0..3; data from B+22
//   version 5+: B+14..25 not examined; B+26, 30 int32 stored sizes of segments 0, 1; data
//               from B+34
// Segments follow each other; from version 6 on each begins with 4 bytes that are skipped.
// A segment is a run-length stream: count byte c (signed) = 0 ends it, 1..127 repeats the next
// byte c times, -128..-1 copies the next -c bytes. A segment that decodes to n bytes holds
// q = n / 4 pixels in planar order (all first bytes, then all second bytes, ...) and continues
// the picture n bytes further on. Stored sizes only locate the next segment.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "klaymo_thumbnail.h"
#include "lumora.h"

using lumora::Int32;
using lumora::Int64;
using lumora::UChar;

namespace {

constexpr int kFirstBlockStart = 194;
constexpr int kLastBlockStart = 233;
// Decoded bytes of one segment the decoder keeps; a segment producing more is cut here.
constexpr Int64 kScratchSize = kThumbnailBytes + 256;
const UChar kSignature[8] = {0x00, 0x90, 0x00, 0x00, 0x04, 0x00, 0x80, 0x01};

Int32 ReadInt16(const UChar* p) { return static_cast<lumora::Int16>(p[0] | (p[1] << 8)); }

Int32 ReadInt32(const UChar* p) {
  return static_cast<Int32>(
      static_cast<lumora::UInt32>(p[0]) | (static_cast<lumora::UInt32>(p[1]) << 8) |
      (static_cast<lumora::UInt32>(p[2]) << 16) | (static_cast<lumora::UInt32>(p[3]) << 24));
}

int FindBlockStart(const UChar* head) {
  for (int b = kFirstBlockStart; b <= kLastBlockStart; ++b)
    if (std::memcmp(head + b + 6, kSignature, sizeof kSignature) == 0) return b;
  return -1;
}

// Decodes the run-length stream that starts at head[pos] into scratch; returns the number of
// bytes produced. A run that would read past the head takes what the head still holds and
// ends the stream; one that would overfill the scratch is cut at its end, which also ends it.
Int64 DecodeRuns(const UChar* head, Int64 pos, UChar* scratch) {
  Int64 n = 0;
  while (pos < kKlaymoHeadSize) {
    Int32 c = static_cast<lumora::Int8>(head[pos++]);
    if (c == 0) break;
    if (c > 0) {
      if (pos >= kKlaymoHeadSize) break;
      UChar value = head[pos++];
      Int64 take = c < kScratchSize - n ? c : kScratchSize - n;
      std::memset(scratch + n, value, static_cast<size_t>(take));
      n += take;
      if (take < c) break;
    } else {
      Int64 want = -c;
      Int64 take = want < kKlaymoHeadSize - pos ? want : kKlaymoHeadSize - pos;
      if (take > kScratchSize - n) take = kScratchSize - n;
      std::memcpy(scratch + n, head + pos, static_cast<size_t>(take));
      n += take;
      pos += take;
      if (take < want) break;
    }
  }
  return n;
}

// Scatters the q = n / 4 planar pixels of a decoded segment to pixels[o ...]; bytes that would
// land past the picture are dropped. Byte k of pixel i goes to o + 4 i + k, which lies in the
// picture for i < (room + 3) / 4, room = the picture's bytes from o + k on.
void ScatterPlanes(const UChar* scratch, Int64 n, Int64 o, UChar* pixels) {
  const Int64 q = n / 4;
  Int64 counts[4];
  for (Int64 k = 0; k < 4; ++k) {
    const Int64 room = kThumbnailBytes - o - k;
    counts[k] = room <= 0 ? 0 : (q < (room + 3) / 4 ? q : (room + 3) / 4);
  }
  const UChar* planes[4] = {scratch, scratch + q, scratch + 2 * q, scratch + 3 * q};
  UChar* out = pixels + o;
  // Pixels whole in the picture (counts only fall with k), four bytes at a time; then the
  // bytes of a pixel the picture's end cuts.
  const Int64 whole = counts[3];
  for (Int64 i = 0; i < whole; ++i) {
    out[4 * i] = planes[0][i];
    out[4 * i + 1] = planes[1][i];
    out[4 * i + 2] = planes[2][i];
    out[4 * i + 3] = planes[3][i];
  }
  for (Int64 k = 0; k < 3; ++k)
    for (Int64 i = whole; i < counts[k]; ++i) out[4 * i + k] = planes[k][i];
}

}  // namespace

int ReadKlaymoFileThumbnail(const UChar* head, UChar* pixels) {
  int b = FindBlockStart(head);
  if (b < 0) return -1;
  Int32 version = static_cast<lumora::Int8>(head[b]);
  if (version < 4) return -1;

  Int32 sizes[4] = {0, 0, 0, 0};
  Int64 start;
  if (version == 4) {
    for (int j = 0; j < 4; ++j) sizes[j] = ReadInt16(head + b + 14 + 2 * j);
    start = b + 22;
  } else {
    sizes[0] = ReadInt32(head + b + 26);
    sizes[1] = ReadInt32(head + b + 30);
    start = b + 34;
  }
  if (sizes[0] == 0) return 0;

  UChar scratch[kScratchSize];
  Int64 o = 0;
  for (int j = 0; j < 4; ++j) {
    Int64 stream = version >= 6 ? start + 4 : start;
    // Sizes from the file may point anywhere; a segment outside the head ends the picture.
    if (start < 0 || stream >= kKlaymoHeadSize) break;
    Int64 n = DecodeRuns(head, stream, scratch);
    ScatterPlanes(scratch, n, o, pixels);
    o += n;
    if (j == 3) break;
    start += sizes[j];
    if (sizes[j + 1] == 0) break;
  }
  return 0;
}

void CopyThumbnailToBitmap(const UChar* pixels, lumora::BaseBitmap* bitmap) {
  for (int r = 0; r < kThumbnailSize; ++r)
    bitmap->SetPixelCnt(0, r, kThumbnailSize, pixels + kThumbnailRowBytes * r, 4,
                        lumora::COLORMODE_RGB, lumora::PIXELCNT_NONE);
}

#ifndef KLAYMO_THUMBNAIL_NO_ENTRY

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kUsage[] = "usage: klaymo-thumbnail [--require-thumbnail] DOCUMENT OUTPUT\n";

const char kHelp[] =
    "Writes the 96 x 96 preview picture stored in the Klaymo document DOCUMENT to OUTPUT as a\n"
    "JPEG file. A document without a thumbnail gives a black picture, unless\n"
    "--require-thumbnail is given. OUTPUT is replaced whole once the picture is written, so a\n"
    "failed run leaves it as it was; a symbolic link is written through to the file it names;\n"
    "OUTPUT may not name DOCUMENT itself. Paths after OUTPUT are ignored. A good run prints\n"
    "nothing; the exit status is 0 when the picture was written, 1 when it was not, 2 for a\n"
    "wrong command line.\n"
    "\n"
    "  --require-thumbnail  fail (status 1, nothing written) when DOCUMENT has no thumbnail\n"
    "  --help               print this help and exit\n"
    "  --version            print the version and exit\n"
    "  --                   end of options: the next arguments are paths\n";

struct CommandLine {
  const char* document = nullptr;
  const char* output = nullptr;
  bool requireThumbnail = false;
};

enum class Request { kRun, kHelp, kVersion, kUsageError };

// Options may stand anywhere before "--"; "-" alone is a path. The first two paths are the
// document and the output, further ones are ignored (thumbnailer entries may pass a size after
// them). A usage error is reported on stderr here.
Request ParseCommandLine(int argc, char** argv, CommandLine* line) {
  int paths = 0;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        options = false;
      } else if (std::strcmp(arg, "--help") == 0) {
        return Request::kHelp;
      } else if (std::strcmp(arg, "--version") == 0) {
        return Request::kVersion;
      } else if (std::strcmp(arg, "--require-thumbnail") == 0) {
        line->requireThumbnail = true;
      } else {
        std::fprintf(stderr, "klaymo-thumbnail: unknown option %s\n%s", arg, kUsage);
        return Request::kUsageError;
      }
      continue;
    }
    if (paths == 0) line->document = arg;
    if (paths == 1) line->output = arg;
    ++paths;
  }
  if (paths < 2) {
    std::fputs(kUsage, stderr);
    return Request::kUsageError;
  }
  return Request::kRun;
}

// Reads up to kKlaymoHeadSize bytes of the document into head (already zeroed) and tells which
// file it is. False, with a message on stderr, when the document cannot be opened or read.
// The descriptor is read directly: a stream would add a buffer, a second fstat and a second
// read for the bytes past its first block.
bool ReadHead(const char* path, UChar* head, struct stat* document) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "klaymo-thumbnail: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  bool failed = fstat(fd, document) != 0;
  int err = errno;
  // A short document is fine: read until the head is full or the file ends.
  for (size_t got = 0; !failed && got < static_cast<size_t>(kKlaymoHeadSize);) {
    const ssize_t n = read(fd, head + got, static_cast<size_t>(kKlaymoHeadSize) - got);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    failed = n < 0;
    err = errno;
    if (n > 0) got += static_cast<size_t>(n);
  }
  close(fd);
  if (failed) {
    std::fprintf(stderr, "klaymo-thumbnail: cannot read %s: %s\n", path, std::strerror(err));
    return false;
  }
  return true;
}

// What is at OUTPUT before the picture is written: whether a file is there (through a symbolic
// link: the file the link leads to) and its status, and whether OUTPUT itself is a link. One
// lstat answers all of it unless OUTPUT is a link.
struct OutputState {
  bool exists = false;
  bool link = false;
  struct stat st {};
};

OutputState ExamineOutput(const char* output) {
  OutputState state;
  if (lstat(output, &state.st) != 0) return state;
  state.link = S_ISLNK(state.st.st_mode);
  state.exists = !state.link || stat(output, &state.st) == 0;
  return state;
}

// Whether output names the document that was read: the same file by device and inode, whatever
// the spelling of the path, through a symbolic link or by another hard link.
bool NamesTheDocument(const OutputState& output, const struct stat& document) {
  return output.exists && output.st.st_dev == document.st_dev &&
         output.st.st_ino == document.st_ino;
}

// Saves bitmap with the JPEG saver to name; false, with errno describing a file failure where
// the system reported one, when the saver fails.
bool SaveJpeg(lumora::BaseBitmap* bitmap, const char* path, Int32* result) {
  lumora::Filename name(path);
  errno = 0;
  *result = bitmap->Save(name, lumora::FILTER_JPG, nullptr, lumora::SAVEBIT_NONE);
  return *result == lumora::BITMAPRESULT_OK;
}

void ReportSaveFailure(const char* output, Int32 result, int err) {
  const char* why = "the JPEG encoder failed";
  if (result == lumora::BITMAPRESULT_FILE)
    why = err != 0 ? std::strerror(err) : "the file cannot be opened or written";
  std::fprintf(stderr, "klaymo-thumbnail: cannot write %s: %s\n", output, why);
}

// The path a write to `path` lands on: symbolic links are followed, as open() does, to the last
// name in the chain, which need not exist (a dangling link is written through). A relative link
// is read from its own directory. Returns a path to free with std::free, or null with errno set.
char* FollowLinks(const char* path) {
  char* current = strdup(path);
  for (int hops = 0; current != nullptr; ++hops) {
    struct stat st;
    if (lstat(current, &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    if (hops == 40) {
      std::free(current);
      errno = ELOOP;
      return nullptr;
    }
    // The link's size may be 0 (some file systems do not report it): grow until it fits.
    char* link = nullptr;
    ssize_t got = -1;
    for (size_t room = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 256;; room *= 2) {
      char* grown = static_cast<char*>(std::realloc(link, room));
      if (grown == nullptr) {
        errno = ENOMEM;
        got = -1;
        break;
      }
      link = grown;
      got = readlink(current, link, room);
      if (got < 0 || static_cast<size_t>(got) < room) break;
    }
    if (got < 0) {
      int err = errno;
      std::free(link);
      std::free(current);
      errno = err;
      return nullptr;
    }
    const size_t length = static_cast<size_t>(got);
    const char* slash = std::strrchr(current, '/');
    const size_t directory =
        link[0] != '/' && slash != nullptr ? static_cast<size_t>(slash - current) + 1 : 0;
    char* next = static_cast<char*>(std::malloc(directory + length + 1));
    if (next != nullptr) {
      std::memcpy(next, current, directory);
      std::memcpy(next + directory, link, length);
      next[directory + length] = '\0';
    } else {
      errno = ENOMEM;
    }
    std::free(link);
    std::free(current);
    current = next;
  }
  return nullptr;
}

// Saves into a new temporary file beside target and renames it over target; output names the
// picture in messages. False, with a message on stderr, when the picture was not written.
bool ReplaceThroughTemporary(lumora::BaseBitmap* bitmap, const char* output, const char* target,
                             mode_t mode) {
  static const char kTemporaryName[] = ".klaymo-thumbnail-XXXXXX";
  const char* slash = std::strrchr(target, '/');
  const size_t directory = slash != nullptr ? static_cast<size_t>(slash - target) + 1 : 0;
  char* temp = static_cast<char*>(std::malloc(directory + sizeof kTemporaryName));
  if (temp == nullptr) {
    std::fprintf(stderr, "klaymo-thumbnail: cannot write %s: %s\n", output, std::strerror(ENOMEM));
    return false;
  }
  std::memcpy(temp, target, directory);
  std::memcpy(temp + directory, kTemporaryName, sizeof kTemporaryName);
  bool written = false;
  Int32 result = 0;
  int fd = mkstemp(temp);
  if (fd < 0) {
    std::fprintf(stderr, "klaymo-thumbnail: cannot write %s: %s\n", output, std::strerror(errno));
  } else {
    fchmod(fd, mode);
    close(fd);
    if (!SaveJpeg(bitmap, temp, &result)) {
      int err = errno;
      unlink(temp);
      ReportSaveFailure(output, result, err);
    } else if (rename(temp, target) != 0) {
      int err = errno;
      unlink(temp);
      std::fprintf(stderr, "klaymo-thumbnail: cannot write %s: %s\n", output, std::strerror(err));
    } else {
      written = true;
    }
  }
  std::free(temp);
  return written;
}

// Writes the picture to output. A save that fails must not leave a truncated picture behind, nor
// destroy what output held before: a new or regular output file is written under a temporary
// name in its directory and renamed over output once the save succeeded; on failure the
// temporary file is removed and output is untouched. A symbolic link, dangling or not, stays and
// the file it names is the one written, as shell redirection does. Anything else that exists at
// output (a device such as /dev/stdout, a pipe) cannot be renamed over and is written in place.
// False, with a message on stderr, when the picture was not written.
bool WritePicture(lumora::BaseBitmap* bitmap, const char* output, const OutputState& state) {
  Int32 result = 0;
  const struct stat& st = state.st;
  const bool exists = state.exists;
  // Opened by its own name: the links of /dev/stdout lead to names such as "pipe:[1234]".
  if (exists && !S_ISREG(st.st_mode)) {
    if (SaveJpeg(bitmap, output, &result)) return true;
    ReportSaveFailure(output, result, errno);
    return false;
  }

  char* target = state.link ? FollowLinks(output) : strdup(output);
  if (target == nullptr) {
    std::fprintf(stderr, "klaymo-thumbnail: cannot write %s: %s\n", output, std::strerror(errno));
    return false;
  }
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  const bool written = ReplaceThroughTemporary(bitmap, output, target, mode);
  std::free(target);
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  switch (ParseCommandLine(argc, argv, &line)) {
    case Request::kRun:
      break;
    case Request::kHelp:
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    case Request::kVersion:
      std::printf("klaymo-thumbnail (lumora) %s\n", LUMORA_VERSION);
      return 0;
    case Request::kUsageError:
      return 2;
  }

  static UChar pixels[kThumbnailBytes];
  static UChar head[kKlaymoHeadSize];
  std::memset(pixels, 0, sizeof pixels);
  std::memset(head, 0, sizeof head);

  // A document shorter than the head leaves the rest zero: no thumbnail, a black picture.
  struct stat document;
  if (!ReadHead(line.document, head, &document)) return 1;
  const OutputState output = ExamineOutput(line.output);
  if (NamesTheDocument(output, document)) {
    std::fprintf(stderr, "klaymo-thumbnail: %s names the document %s: not overwriting it\n",
                 line.output, line.document);
    return 1;
  }

  if (ReadKlaymoFileThumbnail(head, pixels) < 0 && line.requireThumbnail) {
    std::fprintf(stderr, "klaymo-thumbnail: %s holds no thumbnail\n", line.document);
    return 1;
  }

  lumora::BaseBitmap bitmap;
  bitmap.Init(kThumbnailSize, kThumbnailSize, 24, lumora::INITBITMAPFLAGS_NONE);
  CopyThumbnailToBitmap(pixels, &bitmap);
  return WritePicture(&bitmap, line.output, output) ? 0 : 1;
}

#endif  // KLAYMO_THUMBNAIL_NO_ENTRY
