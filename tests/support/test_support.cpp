// The test programs' memory functions, the leak-checking listener and the shared helpers.
#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "lumora.h"

namespace {

std::int64_t g_live = 0;
std::int64_t g_calls = 0;
std::int64_t g_failAt = 0;  // absolute call number to fail, 0 = none
bool g_failFromThenOn = false;
bool g_injected = false;

// True when this allocation call is to fail.
bool ShouldFail() {
  ++g_calls;
  if (g_failAt == 0) return false;
  if (g_calls == g_failAt || (g_failFromThenOn && g_calls > g_failAt)) {
    g_injected = true;
    return true;
  }
  return false;
}

std::vector<lumtest::Alert>& AlertList() {
  static std::vector<lumtest::Alert> alerts;
  return alerts;
}

void OnAlert(lumora::Int32 line, const lumora::Char* file) {
  AlertList().push_back({static_cast<int>(line), file != nullptr ? file : ""});
}

}  // namespace

namespace lumora {

void* MemAlloc(Int64 size) {
  if (size < 0 || ShouldFail()) return nullptr;
  void* p = std::calloc(1, size > 0 ? static_cast<size_t>(size) : 1);
  if (p != nullptr) ++g_live;
  return p;
}

void* MemAllocNC(Int64 size) {
  if (size < 0 || ShouldFail()) return nullptr;
  void* p = std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
  if (p != nullptr) {
    // Garbage, not zeros: code that relies on cleared memory from MemAllocNC shows up.
    std::memset(p, 0xA5, size > 0 ? static_cast<size_t>(size) : 1);
    ++g_live;
  }
  return p;
}

void* MemRealloc(void* block, Int64 size) {
  if (size < 0 || ShouldFail()) return nullptr;
  if (block != nullptr && size == 0) {
    std::free(block);
    --g_live;
    return nullptr;
  }
  void* p = std::realloc(block, static_cast<size_t>(size));
  if (p != nullptr && block == nullptr) ++g_live;
  return p;
}

void MemFree(void*& block) {
  if (block == nullptr) return;
  std::free(block);
  --g_live;
  block = nullptr;
}

}  // namespace lumora

extern char** environ;

namespace lumtest {

std::int64_t LiveBlocks() { return g_live; }
std::int64_t AllocationCalls() { return g_calls; }

void FailNthAllocation(std::int64_t n) {
  g_failAt = n > 0 ? g_calls + n : 0;
  g_failFromThenOn = false;
  g_injected = false;
}

void FailAllocationsFrom(std::int64_t n) {
  g_failAt = n > 0 ? g_calls + n : 0;
  g_failFromThenOn = n > 0;
  g_injected = false;
}

bool InjectedFailureHappened() { return g_injected; }

void StopFailing() {
  g_failAt = 0;
  g_failFromThenOn = false;
}

ScopedAllocFailure::ScopedAllocFailure(std::int64_t n, bool fromThenOn) {
  if (fromThenOn)
    FailAllocationsFrom(n);
  else
    FailNthAllocation(n);
}
ScopedAllocFailure::~ScopedAllocFailure() { StopFailing(); }

int SweepAllocationFailures(const char* what, bool (*scenario)(std::int64_t, void*), void* ctx,
                            std::int64_t maxSteps) {
  int failing = 0;
  for (std::int64_t n = 1; n <= maxSteps; ++n) {
    std::int64_t before = g_live;
    FailNthAllocation(n);
    bool ok = scenario(n, ctx);
    bool injected = g_injected;
    StopFailing();
    EXPECT_TRUE(ok) << what << ": wrong result with allocation " << n << " failing";
    EXPECT_EQ(before, g_live) << what << ": leak with allocation " << n << " failing";
    if (!ok || before != g_live) return failing;
    if (!injected) return failing;
    ++failing;
  }
  ADD_FAILURE() << what << ": still allocating after " << maxSteps << " steps";
  return failing;
}

void ResetAlerts() { AlertList().clear(); }
const std::vector<Alert>& Alerts() { return AlertList(); }
int AlertCount() { return static_cast<int>(AlertList().size()); }

bool HasAlert(int line, const char* file) {
  for (const Alert& a : AlertList())
    if (a.line == line && a.file == file) return true;
  return false;
}

std::string TempDir() {
  static std::string dir = [] {
    std::string templ = (std::filesystem::temp_directory_path() / "lumora-test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) std::abort();
    std::string made(buf.data());
    static struct Remover {
      std::string path;
      ~Remover() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
      }
    } remover{made};
    return made;
  }();
  return dir;
}

std::string TempPath(const std::string& name) { return TempDir() + "/" + name; }

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
  std::vector<unsigned char> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  // fwrite's buffer must not be null, even for no bytes.
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  int nibble = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<unsigned char>(nibble * 16 + v));
      nibble = -1;
    }
  }
  return out;
}

std::string ToHex(const unsigned char* bytes, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args) {
  static int runs = 0;
  const std::string tag = std::to_string(++runs);
  const std::string outPath = TempPath("run" + tag + ".stdout");
  const std::string errPath = TempPath("run" + tag + ".stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> all{path};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ProgramRun run{-1, "", ""};
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << path;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  const std::vector<unsigned char> out = ReadFileBytes(outPath), err = ReadFileBytes(errPath);
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

}  // namespace lumtest

namespace {

// Fails every test that ends with more blocks allocated than it started with.
class LeakListener : public testing::EmptyTestEventListener {
  std::int64_t start_ = 0;
  void OnTestStart(const testing::TestInfo&) override {
    lumtest::StopFailing();
    lumtest::ResetAlerts();
    start_ = g_live;
  }
  void OnTestEnd(const testing::TestInfo&) override {
    lumtest::StopFailing();
    if (g_live != start_)
      ADD_FAILURE() << "test leaked " << (g_live - start_) << " block(s) of library memory";
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  lumora::GeSetDebugObserver(OnAlert);
  testing::UnitTest::GetInstance()->listeners().Append(new LeakListener);
  return RUN_ALL_TESTS();
}
