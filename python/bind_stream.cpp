// The stream family in Python: lumora.FileError, BaseTime and HyperFile with its chunks.
//
// A HyperFile is opened by its constructor and closed by close() or by leaving its with block.
// Every operation checks the stream's result and raises FileError with the stream's error code
// and the byte offset where the operation failed; after the first failure the stream stays
// failed, as in C++.
#include <pybind11/numpy.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "lum_py.h"

namespace lumpy {

using namespace lumora;

namespace {

py::object g_fileError;

class PyHyperFile {
 public:
  PyHyperFile(py::handle path, const std::string& mode, Int32 version, bool float32,
              const std::string& byteOrder) {
    if (mode == "r") {
      _mode = FILEOPEN_READ;
    } else if (mode == "w") {
      _mode = FILEOPEN_WRITE;
    } else {
      throw py::value_error("HyperFile mode must be 'r' or 'w'");
    }
    _hf.SetFileVersion(version);
    _hf.SetFloat32Mode(float32);
    _name = py::str(path);
    _path = py::str(py::module_::import("os").attr("fsdecode")(path));
    if (!_hf.Open(ToFilename(path), _mode)) Fail("opening " + _name);
    if (_mode == FILEOPEN_READ && !_trans.Init()) throw std::bad_alloc();
    _open = true;
    if (byteOrder == "little") {
      _hf.SetByteOrder(BYTEORDER_INTEL);
    } else if (byteOrder != "big") {
      throw py::value_error("byte_order must be 'big' or 'little'");
    }
  }

  HyperFile& hf() {
    if (!_open) throw py::value_error("I/O operation on a closed HyperFile");
    return _hf;
  }
  bool reading() const { return _mode == FILEOPEN_READ; }
  // Every node read from this file goes through one translation, resolved at close: a link
  // from one list to another read separately reconnects.
  AliasTrans* trans() { return reading() ? &_trans : nullptr; }
  bool open() const { return _open; }

  // Raises FileError for a failed operation: the stream's code, or READ when the stream failed
  // without recording one (the end of the file came first). The offset is where the stream
  // stopped (the value whose read or write failed), as the library reports it; without a
  // recorded error, the position after the last operation that succeeded.
  [[noreturn]] void Fail(const std::string& what) {
    const bool recorded = _hf.GetError() != FILEERROR_NONE;
    const Int32 code = recorded ? _hf.GetError() : FILEERROR_READ;
    RaiseFileError(code, recorded ? _hf.GetErrorPosition() : _good,
                   (what + " (" + _name + ")").c_str(), _hf.GetOSError());
  }
  void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
    _good = _hf.GetPosition();
  }

  // Writing: chunks are counted so that closing knows whether one is still open.
  void StartChunk(Int32 id, Int32 level) {
    Check(hf().WriteChunkStart(id, level), "writing a chunk start");
    ++_openChunks;
  }
  void EndChunk() {
    Check(hf().WriteChunkEnd(), "writing a chunk end");
    --_openChunks;
  }

  // Raises only for a failure of closing itself: one reported already is not reported again.
  // Writing, a file left with a chunk open, or whose writing failed (failed is true when an
  // exception leaves a with block), is removed rather than left half written; closing with a
  // chunk open raises.
  void Close(bool failed = false) {
    if (!_open) return;
    _open = false;
    if (reading()) _trans.Zap(true);
    const Int64 at = _hf.GetPosition();
    const Int32 open = _mode == FILEOPEN_WRITE ? _openChunks : 0;
    const bool failedBefore = _hf.GetError() != FILEERROR_NONE;
    const bool closed = _hf.Close();
    if (_mode == FILEOPEN_WRITE && (failed || failedBefore || open > 0 || !closed))
      std::remove(_path.c_str());
    if (failed || failedBefore) return;
    if (open > 0)
      RaiseFileError(FILEERROR_CHUNKEND_MISSING, at,
                     ("closing " + _name + " with " + std::to_string(open) +
                      " chunk(s) open; the file was removed")
                         .c_str());
    if (!closed) {
      const Int32 code = _hf.GetError() != FILEERROR_NONE ? _hf.GetError() : FILEERROR_CLOSE;
      RaiseFileError(code, at, ("closing " + _name).c_str(), _hf.GetOSError());
    }
  }

