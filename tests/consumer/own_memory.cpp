// A program with memory functions and allocation hooks of its own (hooks that know no kind): it
// counts the blocks the library holds, and makes a camera and a variation shader, which get
// their node data from the library itself.
#include <cstdio>
#include <cstdlib>

#include "lumora.h"

namespace {
long live = 0;
}

namespace lumora {

void* MemAlloc(Int64 size) {
  void* block = size < 0 ? nullptr : std::calloc(1, size > 0 ? size_t(size) : 1);
  live += block != nullptr;
  return block;
}
void* MemAllocNC(Int64 size) {
  void* block = size < 0 ? nullptr : std::malloc(size > 0 ? size_t(size) : 1);
  live += block != nullptr;
  return block;
}
void* MemRealloc(void* block, Int64 size) {
  if (size < 0) return nullptr;
  void* grown = std::realloc(block, size_t(size));
  live += (grown != nullptr) - (block != nullptr);
  return grown;
}
void MemFree(void*& block) {
  if (block == nullptr) return;
  std::free(block);
  block = nullptr;
  --live;
}

}  // namespace lumora

// The allocation hooks: no kind has a class here, and lists of objects are plain ones.
lumora::NodeData* AllocAlienObjectData(int, bool& known, lumora::BaseList2D*) {
  known = false;
  return nullptr;
}
lumora::NodeData* AllocAlienTagData(int, bool& known, lumora::BaseList2D*) {
  known = false;
  return nullptr;
}
lumora::NodeData* AllocAlienShaderData(int, bool& known, lumora::BaseList2D*) {
  known = false;
  return nullptr;
}
lumora::RootObject* AllocAlienRootObject() { return lumora::NewObj<lumora::RootObject>(); }

int main() {
  {
    lumora::String text("counted");
    std::printf("while a string lives: %s\n", live > 0 ? "blocks held" : "none held");
  }
  {
    lumora::BaseObject* camera = lumora::BaseObject::Alloc(lumora::TYPE_CAMERAOBJECT);
    lumora::BaseShader* variation = lumora::BaseShader::Alloc(lumora::TYPE_VARIATIONSHADER);
    std::printf("a camera made here: %d entries; a variation shader: %s\n",
                camera != nullptr ? int(camera->GetDataInstance()->GetCount()) : -1,
                variation != nullptr && variation->GetNodeData() != nullptr ? "with its data"
                                                                             : "without data");
    lumora::BaseObject::Free(camera);
    lumora::BaseShader::Free(variation);
  }
  std::printf("after: %ld blocks held\n", live);
  return live == 0 ? 0 : 1;
}
