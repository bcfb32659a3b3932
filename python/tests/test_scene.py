"""Scenes in one call (read_scene, Scene.write), FileError's offset and errno, links between
lists read one after another from one file, and the mistakes a new user met, refused loudly."""
import errno

import numpy as np
import pytest

import lumora
from conftest import node


def cube_scene():
    scene = lumora.Scene()
    mesh = lumora.PolygonObject()
    mesh.name = "mesh"
    scene.objects.append(mesh)
    mesh.set_geometry(np.eye(4, 3) * 10, np.array([[0, 1, 2, 3], [3, 2, 1, 0]], dtype=np.int32))
    camera = lumora.BaseObject.alloc(lumora.TYPE_CAMERAOBJECT)
    camera.name = "camera"
    camera.insert_under(mesh)
    track = mesh.make_track(lumora.vector_component_id(lumora.ID_BASEOBJECT_REL_POSITION,
                                                       lumora.VECTOR_X), "Position . X")
    track.curve.add_key(1.0).value = 300
    return scene


def test_scenes_round_trip_and_object_lists_read_as_scenes(tmp_path):
    first, second = tmp_path / "a.lum", tmp_path / "b.lum"
    cube_scene().write(first)
    scene = lumora.read_scene(first)
    mesh = scene.objects[0]
    assert mesh.name == "mesh" and mesh.children[0].name == "camera"
    assert np.array_equal(mesh.points, np.eye(4, 3) * 10)
    assert mesh.tracks[0].curve.keys[0].value == 300
    objects = scene.objects
    del scene  # the list keeps its scene alive
    assert [o.name for o in objects] == ["mesh"]

    lumora.write_objects(second, objects)  # today's single-list layout
    again = lumora.read_scene(second)
    assert [o.name for o in again.objects] == ["mesh"]


def test_file_errors_say_where_the_stream_stopped_and_why(tmp_path):
    with pytest.raises(lumora.FileError) as e:
        lumora.read_scene(tmp_path / "missing.lum")
    assert (e.value.name, e.value.errno) == ("OPEN", errno.ENOENT)
    assert "No such file or directory" in str(e.value) and "missing.lum" in str(e.value)

    whole = tmp_path / "whole.lum"
    lumora.write_objects(whole, cube_scene().objects)
    cut = tmp_path / "cut.lum"
    cut.write_bytes(whole.read_bytes()[:1000])
    for read in (lumora.read_objects, lumora.read_scene):
        with pytest.raises(lumora.FileError) as e:
            read(cut)
        # Where lumora.dump sees the cut value begin, not byte 0.
        assert 900 < e.value.offset <= 1000 and e.value.errno is None
        assert f"at byte {e.value.offset}" in str(e.value)


def test_links_between_lists_read_one_after_another_reconnect(path):
    first, second = lumora.RootPluginNode(), lumora.RootPluginNode()
    a, b = node("a"), node("b")
    first.append(a)
    second.append(b)
    b.link = a
    with lumora.HyperFile(path, "w") as hf:
        first.write(hf)
        second.write(hf)
    with lumora.HyperFile(path) as hf:
        first2 = lumora.RootPluginNode.read(hf)
        second2 = lumora.RootPluginNode.read(hf)
    assert second2[0].link is not None and second2[0].link.name == "a"


def write_into_points(tmp_path):
    cube_scene().objects[0].points[0] = (1, 2, 3)


def close_with_chunk_open(tmp_path):
    hf = lumora.HyperFile(tmp_path / "open.lum", "w")
    hf.write_chunk_start(1, 0)
    hf.close()


def fail_inside_with(tmp_path):
    with lumora.HyperFile(tmp_path / "open.lum", "w") as hf:
        hf.write_int32(1)
        raise lumora.FileError("a write failed")


def shrink_points(tmp_path):
    cube_scene().objects[0].points = np.zeros((2, 3))


def uvw_of_wrong_length(tmp_path):
    mesh = cube_scene().objects[0]
    mesh.make_tag(lumora.TAG_UVW).uvw = np.zeros((3, 4, 3))


def parameter_of_wrong_kind(tmp_path):
    camera = lumora.BaseObject.alloc(lumora.TYPE_CAMERAOBJECT)
    camera.set_parameter(lumora.CAMERAOBJECT_FOCUS, "fifty")


def unknown_object_type(tmp_path):
    lumora.BaseObject.alloc(123456789)


def unknown_tag_type(tmp_path):
    lumora.BaseObject().make_tag(123456789)


@pytest.mark.parametrize("mistake,error,words", [
    (write_into_points, ValueError, "read-only"),
    (close_with_chunk_open, lumora.FileError, "chunk(s) open"),
    (fail_inside_with, lumora.FileError, "a write failed"),
    (shrink_points, ValueError, "but only 2 points are given"),
    (uvw_of_wrong_length, ValueError, "3 rows, but the object has 2 polygons"),
    (parameter_of_wrong_kind, TypeError, "not str"),
    (unknown_object_type, ValueError, "unknown object type 123456789"),
    (unknown_tag_type, ValueError, "unknown tag type 123456789"),
])
def test_mistakes_are_refused_with_a_message_and_leave_no_partial_file(mistake, error, words,
                                                                       tmp_path):
    with pytest.raises(error, match=None) as e:
        mistake(tmp_path)
    assert words in str(e.value)
    assert not (tmp_path / "open.lum").exists()