 private:
  HyperFile _hf;
  AliasTrans _trans;
  FILEOPEN _mode = FILEOPEN_READ;
  bool _open = false;
  Int64 _good = 0;
  std::string _name;
  std::string _path;
  Int32 _openChunks = 0;
};

// A chunk as a context manager: writing, entering writes its start and leaving its end;
// reading, entering reads a chunk start and leaving skips what was not read up to its end.
// An exception inside the block leaves the stream where it is.
struct PyChunk {
  py::object owner;
  PyHyperFile* file;
  Int32 id;
  Int32 level;

  PyChunk* Enter() {
    HyperFile& hf = file->hf();
    if (file->reading()) {
      file->Check(hf.CheckIt(HYPERFILEVALUE_CHUNKSTART) && hf.ReadChunkStart(&id, &level),
                  "reading a chunk start");
    } else {
      file->StartChunk(id, level);
    }
    return this;
  }
  void Exit(py::handle type, py::handle, py::handle) {
    if (!type.is_none()) return;
    HyperFile& hf = file->hf();
    if (file->reading()) {
      file->Check(hf.SkipToEndChunk(), "skipping to the chunk's end");
    } else {
      file->EndChunk();
    }
  }
};

HYPERFILEARRAY ArrayType(const py::dtype& dt) {
  const char kind = dt.kind();
  const auto size = dt.itemsize();
  if ((kind == 'i' || kind == 'u') && size == 1) return HYPERFILEARRAY_CHAR;
  if (kind == 'i' && size == 2) return HYPERFILEARRAY_INT16;
  if (kind == 'i' && size == 4) return HYPERFILEARRAY_INT32;
  if (kind == 'i' && size == 8) return HYPERFILEARRAY_INT64;
  if (kind == 'f' && size == 4) return HYPERFILEARRAY_FLOAT32;
  if (kind == 'f' && size == 8) return HYPERFILEARRAY_FLOAT64;
  throw py::type_error("write_array takes int8, int16, int32, int64, float32 or float64 elements");
}

template <typename T, typename R>
py::object ReadNumber(PyHyperFile& f, bool (HyperFile::*read)(R*), const char* what) {
  R value{};
  f.Check((f.hf().*read)(&value), what);
  return py::cast(T(value));
}

void BindHyperFile(py::module_& m) {
  py::class_<PyChunk>(m, "Chunk", "A chunk of a HyperFile, as a context manager.")
      .def_readonly("id", &PyChunk::id)
      .def_readonly("level", &PyChunk::level)
      .def("__enter__", &PyChunk::Enter, py::return_value_policy::reference)
      .def("__exit__", &PyChunk::Exit);

  py::class_<PyHyperFile> hf(m, "HyperFile",
                             "The chunked scene-file stream, opened for reading ('r') or "
                             "writing ('w').");
  hf.def(py::init<py::handle, const std::string&, Int32, bool, const std::string&>(),
         py::arg("path"), py::arg("mode") = "r", py::arg("version") = HYPERFILE_CURRENT_VERSION,
         py::arg("float32") = false, py::arg("byte_order") = "big")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](PyHyperFile& f, py::handle type, py::handle, py::handle) {
             // A failure inside the block is the one to report; closing may not mask it.
             if (!type.is_none()) {
               try {
                 f.Close(true);
               } catch (py::error_already_set&) {
               }
               return;
             }
             f.Close();
           })
      .def("close", [](PyHyperFile& f) { f.Close(); })
      .def_property_readonly("closed", [](PyHyperFile& f) { return !f.open(); })
      .def_property_readonly("error", [](PyHyperFile& f) { return Int32(f.hf().GetError()); })
      .def_property_readonly("position", [](PyHyperFile& f) { return f.hf().GetPosition(); })
      .def_property_readonly("length", [](PyHyperFile& f) { return f.hf().GetLength(); })
      .def_property_readonly("chunk_depth", [](PyHyperFile& f) { return f.hf().GetChunkDepth(); })
      .def_property(
          "file_version", [](PyHyperFile& f) { return f.hf().GetFileVersion(); },
          [](PyHyperFile& f, Int32 v) { f.hf().SetFileVersion(v); })
      .def_property(
          "float32", [](PyHyperFile& f) { return f.hf().GetFloat32Mode(); },
          [](PyHyperFile& f, bool on) { f.hf().SetFloat32Mode(on); })
      .def(
          "chunk",
          [](py::object self, Int32 id, Int32 level) {
            return PyChunk{self, self.cast<PyHyperFile*>(), id, level};
          },
          py::arg("id") = 0, py::arg("level") = 0,
          "Writing: a chunk with this id and level. Reading: the next chunk (its id and level "
          "are read on entering).");

  // Writers: one per value kind.
