// ConvertReport and the file-level conversions: the format tables, our scene files, and
// ConvertFile, which picks the direction from the names and renames a finished temporary file
// over the target.
#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "convert/lum_convert.h"
#include "objects/lum_baseobject.h"
#include "scene/lum_basedocument.h"
#include "stream/lum_hyperfile.h"

namespace lumora {

void ConvertReport::Add(Int32 n, const char* what, const char* why) {
  if (n <= 0) return;
  for (Int32 i = 0; i < _count; ++i) {
    Kind& k = _kinds[i];
    if (std::strcmp(k.what, what) == 0 && std::strcmp(k.why, why) == 0) {
      k.count += n;
      return;
    }
  }
  if (_count == MAX_KINDS) {
    Kind& last = _kinds[MAX_KINDS - 1];
    std::snprintf(last.what, sizeof last.what, "further items");
    std::snprintf(last.why, sizeof last.why, "not carried (too many kinds to list)");
    last.count += n;
    return;
  }
  Kind& k = _kinds[_count++];
  k.count = n;
  std::snprintf(k.what, sizeof k.what, "%s", what);
  std::snprintf(k.why, sizeof k.why, "%s", why);
}

Int32 ConvertReport::GetLine(Int32 i, char* dest, Int32 size) const {
  if (dest == nullptr || size <= 0) return 0;
  dest[0] = 0;
  if (i < 0 || i >= _count) return 0;
  const Kind& k = _kinds[i];
  const int n = std::snprintf(dest, size_t(size), "%d %s %s", int(k.count), k.what, k.why);
  return n < 0 ? 0 : (n < size ? n : size - 1);
}

void ConvertReport::Fail(Int32 code, const char* format, ...) {
  _errorCode = code != 0 ? code : -6;
  va_list args;
  va_start(args, format);
  std::vsnprintf(_error, sizeof _error, format, args);
  va_end(args);
}

void ConvertReport::Clear() {
  _count = 0;
  _errorCode = 0;
  _error[0] = 0;
}

namespace {

const char* Extension(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* dot = std::strrchr(path, '.');
  return dot != nullptr && (slash == nullptr || dot > slash) ? dot + 1 : nullptr;
}

// Assimp lists glTF 1 and 2 under the same extensions; the newer one is meant.
const char* PreferredFormat(const char* ext) {
  if (strcasecmp(ext, "glb") == 0) return "glb2";
  if (strcasecmp(ext, "gltf") == 0) return "gltf2";
  return nullptr;
}

}  // namespace

bool GetExportFormat(Int32 i, ConvertFormat& out) {
  Assimp::Exporter exporter;
  if (i < 0 || size_t(i) >= exporter.GetExportFormatCount()) return false;
  const aiExportFormatDesc* d = exporter.GetExportFormatDescription(size_t(i));
  // The descriptions live as long as the process: Assimp keeps them in static tables.
  out.id = d->id;
  out.extension = d->fileExtension;
  out.description = d->description;
  return true;
}

const char* FindExportFormat(const char* path) {
  const char* ext = Extension(path);
  if (ext == nullptr || IsSceneFile(path)) return nullptr;
  if (const char* preferred = PreferredFormat(ext)) return preferred;
  ConvertFormat f;
  for (Int32 i = 0; GetExportFormat(i, f); ++i)
    if (strcasecmp(f.extension, ext) == 0) return f.id;
  return nullptr;
}

bool CanImport(const char* path) {
  const char* ext = Extension(path);
  if (ext == nullptr) return false;
  char dotted[32];
  std::snprintf(dotted, sizeof dotted, ".%s", ext);
  Assimp::Importer importer;
  return importer.IsExtensionSupported(dotted);
}

bool IsSceneFile(const char* path) {
  const char* ext = Extension(path);
  return ext != nullptr && strcasecmp(ext, "lum") == 0;
}

bool ReadSceneObjects(const char* path, RootObject* objects, BaseDocument* document,
                      ConvertReport& report) {
  // Links between nodes are stored as identities; the table matches them as the nodes arrive.
  AliasTrans trans;
  HyperFile file;
  bool ok = trans.Init() && file.Open(Filename(path), FILEOPEN_READ);
  if (ok) {
    document->SetAliasTrans(&trans);
    file.SetDocument(document);
    ok = objects->ReadObject(&file, true) && file.GetError() == FILEERROR_NONE;
    trans.Zap(false);
    document->SetAliasTrans(nullptr);
  }
  const Int32 error = file.GetError();
  ok = file.Close() && ok;
  if (!ok)
    report.Fail(error != 0 ? error : -3, "%s: cannot read the scene file (error %d)", path,
                int(error));
  return ok;
}

bool WriteSceneObjects(const char* path, RootObject* objects, ConvertReport& report) {
  HyperFile file;
  bool ok = file.Open(Filename(path), FILEOPEN_WRITE) && objects->WriteObject(&file, 1);
  const Int32 error = file.GetError();
  ok = file.Close() && ok;
  if (!ok)
    report.Fail(error != 0 ? error : -4, "%s: cannot write the scene file (error %d)", path,
                int(error));
  return ok;
}

namespace {

// The conversion writes into a new folder beside out, under out's own name (an exporter may add
// files such as a glTF buffer or an OBJ material library, named after it), and the finished
// files are renamed into place, the main file last: a failure leaves nothing behind.
bool MakeStaging(const char* out, char* dir, size_t size, const char** base) {
  const char* slash = std::strrchr(out, '/');
  *base = slash != nullptr ? slash + 1 : out;
  const int prefix = slash != nullptr ? int(slash - out + 1) : 0;
  const int n = std::snprintf(dir, size, "%.*s.lumora-convert-XXXXXX", prefix, out);
  return n > 0 && size_t(n) < size && mkdtemp(dir) != nullptr;
}

void RemoveStaging(const char* dir) {
  if (DIR* d = opendir(dir)) {
    char path[4096];
    while (const dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      if (std::snprintf(path, sizeof path, "%s/%s", dir, e->d_name) < int(sizeof path))
        std::remove(path);
    }
    closedir(d);
  }
  rmdir(dir);
}

// Every file of the staging folder into out's folder, base (the main file) last.
bool Publish(const char* dir, const char* out, const char* base, ConvertReport& report) {
  const char* slash = std::strrchr(out, '/');
  const int prefix = slash != nullptr ? int(slash - out + 1) : 0;
  char from[4096], to[4096];
  DIR* d = opendir(dir);
  bool ok = d != nullptr;
  while (ok) {
    const dirent* e = readdir(d);
    if (e == nullptr) break;
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0 ||
        std::strcmp(e->d_name, base) == 0)
      continue;
    ok = std::snprintf(from, sizeof from, "%s/%s", dir, e->d_name) < int(sizeof from) &&
         std::snprintf(to, sizeof to, "%.*s%s", prefix, out, e->d_name) < int(sizeof to) &&
         std::rename(from, to) == 0;
  }
  if (d != nullptr) closedir(d);
  ok = ok && std::snprintf(from, sizeof from, "%s/%s", dir, base) < int(sizeof from) &&
       std::rename(from, out) == 0;
  if (!ok) report.Fail(-4, "%s: cannot put the file in place (%s)", out, std::strerror(errno));
  return ok;
}

bool Convert(const char* in, const char* target, const char* formatId,
             const ConvertOptions& options, ConvertReport& report) {
  BaseDocument document;  // before the objects: they point at it until they go
  RootObject objects;
  const bool fromOurs = IsSceneFile(in);
  if (fromOurs ? !ReadSceneObjects(in, &objects, &document, report)
               : !ImportObjects(in, &objects, options, report))
    return false;
  if (formatId == nullptr) return WriteSceneObjects(target, &objects, report);
  return ExportObjects(&objects, target, formatId, options, report);
}

}  // namespace

