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
#include "takes/lum_basetake.h"
#include "takes/lum_takesystemhook.h"

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

namespace {

// A Filename as the UTF-8 path Assimp and the C library take.
bool PathOf(const Filename& name, char* dest, Int32 size) {
  const String s = name.GetString();
  return s.GetCStringLen(STRINGENCODING_UTF8) < size &&
         s.GetCString(dest, size, STRINGENCODING_UTF8) >= 0;
}

void Explain(const ConvertReport& report, const Filename& name, FileErrorInfo* error) {
  if (error != nullptr) error->Set(report.GetErrorCode(), 0, 0, name);
}

void ReportBeyondObjects(const Scene& scene, ConvertReport& report) {
  Scene& s = const_cast<Scene&>(scene);
  Int32 takes = 0;
  if (TakeData* data = s.GetTakeData())
    if (BaseTake* main = data->GetMainTake())
      for (BaseTake* t = main->GetDown(); t != nullptr; t = t->GetNext()) ++takes;
  report.Add(takes, "takes", "not exported: the format has no scene variations");
  Int32 renders = 0;
  if (const BaseDocument* doc = s.GetDocument())
    for (BaseList2D* r = doc->GetFirstRenderData(); r != nullptr;
         r = static_cast<BaseList2D*>(r->GetNext()))
      ++renders;
  report.Add(renders, "render settings", "not exported: the format has none");
}

}  // namespace

bool ExportScene(const Scene& scene, const Filename& path, const char* formatId,
                 const ConvertOptions& options, ConvertReport& report, FileErrorInfo* error) {
  char p[4096];
  if (!PathOf(path, p, sizeof p)) {
    report.Fail(-6, "the file name is too long");
    Explain(report, path, error);
    return false;
  }
  ReportBeyondObjects(scene, report);
  RootObject* objects = const_cast<Scene&>(scene).GetObjects();
  RootObject none;
  const bool ok = ExportObjects(objects != nullptr ? objects : &none, p, formatId, options, report);
  if (!ok) Explain(report, path, error);
  return ok;
}

bool ImportScene(const Filename& path, Scene& scene, const ConvertOptions& options,
                 ConvertReport& report, FileErrorInfo* error) {
  scene.Clear();
  char p[4096];
  bool ok = PathOf(path, p, sizeof p);
  if (!ok) report.Fail(-6, "the file name is too long");
  if (ok && scene.GetObjects() == nullptr) {
    report.Fail(-7, "%s: out of memory", p);
    ok = false;
  }
  ok = ok && ImportObjects(p, scene.GetObjects(), options, report);
  if (!ok) {
    scene.Clear();
    Explain(report, path, error);
  }
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
  Scene scene;
  FileErrorInfo error;
  if (IsSceneFile(in)) {
    if (!scene.Read(Filename(in), &error)) {
      report.Fail(error.code != 0 ? error.code : -3, "%s", error.Describe());
      return false;
    }
  } else if (!ImportScene(Filename(in), scene, options, report)) {
    return false;
  }
  if (formatId != nullptr) return ExportScene(scene, Filename(target), formatId, options, report);
  if (scene.Write(Filename(target), &error)) return true;
  // The name in the message is the one asked for, not the staging copy's.
  report.Fail(error.code != 0 ? error.code : -4, "cannot write the scene file: %s",
              error.Describe());
  return false;
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