#define LUMPY_WRITE(pyname, method, type)                   \
  hf.def(pyname, [](PyHyperFile& f, type value) {           \
    f.Check(f.hf().method(value), "writing with " #method); \
  })
  LUMPY_WRITE("write_uchar", WriteUChar, UChar);
  LUMPY_WRITE("write_int32", WriteInt32, Int32);
  LUMPY_WRITE("write_uint32", WriteUInt32, UInt32);
  LUMPY_WRITE("write_int64", WriteInt64, Int64);
  LUMPY_WRITE("write_float32", WriteFloat32, Float32);
  LUMPY_WRITE("write_float", WriteFloat, Float64);
  LUMPY_WRITE("write_bool", WriteBool, bool);
  LUMPY_WRITE("write_time", WriteTime, const BaseTime&);
  LUMPY_WRITE("write_container", WriteContainer, const BaseContainer&);
#undef LUMPY_WRITE
  hf.def("write_vector", [](PyHyperFile& f, py::handle v) {
    f.Check(f.hf().WriteVector(ToVector(v)), "writing a vector");
  });
  hf.def("write_vector32", [](PyHyperFile& f, py::handle v) {
    const Vector64 d = ToVector(v);
    f.Check(f.hf().WriteVector32(Vector32(Float32(d.x), Float32(d.y), Float32(d.z))),
            "writing a vector");
  });
  hf.def("write_vector64", [](PyHyperFile& f, py::handle v) {
    f.Check(f.hf().WriteVector64(ToVector(v)), "writing a vector");
  });
  hf.def("write_matrix", [](PyHyperFile& f, py::handle v) {
    f.Check(f.hf().WriteMatrix(ToMatrix(v)), "writing a matrix");
  });
  hf.def("write_string", [](PyHyperFile& f, py::handle v) {
    f.Check(f.hf().WriteString(ToString(v)), "writing a string");
  });
  hf.def("write_filename", [](PyHyperFile& f, py::handle v) {
    f.Check(f.hf().WriteFilename(ToFilename(v)), "writing a file name");
  });
  hf.def("write_memory", [](PyHyperFile& f, py::buffer b) {
    // The bytes in C order: a view with strides (reversed, every other element) is copied.
    py::object contiguous = py::memoryview(b).attr("c_contiguous");
    if (!contiguous.cast<bool>()) {
      py::bytes copy = py::memoryview(b).attr("tobytes")();
      std::string bytes = copy;
      f.Check(f.hf().WriteMemory(bytes.data(), Int64(bytes.size())), "writing memory");
      return;
    }
    py::buffer_info info = b.request();
    f.Check(f.hf().WriteMemory(info.ptr, Int64(info.size * info.itemsize)), "writing memory");
  });
  hf.def("write_gedata", [](PyHyperFile& f, py::handle v) {
    f.Check(f.hf().WriteGeData(PythonToGeData(v)), "writing a value");
  });
  hf.def(
      "write_array",
      [](PyHyperFile& f, py::array a) {
        a = py::array::ensure(a, py::array::c_style);
        if (!a || a.ndim() != 1) throw py::value_error("write_array takes a one-dimensional array");
        const HYPERFILEARRAY type = ArrayType(a.dtype());
        if (a.size() > 0x7FFFFFFF) throw py::value_error("too many elements for one array");
        f.Check(f.hf().WriteArray(a.data(), type, Int32(a.itemsize()), Int32(a.size())),
                "writing an array");
      },
      "A typed array from a one-dimensional numpy array (int8/uint8, int16, int32, int64, "
      "float32, float64).");
  hf.def(
      "write_vector_array",
      [](PyHyperFile& f, py::array_t<Float64, py::array::c_style | py::array::forcecast> points) {
        if (points.ndim() != 2 || points.shape(1) != 3)
          throw py::value_error("write_vector_array takes an array of shape (n, 3)");
        if (points.shape(0) > 0x7FFFFFFF) throw py::value_error("too many vectors for one array");
        // An (n, 3) float64 array has the layout of n Vector64: no copy.
        static_assert(sizeof(Vector64) == 3 * sizeof(Float64), "Vector64 is three doubles");
        const auto* data = reinterpret_cast<const Vector64*>(points.data());
        const Int32 count = Int32(points.shape(0));
        // The interpreter stays locked: another thread may not use the stream meanwhile.
        f.Check(_HFWriteArray(&f.hf(), data, count), "writing a vector array");
      },
      "An (n, 3) array of vectors as the library stores point arrays: the count, then all x, "
      "all y, all z.");
  hf.def(
      "read_vector_array",
      [](PyHyperFile& f) {
        Vector64* data = nullptr;
        Int32 count = 0;
        f.Check(_HFReadArray(&f.hf(), &data, &count), "reading a vector array");
        if (data == nullptr) return py::array_t<Float64>(std::vector<py::ssize_t>{0, 3});
        // The block becomes the array's memory; it goes back to MemFree with the array.
        py::capsule owner(data, [](void* block) { MemFree(block); });
        return py::array_t<Float64>({py::ssize_t(count), py::ssize_t(3)},
                                    reinterpret_cast<Float64*>(data), owner);
      },
      "What write_vector_array wrote, as an (n, 3) float64 array.");
  hf.def("write_chunk_start",
         [](PyHyperFile& f, Int32 id, Int32 level) { f.StartChunk(id, level); });
  hf.def("write_chunk_end", [](PyHyperFile& f) { f.EndChunk(); });

  // Readers: each raises FileError when the next value is of another kind.
  hf.def("read_uchar", [](PyHyperFile& f) {
    return ReadNumber<int>(f, &HyperFile::ReadUChar, "reading a uchar");
  });
  hf.def("read_int32", [](PyHyperFile& f) {
    return ReadNumber<Int32>(f, &HyperFile::ReadInt32, "reading an int32");
  });
  hf.def("read_uint32", [](PyHyperFile& f) {
    return ReadNumber<UInt32>(f, &HyperFile::ReadUInt32, "reading a uint32");
  });
  hf.def("read_int64", [](PyHyperFile& f) {
    return ReadNumber<Int64>(f, &HyperFile::ReadInt64, "reading an int64");
  });
  hf.def("read_float32", [](PyHyperFile& f) {
    return ReadNumber<double>(f, &HyperFile::ReadFloat32, "reading a float32");
  });
  hf.def("read_float", [](PyHyperFile& f) {
    return ReadNumber<double>(f, &HyperFile::ReadFloat, "reading a float");
  });
  hf.def("read_float64", [](PyHyperFile& f) {
    return ReadNumber<double>(f, &HyperFile::ReadFloat64, "reading a float64");
  });
  hf.def("read_bool", [](PyHyperFile& f) {
    return ReadNumber<bool>(f, &HyperFile::ReadBool, "reading a bool");
  });
  hf.def("read_time", [](PyHyperFile& f) {
    BaseTime t;
    f.Check(f.hf().ReadTime(&t), "reading a time");
    return t;
  });
  hf.def("read_vector", [](PyHyperFile& f) {
    Vector64 v;
    f.Check(f.hf().ReadVector(&v), "reading a vector");
    return FromVector(v);
  });
  hf.def("read_vector32", [](PyHyperFile& f) {
    Vector32 v;
    f.Check(f.hf().ReadVector32(&v), "reading a vector");
    return FromVector(Vector64(v.x, v.y, v.z));
  });
  hf.def("read_vector64", [](PyHyperFile& f) {
    Vector64 v;
    f.Check(f.hf().ReadVector64(&v), "reading a vector");
    return FromVector(v);
  });
  hf.def("read_matrix", [](PyHyperFile& f) {
    Matrix64 v;
    f.Check(f.hf().ReadMatrix(&v), "reading a matrix");
    return FromMatrix(v);
  });
  hf.def("read_string", [](PyHyperFile& f) {
    String s;
    f.Check(f.hf().ReadString(&s), "reading a string");
    return ToPython(s);
  });
  hf.def("read_filename", [](PyHyperFile& f) {
    Filename s;
    f.Check(f.hf().ReadFilename(&s), "reading a file name");
    return ToPythonPath(s);
  });
  hf.def("read_memory", [](PyHyperFile& f) {
    void* data = nullptr;
    Int64 size = 0;
    f.Check(f.hf().ReadMemory(&data, &size), "reading memory");
    py::bytes b(static_cast<const char*>(data), size_t(size));
    MemFree(data);
    return b;
  });
  hf.def("read_container", [](PyHyperFile& f) {
    BaseContainer bc;
    f.Check(f.hf().ReadContainer(&bc, true), "reading a container");
    return bc;
  });
  hf.def("read_gedata", [](PyHyperFile& f) {
    GeData d;
    f.Check(f.hf().ReadGeData(&d), "reading a value");
    return GeDataToPython(d);
  });
  hf.def(
      "read_array",
      [](PyHyperFile& f, py::object dtype, Int32 count) {
        py::array out(py::dtype::from_args(dtype), std::vector<py::ssize_t>{py::ssize_t(count)});
        const HYPERFILEARRAY type = ArrayType(out.dtype());
        f.Check(f.hf().ReadArray(out.mutable_data(), type, Int32(out.itemsize()), count),
                "reading an array");
        return out;
      },
      py::arg("dtype"), py::arg("count"),
      "count elements of a typed array into a new numpy array of dtype.");
  hf.def("read_value_header", [](PyHyperFile& f) {
    HYPERFILEVALUE kind = HYPERFILEVALUE_NONE;
    f.Check(f.hf().ReadValueHeader(&kind), "reading a value header");
    return Int32(kind);
  });
  hf.def("skip_value", [](PyHyperFile& f, Int32 kind) {
    f.Check(f.hf().SkipValue(HYPERFILEVALUE(kind)), "skipping a value");
  });
  hf.def("read_chunk_start", [](PyHyperFile& f) {
    Int32 id = 0, level = 0;
    f.Check(f.hf().ReadChunkStart(&id, &level), "reading a chunk start");
    return py::make_tuple(id, level);
  });
  // The node families write and read themselves through these (see bind_nodes.cpp).
  hf.def("_write_object", [](PyHyperFile& f, GeListNode* node, Int32 id) {
    f.Check(node->WriteObject(&f.hf(), id), "writing a node");
  });
  hf.def("_read_object", [](PyHyperFile& f, GeListNode* node) {
    f.Check(ReadNodeFrom(&f.hf(), node, f.trans()), "reading a node");
  });
  hf.def("read_chunk_end",
         [](PyHyperFile& f) { f.Check(f.hf().ReadChunkEnd(), "reading a chunk end"); });
  hf.def("skip_to_end_chunk",
         [](PyHyperFile& f) { f.Check(f.hf().SkipToEndChunk(), "skipping to the chunk's end"); });
}

