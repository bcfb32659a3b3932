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
