"""Conversion through Assimp: a list of objects exported and imported back, the report as
strings, and failures as FileError."""
import os

import numpy as np
import pytest

import lumora

MODELS = "/usr/share/assimp/models"


def scene():
    lst = lumora.RootObject()
    box = lumora.PolygonObject()
    box.name = "box"
    box.points = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1]], float)
    box.polygons = np.array([[0, 1, 2, 3], [0, 1, 4, 4]], np.int32)
    box.rel_pos = (1, 2, 3)
    lst.append(box)
    spline = lumora.BaseObject.alloc(5101)
    spline.name = "path"
    lst.append(spline)
    cam = lumora.BaseObject.alloc(5103)
    cam.name = "camera"
    cam.insert_under(box)
    return lst


def whole_scene():
    """The objects of scene() in a lumora.Scene, which also holds render settings."""
    s = lumora.Scene()
    objects = scene()
    while objects.first is not None:
        o = objects.first
        o.remove()
        s.objects.append(o)
    return s


def import_into_scene(path):
    s = lumora.Scene()
    s.import_file(path, triangulate=True)
    return s.objects


# Each row: what is exported (a list of objects or a whole Scene), how it comes back, the file,
# the format given, and report lines that must be there.
@pytest.mark.skipif(not hasattr(lumora.RootObject, "export"), reason="built without Assimp")
@pytest.mark.parametrize("make, read, name, fmt, expect", [
    (scene, None, "s.glb", None, []),
    (scene, None, "s.obj", None, ["1 cameras not exported: the format has no cameras"]),
    (scene, None, "s.stl", "stlb", ["1 spline objects not exported: the format has no curves",
                                    "1 cameras not exported: the format has no cameras"]),
    (whole_scene, None, "w.glb", None, []),
    (whole_scene, import_into_scene, "w.gltf", "gltf2", []),
    (whole_scene, import_into_scene, "w.obj", None,
     ["1 cameras not exported: the format has no cameras"]),
])
def test_export_and_import_back(tmp_path, make, read, name, fmt, expect):
    path = tmp_path / name
    source = make()
    report = source.export(path, format=fmt)
    for line in expect:
        assert line in report
    back = (read or (lambda p: lumora.import_scene(p, triangulate=True)))(path)
    meshes = []

    def walk(o):
        while o is not None:
            if isinstance(o, lumora.PolygonObject):
                meshes.append(o)
            walk(o.down)
            o = o.next
    walk(back.first)
    assert sum(len(m.polygons) for m in meshes) == 3  # the quad as two triangles, and one triangle
    if name.endswith(".glb"):
        box = meshes[0]
        assert box.name == "box"
        np.testing.assert_allclose(box.rel_pos, (1, 2, 3), atol=1e-9)
        assert box.down is not None and box.down.type == 5103


@pytest.mark.skipif(not hasattr(lumora, "import_scene"), reason="built without Assimp")
def test_import_reports_and_fails_as_file_error(tmp_path):
    duck = os.path.join(MODELS, "Collada", "duck.dae")
    if os.path.exists(duck):
        report = []
        objects = lumora.import_scene(duck, report=report)
        assert objects.first is not None
        assert "1 materials not imported: the scene keeps no materials" in report
    with pytest.raises(lumora.FileError):
        lumora.import_scene(tmp_path / "missing.obj")
    with pytest.raises(ValueError):
        scene().export(tmp_path / "x.unknown")
    # A scene whose import fails is left empty, and what Python held of it lives on.
    s = lumora.Scene()
    s.objects.append(lumora.BaseObject.alloc(lumora.TYPE_OBJECT))
    held = s.objects.first
    with pytest.raises(lumora.FileError):
        s.import_file(tmp_path / "missing.obj")
    assert s.objects.first is None and held is not None
    with pytest.raises(ValueError):
        s.export(tmp_path / "x.unknown")
    assert ("glb2", "glb", "GL Transmission Format v. 2 (binary)") in lumora.export_formats()
