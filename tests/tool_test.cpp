// klaymo-thumbnail as a process: exit status, what it prints, what it leaves on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "klaymo_writer.h"
#include "test_support.h"

extern char** environ;

namespace {

struct ToolRun {
  int status;  // exit status, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  std::vector<unsigned char> bytes = lumtest::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

ToolRun RunTool(const std::vector<std::string>& args) {
  const std::string outPath = lumtest::TempPath("tool.stdout");
  const std::string errPath = lumtest::TempPath("tool.stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> all{KLAYMO_THUMBNAIL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, KLAYMO_THUMBNAIL_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ToolRun run{-1, "", ""};
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << KLAYMO_THUMBNAIL_PATH;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadText(outPath);
  run.err = ReadText(errPath);
  return run;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string SamplePath() { return std::string(LUMORA_SOURCE_DIR) + "/samples/sample.klaymo"; }

}  // namespace

TEST(Tool, FewerThanTwoArgumentsPrintUsageAndExit2) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{SamplePath()}}) {
    ToolRun run = RunTool(args);
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(0u, run.err.rfind("usage: klaymo-thumbnail ", 0)) << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    EXPECT_EQ('\n', run.err.back());
  }
}

TEST(Tool, UnopenableInputIsNamedAndNothingIsWritten) {
  const std::string missing = lumtest::TempPath("no-such-document.klaymo");
  const std::string output = lumtest::TempPath("missing-out.jpg");
  ToolRun run = RunTool({missing, output});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, run.err.find(missing)) << run.err;
  EXPECT_FALSE(Exists(output));
}

TEST(Tool, UnreadableInputIsNamedAndNothingIsWritten) {
  // A directory opens for reading but every read fails.
  const std::string dir = lumtest::TempDir();
  const std::string output = lumtest::TempPath("dir-out.jpg");
  ToolRun run = RunTool({dir, output});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos, run.err.find(dir)) << run.err;
  EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
  EXPECT_FALSE(Exists(output));
}

TEST(Tool, GoodRunsPrintNothingAndExit0) {
  const std::string output = lumtest::TempPath("good-out.jpg");
  // The sample, extra arguments (ignored), and a generated document of another version.
  ToolRun run = RunTool({SamplePath(), output});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);

  run = RunTool({SamplePath(), output, "--ignored", "x"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.err);

  klaymo::DocumentOptions options;
  options.version = 4;
  options.blockStart = 194;
  options.segmentBytes = {9216, 9216, 9216, 9216};
  std::vector<std::uint8_t> doc;
  ASSERT_TRUE(klaymo::WriteDocument(klaymo::SamplePicture(), options, &doc));
  const std::string input = lumtest::TempPath("v4.klaymo");
  ASSERT_TRUE(lumtest::WriteFileBytes(input, doc));
  run = RunTool({input, output});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
}

TEST(Tool, DocumentsWithoutAThumbnailStillSucceed) {
  // An empty file and a file with no block give the black picture, not an error.
  const std::string empty = lumtest::TempPath("empty.klaymo");
  ASSERT_TRUE(lumtest::WriteFileBytes(empty, {}));
  const std::string plain = lumtest::TempPath("plain.klaymo");
  ASSERT_TRUE(lumtest::WriteFileBytes(plain, std::vector<unsigned char>(50000, 0x42)));
  for (const std::string& input : {empty, plain}) {
    ToolRun run = RunTool({input, lumtest::TempPath("black.jpg")});
    EXPECT_EQ(0, run.status) << input;
    EXPECT_EQ("", run.out) << input;
    EXPECT_EQ("", run.err) << input;
  }
}