void BindBaseTime(py::module_& m) {
  py::class_<BaseTime>(m, "BaseTime", "A time as a reduced fraction of seconds.")
      .def(py::init<>())
      .def(py::init<Float64>(), py::arg("seconds"))
      .def(py::init<Float64, Float64>(), py::arg("numerator"), py::arg("denominator"))
      .def("get", &BaseTime::Get)
      .def("__float__", &BaseTime::Get)
      .def_property_readonly("numerator", &BaseTime::GetNumerator)
      .def_property_readonly("denominator", &BaseTime::GetDenominator)
      .def("__eq__", [](const BaseTime& a, const BaseTime& b) { return a == b; })
      .def("__repr__", [](const BaseTime& t) {
        return "BaseTime(" + std::to_string(t.GetNumerator()) + ", " +
               std::to_string(t.GetDenominator()) + ")";
      });
}

}  // namespace

const char* FileErrorName(Int32 code) { return lumora::FileErrorName(code); }

void RaiseFileError(Int32 code, Int64 offset, const char* what, Int32 osError) {
  std::string message =
      std::string(what) + ": " + FileErrorName(code) + " (" + std::to_string(code) + ")";
  if (osError != 0) message += std::string(": ") + std::strerror(osError);
  if (code != FILEERROR_OPEN) message += " at byte " + std::to_string(offset);
  py::object error = g_fileError(message);
  error.attr("code") = code;
  error.attr("offset") = offset;
  error.attr("name") = FileErrorName(code);
  // As OSError has them: errno and its text where the system was involved (else None).
  if (osError != 0) {
    error.attr("errno") = osError;
    error.attr("strerror") = std::strerror(osError);
  }
  PyErr_SetObject(g_fileError.ptr(), error.ptr());
  throw py::error_already_set();
}

