// The thumbnail in Python: lumora.thumbnail(path) decodes the 96 x 96 preview a Klaymo document
// stores near its start, with the decoder of klaymo-thumbnail, into a (96, 96, 3) uint8 array;
// lumora.save_jpeg(pixels, path) writes such an array with the library's JPEG saver.
#include <pybind11/numpy.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "klaymo_thumbnail.h"
#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

[[noreturn]] void RaiseOSError(py::handle path) {
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
  throw py::error_already_set();
}

py::array_t<UChar> Thumbnail(py::object path, bool required) {
  const std::string name = py::bytes(py::module_::import("os").attr("fsencode")(path));
  std::vector<UChar> head(kKlaymoHeadSize, 0);
  std::vector<UChar> pixels(kThumbnailBytes, 0);
  // A document shorter than the head leaves the rest zero, as the tool reads it.
  FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) RaiseOSError(path);
  errno = 0;
  (void)std::fread(head.data(), 1, head.size(), file);
  const bool failed = std::ferror(file) != 0;
  const int err = errno;
  std::fclose(file);
  if (failed) {
    errno = err != 0 ? err : EIO;
    RaiseOSError(path);
  }
  if (ReadKlaymoFileThumbnail(head.data(), pixels.data()) < 0 && required)
    throw py::value_error(std::string(py::str(path)) + " holds no thumbnail");
  py::array_t<UChar> out({kThumbnailSize, kThumbnailSize, 3});
  UChar* rgb = out.mutable_data();
  for (int i = 0; i < kThumbnailSize * kThumbnailSize; ++i)
    std::memcpy(rgb + 3 * i, pixels.data() + 4 * i, 3);
  return out;
}

void SaveJpeg(py::array_t<UChar, py::array::c_style | py::array::forcecast> pixels, py::object path,
              Int32 quality) {
  if (pixels.ndim() != 3 || pixels.shape(2) != 3)
    throw py::value_error("save_jpeg takes an array of shape (height, width, 3)");
  const py::ssize_t h = pixels.shape(0), w = pixels.shape(1);
  if (h < 1 || w < 1 || h > BITMAP_MAX_SIZE || w > BITMAP_MAX_SIZE)
    throw py::value_error("the picture must be 1 to 128000 pixels wide and high");
  if (quality < 1 || quality > 100) throw py::value_error("quality runs from 1 to 100");
  BaseBitmap bitmap;
  if (bitmap.Init(Int32(w), Int32(h), 24, INITBITMAPFLAGS_NONE) != BITMAPRESULT_OK)
    throw std::bad_alloc();
  for (py::ssize_t r = 0; r < h; ++r)
    bitmap.SetPixelCnt(0, Int32(r), Int32(w), pixels.data(r, 0, 0), 3, COLORMODE_RGB,
                       PIXELCNT_NONE);
  BaseContainer settings;
  if (!settings.SetInt32(JPGSAVER_QUALITY, quality)) throw std::bad_alloc();
  const std::string name = py::str(py::module_::import("os").attr("fsdecode")(path));
  errno = 0;
  const Int32 result = bitmap.Save(Filename(name.c_str()), FILTER_JPG, &settings, SAVEBIT_NONE);
  if (result == BITMAPRESULT_FILE) {
    if (errno == 0) errno = EIO;
    RaiseOSError(path);
  }
  if (result != BITMAPRESULT_OK)
    throw std::runtime_error("the JPEG encoder failed (" + std::to_string(result) + ")");
}

}  // namespace

void RegisterThumbnail(py::module_& m) {
  m.def("thumbnail", &Thumbnail, py::arg("path"), py::arg("required") = false,
        "The 96 x 96 preview of a Klaymo document as a (96, 96, 3) uint8 array of RGB rows, top "
        "row first. A document without one gives a black picture, or ValueError when required.");
  m.def("save_jpeg", &SaveJpeg, py::arg("pixels"), py::arg("path"), py::arg("quality") = 95,
        "Writes a (height, width, 3) uint8 RGB array as a baseline JPEG file.");
}

}  // namespace lumpy
