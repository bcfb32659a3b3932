// Support for the test programs: counting memory functions with allocation-failure injection,
// debug-alert observation and temporary files.
#ifndef LUMORA_TEST_SUPPORT_H
#define LUMORA_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

namespace lumtest {

// Blocks handed out by MemAlloc/MemAllocNC/MemRealloc and not yet freed.
std::int64_t LiveBlocks();
// Allocation calls (successful or failed) since the program started.
std::int64_t AllocationCalls();

// Makes the n-th allocation call from now (1 = the next) fail, and only that one.
// 0 switches injection off.
void FailNthAllocation(std::int64_t n);
// Makes every allocation call from the n-th from now on fail. 0 switches injection off.
void FailAllocationsFrom(std::int64_t n);
// True once an injected failure has happened since the last Fail… call.
bool InjectedFailureHappened();
void StopFailing();

// RAII form: fails the n-th allocation within the scope.
class ScopedAllocFailure {
 public:
  explicit ScopedAllocFailure(std::int64_t n, bool fromThenOn = false);
  ~ScopedAllocFailure();
  ScopedAllocFailure(const ScopedAllocFailure&) = delete;
  ScopedAllocFailure& operator=(const ScopedAllocFailure&) = delete;
};

// Runs `scenario` with allocation 1, 2, 3 ... failing until it runs through without an injected
// failure. `scenario` gets the failing index and returns whether the run ended as documented.
// Returns the number of failing runs; fails the current test if a run did not end as
// documented or leaked.
int SweepAllocationFailures(const char* what, bool (*scenario)(std::int64_t failAt, void* ctx),
                            void* ctx = nullptr, std::int64_t maxSteps = 100000);

// Debug alerts raised since the last ResetAlerts (lines and files, in order).
struct Alert {
  int line;
  std::string file;
};
void ResetAlerts();
const std::vector<Alert>& Alerts();
int AlertCount();
// Whether an alert from `file` at `line` is among them.
bool HasAlert(int line, const char* file);

// A fresh temporary directory for this test program; removed at exit.
std::string TempDir();
// A path inside TempDir with the given name (the file is not created).
std::string TempPath(const std::string& name);

std::vector<unsigned char> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// "0a ff 10" / "0aff10" -> bytes; and back ("0a ff 10").
std::vector<unsigned char> FromHex(const std::string& hex);
std::string ToHex(const unsigned char* bytes, std::size_t n);
inline std::string ToHex(const std::vector<unsigned char>& v) { return ToHex(v.data(), v.size()); }
// Hex in ToHex's spelling ("0AFF10" -> "0a ff 10"), to compare literal bytes with ToHex output.
inline std::string NormHex(const std::string& hex) { return ToHex(FromHex(hex)); }

// What a program run left: its exit status (-1 when it did not start or exit normally) and what
// it wrote to stdout and stderr.
struct ProgramRun {
  int status;
  std::string out;
  std::string err;
};
// Runs the program at `path` with `args` (argv[0] is the path), its stdout and stderr into
// temporary files, and waits for it.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args);

}  // namespace lumtest

#endif  // LUMORA_TEST_SUPPORT_H