void UseStream(py::handle hf, const char* what, const std::function<bool(HyperFile*)>& op) {
  PyHyperFile& f = hf.cast<PyHyperFile&>();
  f.Check(op(&f.hf()), what);
}

// The C++ path of bench/python_points_bench.py: the same points written and read back through
// the library alone, timed inside. Seconds.
double PointsRoundTripCpp(py::array_t<Float64, py::array::c_style> points, py::handle path) {
  if (points.ndim() != 2 || points.shape(1) != 3) throw py::value_error("expected (n, 3)");
  const Filename name = ToFilename(path);
  const auto* data = reinterpret_cast<const Vector64*>(points.data());
  const Int32 count = Int32(points.shape(0));
  const auto start = std::chrono::steady_clock::now();
  HyperFile out;
  bool ok = out.Open(name, FILEOPEN_WRITE) && _HFWriteArray(&out, data, count) && out.Close();
  HyperFile in;
  Vector64* back = nullptr;
  Int32 n = 0;
  ok = ok && in.Open(name, FILEOPEN_READ) && _HFReadArray(&in, &back, &n) && in.Close();
  const auto end = std::chrono::steady_clock::now();
  ok = ok && n == count && std::memcmp(back, data, size_t(n) * sizeof(Vector64)) == 0;
  DeleteMem(back);
  if (!ok) throw std::runtime_error("the C++ round trip failed");
  return std::chrono::duration<double>(end - start).count();
}

