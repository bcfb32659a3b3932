"""lumora.dump: the inspector's tree as Python data, the same as the tool prints."""
import json
import os
import subprocess

import numpy as np
import pytest

import lumora


def scene_file(path):
    lst = lumora.RootObject()
    m = lumora.PolygonObject()
    m.name = "mesh"
    m.set_geometry(np.zeros((4, 3)), np.array([[0, 1, 2, 3]], np.int32))
    lst.append(m)
    m.make_track(lumora.DescID((903, 23, 0), (1000, 19, 0))).curve.add_key(1.0)
    lumora.write_objects(path, lst)
    return path


def chunk_ids(items):
    return [i["id"] for i in items if i["kind"] == "chunk"]


@pytest.mark.parametrize("options,args", [({}, []), ({"depth": 1}, ["--depth", "1"]),
                                          ({"id": 110417}, ["--id", "110417"])])
def test_dump_matches_the_tool(options, args, path):
    scene_file(path)
    tree = lumora.dump(path, **options)
    assert isinstance(tree, list) and tree
    tool = os.environ.get("LUMORA_DUMP_TOOL")
    if tool is None:
        pytest.skip("LUMORA_DUMP_TOOL not set")
    run = subprocess.run([tool, "--json", *args, str(path)], capture_output=True, check=True)
    assert json.loads(run.stdout) == tree


def test_dump_shows_the_object_list(path):
    tree = lumora.dump(scene_file(path))
    assert chunk_ids(tree) == [1]
    node_list = tree[0]["items"][0]
    assert node_list["name"] == "node list"
    assert chunk_ids(node_list["items"]) == [1001091]


def test_bad_streams_raise_with_what_was_read(path, tmp_path):
    data = scene_file(path).read_bytes()
    cut = tmp_path / "cut.lum"
    cut.write_bytes(data[:len(data) // 2])
    with pytest.raises(lumora.FileError) as e:
        lumora.dump(cut)
    assert 0 < e.value.offset <= len(data) // 2
    assert e.value.partial and chunk_ids(e.value.partial) == [1]
    with pytest.raises(lumora.FileError) as e:
        lumora.dump(tmp_path / "missing.lum")
    assert e.value.code == lumora.FILEERROR_OPEN


def objects_scene(path):
    lst = lumora.RootObject()
    mesh = lumora.PolygonObject()
    mesh.name = "mesh"
    mesh.set_geometry(np.zeros((4, 3)), np.array([[0, 1, 2, 3]], np.int32))
    lst.append(mesh)
    mesh.make_tag(lumora.TAG_UVW).uvw = np.linspace(0, 1, 12).reshape(1, 4, 3)
    mesh.make_track(lumora.DescID((903, 23, 0), (1000, 19, 0)), "Position . X").curve.add_key(1.0)
    lumora.BaseObject.alloc(5103).insert_under(mesh)
    for kind in (5102, 5103, 5101):
        lst.append(lumora.BaseObject.alloc(kind))
    lumora.write_objects(path, lst)


def plugin_nodes(path):
    lst = lumora.RootPluginNode()
    for kind in (0, 431000051, 431000054, 431000073, 431000075, 465001514, 999001):
        for slot in (True, False):
            n = lumora.PluginNode(kind, slot=slot)
            n.name = "n"
            lst.append(n)
    with lumora.HyperFile(path, "w") as hf:
        lst.write(hf)


@pytest.mark.parametrize("build", [scene_file, objects_scene, plugin_nodes])
def test_first_writes_are_what_reading_them_writes_back(build, path):
    build(path)
    tool = os.environ.get("LUMORA_DUMP_TOOL")
    if tool is None:
        pytest.skip("LUMORA_DUMP_TOOL not set")
    run = subprocess.run([tool, "--check", str(path)], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert run.stdout.endswith("1 node lists checked, 0 differ, 0 not checked\n"), run.stdout
