#include "stream_support.h"

#include <gtest/gtest.h>

#include <csignal>

#include "test_support.h"

namespace lumtest {

using namespace lumora;

namespace {

Bytes Collected(Filename& name, bool checked) {
  const void* p = nullptr;
  Int64 n = 0;
  const bool collected = name.CollectMemoryData(&p, &n);
  if (checked) {
    EXPECT_TRUE(collected);
  }
  const unsigned char* b = static_cast<const unsigned char*>(p);
  return n > 0 ? Bytes(b, b + n) : Bytes();
}

}  // namespace

MemWriter::MemWriter(bool float32, BYTEORDER order) {
  name.SetMemoryTarget();
  EXPECT_TRUE(hf.Open(name, FILEOPEN_WRITE));
  hf.SetFloat32Mode(float32);
  hf.SetByteOrder(order);
}

Bytes MemWriter::Finish() {
  EXPECT_TRUE(hf.Close());
  return Collected(name, true);
}

Bytes MemWriter::FinishUnchecked() {
  hf.Close();
  return Collected(name, false);
}

MemReader::MemReader(Bytes b, Int32 version, bool float32, BYTEORDER order) : bytes(std::move(b)) {
  name.SetMemoryData(bytes.empty() ? nullptr : bytes.data(), static_cast<Int64>(bytes.size()),
                     false);
  hf.SetFileVersion(version);
  hf.SetFloat32Mode(float32);
  EXPECT_TRUE(hf.Open(name, FILEOPEN_READ));
  hf.SetByteOrder(order);
}

MemReader::MemReader(const std::string& hex, Int32 version, bool float32)
    : MemReader(FromHex(hex), version, float32) {}

bool MemReader::AtEnd() { return hf.GetPosition() == static_cast<Int64>(bytes.size()); }

Bytes WriteStream(const std::function<bool(HyperFile&)>& body) {
  MemWriter w;
  EXPECT_TRUE(body(w.hf));
  EXPECT_EQ(FILEERROR_NONE, w.hf.GetError());
  return w.Finish();
}

FullFileWriter::FullFileWriter(Int64 room) {
  getrlimit(RLIMIT_FSIZE, &_old);
  _handler = signal(SIGXFSZ, SIG_IGN);
  rlimit none = _old;
  none.rlim_cur = 0;
  setrlimit(RLIMIT_FSIZE, &none);
  EXPECT_TRUE(hf.Open(Filename(TempPath("full.hf").c_str()), FILEOPEN_WRITE));
  std::vector<UChar> pad(static_cast<size_t>(16384 - 5 - room));
  EXPECT_TRUE(hf.WriteMemory(pad.data(), static_cast<Int64>(pad.size())));
}

FullFileWriter::~FullFileWriter() {
  hf.Close();
  setrlimit(RLIMIT_FSIZE, &_old);
  signal(SIGXFSZ, _handler);
}

}  // namespace lumtest
