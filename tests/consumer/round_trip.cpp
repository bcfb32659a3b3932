// Writes a container to a scene-stream file and reads it back; prints what it read.
#include <cstdio>

#include "lumora.h"

using namespace lumora;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::printf("lumora %s (headers %s)\n", GeGetVersionString(), LUMORA_VERSION);

  BaseContainer written;
  written.SetInt32(1, 42);
  written.SetString(2, String("cube"));
  HyperFile out;
  if (!out.Open(Filename(argv[1]), FILEOPEN_WRITE) || !out.WriteContainer(written) || !out.Close())
    return 1;

  BaseContainer read;
  HyperFile in;
  if (!in.Open(Filename(argv[1]), FILEOPEN_READ) || !in.ReadContainer(&read, true) || !in.Close())
    return 1;
  char name[16];
  read.GetString(2).GetCString(name, sizeof name);
  std::printf("1 = %d, 2 = %s\n", read.GetInt32(1), name);
  return 0;
}
