// lumora-dump: the names of the chunk and node ids it knows, and of the tagged values' type ids.
//
// One table: a family that brings a new node or chunk adds its rows here (kept in ascending order
// of the id; a test checks the order). Where an id is both a node's disk type and a chunk id the
// name says what the chunk holds in either case.
#include <algorithm>

#include "lumora_dump.h"

namespace lumdump {

namespace {

struct Name {
  lumora::Int32 id;
  const char* name;
};

const Name kChunkNames[] = {
    {132, "container"},
    {5100, "polygon object"},
    {5101, "spline object"},
    {5102, "light object"},
    {5103, "camera object"},
    {5137, "spline object (old type)"},
    {5154, "plain object"},
    {5155, "object"},
    {5156, "point object data"},
    {5350, "track"},
    {5351, "curve"},
    {5352, "key"},
    {5353, "special track"},
    {5600, "point tag"},
    {5604, "polygon tag"},
    {5613, "display tag"},
    {5616, "texture tag"},
    {5617, "tangent tag"},
    {5629, "transform lock tag"},
    {5637, "compositing tag"},
    {5671, "uvw tag"},
    {5672, "segment tag"},
    {5673, "point selection tag"},
    {5674, "polygon selection tag"},
    {5676, "target tag"},
    {5682, "vertex map tag"},
    {5691, "plug-in tag"},
    {5694, "tag"},
    {5701, "edge selection tag"},
    {5707, "shader"},
    {5708, "old vertex map tag"},
    {5711, "normal tag"},
    {110011, "selection"},
    {110050, "named node"},
    {110052, "transform"},
    {110062, "plug-in node"},
    {110063, "object list data"},
    {110064, "plug-in data"},
    {110068, "unique ids"},
    {110069, "list node"},
    {110100, "node list"},
    {110108, "tags"},
    {110117, "first point selection"},
    {110118, "second point selection"},
    {110119, "polygon data selection 1"},
    {110120, "polygon data selection 2"},
    {110128, "polygon data selection 3"},
    {110129, "polygon data selection 4"},
    {110131, "shaders"},
    {110132, "polygon data selection 5"},
    {110133, "n-gons"},
    {110414, "track settings"},
    {110415, "curve"},
    {110416, "key data"},
    {110417, "tracks"},
    {110418, "track curves"},
    {110419, "keys"},
    {1001091, "polygon object (disk type)"},
    {1016641, "selection set tag"},
    {1019362, "joint object"},
    {1024237, "pose morph tag"},
    {310006009, "shaders 2"},
    {431000045, "vertex color tag"},
    {431000051, "override"},
    {431000052, "overrides"},
    {431000054, "take"},
    {431000055, "take system"},
    {431000073, "take folder"},
    {431000075, "override group"},
    {431000139, "shaders 3"},
};

const Name kValueTypeNames[] = {
    {0, "nil"},
    {14, "pointer"},
    {15, "int32"},
    {19, "float"},
    {22, "time"},
    {23, "vector"},
    {25, "matrix"},
    {26, "int64"},
    {128, "bytes"},
    {130, "string"},
    {131, "filename"},
    {132, "container"},
    {133, "link"},
    {1000481, "gradient"},
    {1000486, "description id"},
    {1000997, "lens glow"},
    {1009060, "spline"},
    {1009290, "in/exclude list"},
    {1009369, "priority"},
    {1009372, "font"},
    {1009398, "date and time"},
    {1011131, "layer stack"},
    {1011153, "material preview"},
    {1018397, "list view"},
    {1019655, "item list"},
    {1019660, "spreadsheet"},
    {1024869, "item tree"},
    {1029123, "dynamic spline"},
    {1031184, "xr layers"},
    {100004811, "pla"},
    {180000104, "real array"},
    {200000266, "colour profile"},
    {200000275, "unit scale"},
    {431000178, "range"},
    {440000246, "field"},
    {450000019, "sky objects"},
};

template <size_t N>
const char* Find(const Name (&table)[N], lumora::Int32 id) {
  const Name* end = table + N;
  const Name* it =
      std::lower_bound(table, end, id, [](const Name& n, lumora::Int32 key) { return n.id < key; });
  return it != end && it->id == id ? it->name : nullptr;
}

template <size_t N>
bool Sorted(const Name (&table)[N]) {
  for (size_t i = 1; i < N; ++i)
    if (table[i - 1].id >= table[i].id) return false;
  return true;
}

}  // namespace

const char* ChunkName(lumora::Int32 id) { return Find(kChunkNames, id); }

const char* ValueTypeName(lumora::Int32 type) {
  const char* name = Find(kValueTypeNames, type);
  if (name == nullptr && type >= 1000000) return "custom";
  return name;
}

bool NameTablesSorted() { return Sorted(kChunkNames) && Sorted(kValueTypeNames); }

}  // namespace lumdump
