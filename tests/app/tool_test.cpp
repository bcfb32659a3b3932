// klaymo-thumbnail as a process: exit status, what it prints, what it leaves on disk.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jpeg_support.h"
#include "klaymo_writer.h"
#include "lum_version.h"
#include "test_support.h"

extern char** environ;

namespace {

using ToolRun = lumtest::ProgramRun;

std::string ReadText(const std::string& path) {
  std::vector<unsigned char> bytes = lumtest::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Waits for the tool's process and collects its exit status and the files its output went to.
ToolRun Finished(pid_t pid, const std::string& outPath, const std::string& errPath) {
  ToolRun run{-1, "", ""};
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadText(outPath);
  run.err = ReadText(errPath);
  return run;
}

ToolRun RunTool(const std::vector<std::string>& args) {
  return lumtest::RunProgram(KLAYMO_THUMBNAIL_PATH, args);
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

  run = RunTool({SamplePath(), output, "96", "x"});
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

// ---- the written picture ---------------------------------------------------------------------

namespace {

// Mean absolute difference per sample between a decoded 96 x 96 picture and the decoder's
// 4-byte pixels (the fourth byte unused), and the share of samples off by more than 24.
struct Difference {
  double mean;
  double outliers;
};

Difference Compare(const lumtest::JpegPicture& pic, const std::vector<std::uint8_t>& pixels,
                   bool flip = false) {
  double sum = 0;
  int far = 0;
  const int n = klaymo::kThumbSide * klaymo::kThumbSide;
  for (int i = 0; i < n; ++i) {
    int y = i / klaymo::kThumbSide, x = i % klaymo::kThumbSide;
    int from = flip ? (klaymo::kThumbSide - 1 - y) * klaymo::kThumbSide + x : i;
    for (int k = 0; k < 3; ++k) {
      int d = std::abs(int(pic.rgb[3 * i + k]) - int(pixels[4 * from + k]));
      sum += d;
      if (d > 24) ++far;
    }
  }
  return {sum / (3.0 * n), far / (3.0 * n)};
}

// RunTool with the size of every file the tool writes limited to maxBytes (writes past it fail
// with EFBIG instead of raising SIGXFSZ).
ToolRun RunToolWithFileLimit(const std::vector<std::string>& args, rlim_t maxBytes) {
  const std::string outPath = lumtest::TempPath("tool.stdout");
  const std::string errPath = lumtest::TempPath("tool.stderr");
  std::vector<std::string> all{KLAYMO_THUMBNAIL_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  ToolRun run{-1, "", ""};
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    struct rlimit limit = {maxBytes, maxBytes};
    signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    execv(KLAYMO_THUMBNAIL_PATH, argv.data());
    _exit(127);
  }
  if (pid < 0) {
    ADD_FAILURE() << "cannot fork";
    return run;
  }
  return Finished(pid, outPath, errPath);
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string FreshDir(const std::string& name) {
  const std::string dir = lumtest::TempPath(name);
  mkdir(dir.c_str(), 0755);
  return dir;
}

}  // namespace

TEST(Tool, WritesTheDecodedThumbnailOrABlackPictureAsA96x96Jpeg) {
  const std::vector<std::uint8_t> picture = klaymo::SamplePicture();
  struct Layout {
    int version, blockStart;
    std::vector<std::size_t> segments;
  };
  for (const Layout& layout : {Layout{4, 194, {9216, 9216, 9216, 9216}},
                               Layout{5, 233, {20000, 16864}}, Layout{6, 200, {}}}) {
    SCOPED_TRACE(layout.version);
    klaymo::DocumentOptions options;
    options.version = layout.version;
    options.blockStart = layout.blockStart;
    options.segmentBytes = layout.segments;
    std::vector<std::uint8_t> doc;
    ASSERT_TRUE(klaymo::WriteDocument(picture, options, &doc));
    const std::string input = lumtest::TempPath("e2e.klaymo");
    const std::string output = lumtest::TempPath("e2e.jpg");
    ASSERT_TRUE(lumtest::WriteFileBytes(input, doc));
    ToolRun run = RunTool({input, output});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("", run.err);

    lumtest::JpegPicture pic = lumtest::DecodeJpeg(lumtest::ReadFileBytes(output));
    ASSERT_TRUE(pic.ok);
    EXPECT_EQ(96, pic.width);
    EXPECT_EQ(96, pic.height);
    EXPECT_EQ(3, pic.components);
    // Quality 95 with colour subsampled 2 x 2: close everywhere but along the sharp colour
    // edges of the drawing (about 2% of the samples). The same picture upside down is far off,
    // so the bounds tell a right picture from a wrong one.
    Difference d = Compare(pic, picture);
    EXPECT_LT(d.mean, 4.5);
    EXPECT_LT(d.outliers, 0.04);
    EXPECT_GT(Compare(pic, picture, true).mean, 20.0);
  }

  // Without a thumbnail block: the black picture, and success.
  const std::string empty = lumtest::TempPath("nothing.klaymo");
  ASSERT_TRUE(lumtest::WriteFileBytes(empty, {}));
  const std::string output = lumtest::TempPath("nothing.jpg");
  ASSERT_EQ(0, RunTool({empty, output}).status);
  lumtest::JpegPicture pic = lumtest::DecodeJpeg(lumtest::ReadFileBytes(output));
  ASSERT_TRUE(pic.ok);
  EXPECT_EQ(96, pic.width);
  EXPECT_EQ(96, pic.height);
  EXPECT_LE(*std::max_element(pic.rgb.begin(), pic.rgb.end()), 1);
}

TEST(Tool, AFailedSaveIsReportedAndLeavesNoPartialPicture) {
  // A full device: status 1 and one line naming the output.
  if (access("/dev/full", W_OK) == 0) {
    ToolRun run = RunTool({SamplePath(), "/dev/full"});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("cannot write /dev/full")) << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
  }

  // A directory that does not exist.
  const std::string nowhere = lumtest::TempPath("no-such-dir") + "/thumb.jpg";
  ToolRun run = RunTool({SamplePath(), nowhere});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find(nowhere)) << run.err;
  EXPECT_FALSE(Exists(lumtest::TempPath("no-such-dir")));

  // Writes that fail part way (the file system refuses to grow the file): the picture that was
  // there stays as it was, a new one is not created, and no temporary file is left over.
  const std::string dir = FreshDir("limited");
  const std::string kept = dir + "/kept.jpg";
  const std::vector<unsigned char> old = {'o', 'l', 'd', ' ', 'p', 'i', 'c'};
  ASSERT_TRUE(lumtest::WriteFileBytes(kept, old));
  for (const std::string& output : {kept, dir + "/new.jpg"}) {
    run = RunToolWithFileLimit({SamplePath(), output}, 1000);
    EXPECT_EQ(1, run.status) << output;
    EXPECT_NE(std::string::npos, run.err.find("cannot write " + output)) << run.err;
  }
  EXPECT_EQ(old, lumtest::ReadFileBytes(kept));
  EXPECT_EQ(std::vector<std::string>{"kept.jpg"}, DirectoryEntries(dir));
}

TEST(Tool, ReplacesAnExistingOutputWholeKeepingItsModeAndLinks) {
  const std::string dir = FreshDir("replace");
  const std::string fresh = dir + "/fresh.jpg";
  ASSERT_EQ(0, RunTool({SamplePath(), fresh}).status);
  const std::vector<unsigned char> jpeg = lumtest::ReadFileBytes(fresh);
  ASSERT_TRUE(lumtest::DecodeJpeg(jpeg).ok);
  struct stat st;
  mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(0, stat(fresh.c_str(), &st));
  EXPECT_EQ(0666 & ~mask, st.st_mode & 07777);

  // A longer file is replaced, not overwritten from the front; its permissions stay.
  const std::string existing = dir + "/existing.jpg";
  ASSERT_TRUE(lumtest::WriteFileBytes(existing, std::vector<unsigned char>(20000, 'x')));
  ASSERT_EQ(0, chmod(existing.c_str(), 0640));
  ASSERT_EQ(0, RunTool({SamplePath(), existing}).status);
  EXPECT_EQ(jpeg, lumtest::ReadFileBytes(existing));
  ASSERT_EQ(0, stat(existing.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);

  // Through a symbolic link: the link stays and the file it names gets the picture.
  const std::string target = dir + "/target.jpg";
  const std::string link = dir + "/link.jpg";
  ASSERT_TRUE(lumtest::WriteFileBytes(target, {'o', 'l', 'd'}));
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  ASSERT_EQ(0, RunTool({SamplePath(), link}).status);
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(jpeg, lumtest::ReadFileBytes(target));
  EXPECT_EQ((std::vector<std::string>{"existing.jpg", "fresh.jpg", "link.jpg", "target.jpg"}),
            DirectoryEntries(dir));
}

// ---- command line, and outputs that are not plain new files ----------------------------------

namespace {

bool IsJpeg96(const std::string& path) {
  lumtest::JpegPicture pic = lumtest::DecodeJpeg(lumtest::ReadFileBytes(path));
  return pic.ok && pic.width == 96 && pic.height == 96;
}

bool IsSymlink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

// Runs the tool with the working directory set to dir, for paths that must be relative.
ToolRun RunToolIn(const std::string& dir, const std::vector<std::string>& args) {
  int back = open(".", O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(0, chdir(dir.c_str()));
  ToolRun run = RunTool(args);
  EXPECT_EQ(0, fchdir(back));
  close(back);
  return run;
}

}  // namespace

TEST(Tool, HelpVersionAndUsageErrors) {
  ToolRun help = RunTool({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ("", help.err);
  EXPECT_EQ(0u, help.out.rfind("usage: klaymo-thumbnail ", 0)) << help.out;
  for (const char* option : {"--require-thumbnail", "--help", "--version", "--"})
    EXPECT_NE(std::string::npos, help.out.find(std::string("\n  ") + option + " ")) << option;
  // --help wins wherever it stands, and nothing is written.
  const std::string output = lumtest::TempPath("options-out.jpg");
  EXPECT_EQ(help.out, RunTool({SamplePath(), output, "--help"}).out);
  EXPECT_FALSE(Exists(output));

  ToolRun version = RunTool({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ("", version.err);
  EXPECT_EQ(std::string("klaymo-thumbnail (lumora) ") + LUMORA_VERSION + "\n", version.out);

  // Unknown options, before, between or after the paths, and short ones: status 2, a line that
  // names the option and the usage line, nothing written.
  const std::vector<std::vector<std::string>> wrong = {
      {"-x", SamplePath(), output},
      {SamplePath(), "--require", output},
      {SamplePath(), output, "--bogus"},
      {"---", SamplePath(), output},
  };
  for (const std::vector<std::string>& args : wrong) {
    const std::string& option = args[0][0] == '-' ? args[0] : args[1][0] == '-' ? args[1] : args[2];
    ToolRun run = RunTool(args);
    EXPECT_EQ(2, run.status) << option;
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("unknown option " + option + "\n")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("\nusage: klaymo-thumbnail ")) << run.err;
    EXPECT_EQ(2, Lines(run.err)) << run.err;
    EXPECT_FALSE(Exists(output));
  }
}

TEST(Tool, DoubleDashEndsOptionsAndALoneDashIsAPath) {
  const std::string dir = FreshDir("dashes");
  std::vector<unsigned char> sample = lumtest::ReadFileBytes(SamplePath());
  ASSERT_TRUE(lumtest::WriteFileBytes(dir + "/--help", sample));
  ToolRun run = RunToolIn(dir, {"--", "--help", "-out.jpg", "--version"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.out);
  EXPECT_TRUE(IsJpeg96(dir + "/-out.jpg"));

  // An option before "--" still counts; "-" is a file name like any other.
  ASSERT_TRUE(lumtest::WriteFileBytes(dir + "/-", {}));
  run = RunToolIn(dir, {"--require-thumbnail", "-", "--", "-none.jpg"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("- holds no thumbnail")) << run.err;
  EXPECT_FALSE(Exists(dir + "/-none.jpg"));
}

TEST(Tool, RequireThumbnailTurnsAMissingThumbnailIntoAnError) {
  const std::string dir = FreshDir("require");
  const std::string empty = dir + "/empty.klaymo";
  const std::string plain = dir + "/plain.klaymo";
  ASSERT_TRUE(lumtest::WriteFileBytes(empty, {}));
  ASSERT_TRUE(lumtest::WriteFileBytes(plain, std::vector<unsigned char>(50000, 0x42)));
  // A block of version 3 is no thumbnail either.
  klaymo::DocumentOptions options;
  options.version = 3;
  std::vector<std::uint8_t> old;
  ASSERT_TRUE(klaymo::WriteDocument(klaymo::SamplePicture(), options, &old));
  const std::string version3 = dir + "/v3.klaymo";
  ASSERT_TRUE(lumtest::WriteFileBytes(version3, old));

  const std::string kept = dir + "/kept.jpg";
  const std::vector<unsigned char> before = {'k', 'e', 'p', 't'};
  ASSERT_TRUE(lumtest::WriteFileBytes(kept, before));
  for (const std::string& input : {empty, plain, version3}) {
    for (const std::string& output : {kept, dir + "/new.jpg"}) {
      ToolRun run = RunTool({"--require-thumbnail", input, output});
      EXPECT_EQ(1, run.status) << input;
      EXPECT_EQ("", run.out);
      EXPECT_EQ("klaymo-thumbnail: " + input + " holds no thumbnail\n", run.err);
    }
    // Without the option: the black picture, silently.
    ToolRun run = RunTool({input, dir + "/black.jpg"});
    EXPECT_EQ(0, run.status) << input;
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(IsJpeg96(dir + "/black.jpg"));
  }
  EXPECT_EQ(before, lumtest::ReadFileBytes(kept));
  EXPECT_FALSE(Exists(dir + "/new.jpg"));

  ToolRun run = RunTool({SamplePath(), kept, "--require-thumbnail"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.err);
  EXPECT_TRUE(IsJpeg96(kept));
}

TEST(Tool, RefusesAnOutputThatIsTheDocument) {
  const std::string dir = FreshDir("same");
  mkdir((dir + "/sub").c_str(), 0755);
  const std::string doc = dir + "/d.klaymo";
  const std::vector<unsigned char> sample = lumtest::ReadFileBytes(SamplePath());
  ASSERT_TRUE(lumtest::WriteFileBytes(doc, sample));
  ASSERT_EQ(0, link(doc.c_str(), (dir + "/hard.jpg").c_str()));
  ASSERT_EQ(0, symlink(doc.c_str(), (dir + "/soft.jpg").c_str()));
  ASSERT_EQ(0, symlink("../soft.jpg", (dir + "/sub/chain.jpg").c_str()));

  struct Case {
    std::string document, output;
  };
  const std::vector<Case> cases = {
      {doc, doc},
      {doc, dir + "/./sub/../d.klaymo"},
      {doc, dir + "/hard.jpg"},
      {dir + "/hard.jpg", doc},
      {doc, dir + "/soft.jpg"},
      {doc, dir + "/sub/chain.jpg"},
      {dir + "/sub/chain.jpg", dir + "/hard.jpg"},
  };
  for (const Case& c : cases) {
    for (bool require : {false, true}) {
      std::vector<std::string> args = {c.document, c.output};
      if (require) args.insert(args.begin(), "--require-thumbnail");
      ToolRun run = RunTool(args);
      EXPECT_EQ(1, run.status) << c.output;
      EXPECT_EQ("", run.out);
      EXPECT_EQ("klaymo-thumbnail: " + c.output + " names the document " + c.document +
                    ": not overwriting it\n",
                run.err);
    }
  }
  EXPECT_EQ(sample, lumtest::ReadFileBytes(doc));
  EXPECT_TRUE(IsSymlink(dir + "/soft.jpg"));
  EXPECT_TRUE(IsSymlink(dir + "/sub/chain.jpg"));
  EXPECT_EQ((std::vector<std::string>{"d.klaymo", "hard.jpg", "soft.jpg", "sub"}),
            DirectoryEntries(dir));

  // A copy of the document is another file: written over as usual.
  const std::string copy = dir + "/copy.klaymo";
  ASSERT_TRUE(lumtest::WriteFileBytes(copy, sample));
  EXPECT_EQ(0, RunTool({doc, copy}).status);
  EXPECT_TRUE(IsJpeg96(copy));
}

TEST(Tool, WritesThroughSymbolicLinksEvenDanglingOnes) {
  const std::string dir = FreshDir("links");
  mkdir((dir + "/pics").c_str(), 0755);
  // Absolute and relative dangling links, and a chain of two ending at a missing file; the
  // relative target is read from the link's own directory, not from the working directory.
  struct Case {
    std::string link, pointsTo, lands;
  };
  const std::vector<Case> cases = {
      {dir + "/abs.jpg", dir + "/pics/abs-target.jpg", dir + "/pics/abs-target.jpg"},
      {dir + "/pics/rel.jpg", "../rel-target.jpg", dir + "/rel-target.jpg"},
      {dir + "/first.jpg", "pics/second.jpg", dir + "/pics/chain-end.jpg"},
  };
  ASSERT_EQ(0, symlink("chain-end.jpg", (dir + "/pics/second.jpg").c_str()));
  for (const Case& c : cases) {
    ASSERT_EQ(0, symlink(c.pointsTo.c_str(), c.link.c_str()));
    ToolRun run = RunTool({SamplePath(), c.link});
    EXPECT_EQ(0, run.status) << c.link << ": " << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(IsSymlink(c.link)) << c.link;
    EXPECT_TRUE(IsJpeg96(c.lands)) << c.lands;
  }
  EXPECT_TRUE(IsSymlink(dir + "/pics/second.jpg"));

  // Links that lead nowhere writable: a missing directory, a loop. Reported, nothing written.
  ASSERT_EQ(0, symlink((dir + "/no-such-dir/x.jpg").c_str(), (dir + "/nowhere.jpg").c_str()));
  ASSERT_EQ(0, symlink("loop-b.jpg", (dir + "/loop-a.jpg").c_str()));
  ASSERT_EQ(0, symlink("loop-a.jpg", (dir + "/loop-b.jpg").c_str()));
  for (const std::string& link : {dir + "/nowhere.jpg", dir + "/loop-a.jpg"}) {
    ToolRun run = RunTool({SamplePath(), link});
    EXPECT_EQ(1, run.status) << link;
    EXPECT_EQ(0u, run.err.rfind("klaymo-thumbnail: cannot write " + link + ": ", 0)) << run.err;
    EXPECT_EQ(1, Lines(run.err)) << run.err;
    EXPECT_TRUE(IsSymlink(link));
  }
  EXPECT_FALSE(Exists(dir + "/no-such-dir"));
  EXPECT_EQ((std::vector<std::string>{"abs.jpg", "first.jpg", "loop-a.jpg", "loop-b.jpg",
                                      "nowhere.jpg", "pics", "rel-target.jpg"}),
            DirectoryEntries(dir));
}

TEST(Tool, ManualNamesTheVersionTheOptionsAndADate) {
  const std::string manual = ReadText(std::string(LUMORA_SOURCE_DIR) + "/doc/klaymo-thumbnail.1");
  const std::string title = manual.substr(0, manual.find('\n'));
  EXPECT_NE(std::string::npos, title.find(std::string("\"lumora ") + LUMORA_VERSION + "\""))
      << title;
  // .TH NAME SECTION "YYYY-MM-DD" ...
  const std::size_t date = title.find("1 \"");
  ASSERT_NE(std::string::npos, date) << title;
  const std::string day = title.substr(date + 3, 10);
  EXPECT_TRUE(day.size() == 10 && day[4] == '-' && day[7] == '-' &&
              std::all_of(day.begin(), day.end(), [](char c) { return c == '-' || isdigit(c); }))
      << title;
  for (const char* option : {"\\-\\-require\\-thumbnail", "\\-\\-help", "\\-\\-version", "\\-\\-"})
    EXPECT_NE(std::string::npos, manual.find(std::string(".B ") + option)) << option;
  // Its readers have no source tree: documents it names are the installed ones.
  for (std::size_t at = manual.find("doc/"); at != std::string::npos;
       at = manual.find("doc/", at + 1)) {
    const bool installed = at >= 6 && manual.compare(at - 6, 6, "share/") == 0;
    EXPECT_TRUE(installed) << "a path into the source tree: " << manual.substr(at, 40);
  }
}

TEST(Tool, WritesToAPipeThroughDevStdout) {
  // /dev/stdout leads through /proc to a name like "pipe:[1234]" that no directory holds: the
  // picture goes through the open device instead of replacing anything.
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::string tool = KLAYMO_THUMBNAIL_PATH, sample = SamplePath(), out = "/dev/stdout";
  char* argv[] = {tool.data(), sample.data(), out.data(), nullptr};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (dup2(fds[1], 1) < 0) _exit(126);
    execv(argv[0], argv);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  close(fds[1]);
  std::vector<unsigned char> bytes;
  unsigned char buffer[4096];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;)
    bytes.insert(bytes.end(), buffer, buffer + got);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  lumtest::JpegPicture pic = lumtest::DecodeJpeg(bytes);
  EXPECT_TRUE(pic.ok && pic.width == 96 && pic.height == 96);
}
