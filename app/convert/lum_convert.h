// lumora_convert: scenes to and from the formats Assimp reads and writes.
//
// The conversion works on a list of objects (RootObject): ExportObjects builds an Assimp scene
// from it and writes it in one of Assimp's export formats, ImportObjects reads any file Assimp
// imports into such a list. What one side has and the other has not is counted in a
// ConvertReport, one line per kind, never dropped silently. doc/convert.md holds the mapping.
//
// This layer sits above the library and is used only by the tools and their tests: the library
// itself never depends on Assimp. The Assimp scene is built with Assimp's own allocation rules
// (it frees what it owns with delete), so that part of the memory does not pass through the
// application's memory functions.
#ifndef LUM_CONVERT_H
#define LUM_CONVERT_H

#include "document/lum_scene.h"
#include "foundation/lum_filename.h"
#include "objects/lum_baseobject.h"
#include "stream/lum_fileerror.h"

namespace lumora {

struct ConvertOptions {
  // Split quadrangles and n-gons into triangles even where the format keeps polygons.
  bool triangulate = false;
  // Animation sampled where the format interpolates otherwise: the largest allowed distance
  // from the curve, as a fraction of the range of the curve's values.
  Float animationTolerance = 1e-4;
  // The picture aspect (width / height) a camera's field of view is given for; the scene file
  // keeps no aspect of its own. Imported cameras with an aspect use theirs.
  Float cameraAspect = 16.0 / 9.0;
  // Called now and then with the share of the work done (0 to 1); may be null.
  void (*progress)(void* user, Float done) = nullptr;
  void* progressUser = nullptr;
};

// What a conversion could not carry, counted per kind, and the reason of a failure.
class ConvertReport {
 public:
  static constexpr Int32 MAX_KINDS = 48;
  static constexpr Int32 LINE_SIZE = 160;

  ConvertReport() = default;
  ConvertReport(const ConvertReport&) = delete;
  ConvertReport& operator=(const ConvertReport&) = delete;

  // Counts n more of a kind: "spline objects" and "not exported: the format has no curves"
  // give the line "2 spline objects not exported: the format has no curves". Kinds beyond
  // MAX_KINDS share one last line.
  void Add(Int32 n, const char* what, const char* why);
  Int32 GetLineCount() const { return _count; }
  // Line i (0 .. GetLineCount() - 1) into dest, always terminated; the length written.
  Int32 GetLine(Int32 i, char* dest, Int32 size) const;

  // The failure: a FILEERROR code (or -6 for a conversion that cannot be done) and one line.
  void Fail(Int32 code, const char* format, ...);
  bool Failed() const { return _errorCode != 0; }
  Int32 GetErrorCode() const { return _errorCode; }
  const char* GetError() const { return _error; }
  void Clear();

 private:
  struct Kind {
    Int32 count;
    char what[64];
    char why[88];
  };
  Kind _kinds[MAX_KINDS] = {};
  Int32 _count = 0;
  Int32 _errorCode = 0;
  char _error[LINE_SIZE * 2] = {};
};

// One of Assimp's export formats: its id (for --format) and its file extension.
struct ConvertFormat {
  const char* id;
  const char* extension;
  const char* description;
};
// The export formats, in Assimp's order; false beyond the last.
bool GetExportFormat(Int32 i, ConvertFormat& out);
// The export format for a file name's extension (case-insensitive); null when none or when the
// extension names ours. A few extensions name two formats (glTF 1 and 2): the newer one wins.
const char* FindExportFormat(const char* path);
// Whether Assimp reads files with the extension of path.
bool CanImport(const char* path);
// Whether path names a scene file of ours (extension .lum).
bool IsSceneFile(const char* path);

// Writes objects (and everything below them) as formatId. False with the reason in report.
bool ExportObjects(RootObject* objects, const char* path, const char* formatId,
                   const ConvertOptions& options, ConvertReport& report);
// Reads path with Assimp and appends its objects to objects. False with the reason in report
// (objects then holds nothing new).
bool ImportObjects(const char* path, RootObject* objects, const ConvertOptions& options,
                   ConvertReport& report);

// A whole scene: its objects as ExportObjects writes them, and what the scene has beyond its
// objects (takes, render settings) counted in the report. False with the reason in report and,
// when given, error (code FILEERROR_INVALID for a conversion that cannot be done).
bool ExportScene(const Scene& scene, const Filename& path, const char* formatId,
                 const ConvertOptions& options, ConvertReport& report,
                 FileErrorInfo* error = nullptr);
// Replaces scene's content with what Assimp reads from path (an empty scene on failure).
bool ImportScene(const Filename& path, Scene& scene, const ConvertOptions& options,
                 ConvertReport& report, FileErrorInfo* error = nullptr);

// IN to OUT, the direction from the names: ours to any export format (formatId, or from OUT's
// extension when null), any format Assimp reads to ours, or ours to ours. OUT is written to a
// temporary file beside it and renamed over it, so a failure leaves no partial file.
bool ConvertFile(const char* in, const char* out, const char* formatId,
                 const ConvertOptions& options, ConvertReport& report);

}  // namespace lumora

#endif  // LUM_CONVERT_H