bool ConvertFile(const char* in, const char* out, const char* formatId,
                 const ConvertOptions& options, ConvertReport& report) {
  const bool fromOurs = IsSceneFile(in);
  const bool toOurs = formatId == nullptr && IsSceneFile(out);
  if (!toOurs && formatId == nullptr) formatId = FindExportFormat(out);
  if (!toOurs && formatId == nullptr) {
    report.Fail(-6, "%s: no export format for this name (give one with --format)", out);
    return false;
  }
  if (!fromOurs && !toOurs) {
    report.Fail(-6, "%s: one side of a conversion must be a scene file (.lum)", out);
    return false;
  }
  if (!fromOurs && !CanImport(in)) {
    report.Fail(-6, "%s: not a format that can be read", in);
    return false;
  }
  if (std::strcmp(in, out) == 0) {
    report.Fail(-6, "%s: the output names the input", out);
    return false;
  }
  char dir[4096], target[4200];
  const char* base = nullptr;
  if (!MakeStaging(out, dir, sizeof dir, &base)) {
    report.Fail(-1, "%s: cannot write beside it (%s)", out, std::strerror(errno));
    return false;
  }
  const bool ok = std::snprintf(target, sizeof target, "%s/%s", dir, base) < int(sizeof target) &&
                  Convert(in, target, toOurs ? nullptr : formatId, options, report) &&
                  Publish(dir, out, base, report);
  RemoveStaging(dir);
  return ok;
}

}  // namespace lumora