void RegisterStream(py::module_& m) {
  m.def("_points_round_trip_cpp", &PointsRoundTripCpp,
        "For bench/python_points_bench.py: the C++ path of the points round trip, in seconds.");
  g_fileError = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc("lumora.FileError",
                                "A scene file could not be read or written. code is the "
                                "FILEERROR number, name its name, offset the byte position.",
                                PyExc_OSError, nullptr));
  // The message names the file, what failed and where; OSError's own form would show only the
  // errno and its text once errno is set.
  g_fileError.attr("__str__") =
      py::cpp_function([](py::handle self) { return py::str(self.attr("args")[py::int_(0)]); },
                       py::is_method(g_fileError));
  m.attr("FileError") = g_fileError;
  for (Int32 code : {FILEERROR_NONE, FILEERROR_OPEN, FILEERROR_CLOSE, FILEERROR_READ,
                     FILEERROR_WRITE, FILEERROR_SEEK, FILEERROR_INVALID, FILEERROR_OUTOFMEMORY,
                     FILEERROR_WRONG_VALUE, FILEERROR_CHUNK_EXPECTED, FILEERROR_CHUNKEND_MISSING,
                     FILEERROR_TOO_DEEP})
    m.attr((std::string("FILEERROR_") + FileErrorName(code)).c_str()) = code;
  m.attr("HYPERFILE_CURRENT_VERSION") = HYPERFILE_CURRENT_VERSION;
  BindBaseTime(m);
  BindHyperFile(m);
}

}  // namespace lumpy
