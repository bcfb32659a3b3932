"""IES lights (the shared luminaire files and one written here), applying them to light objects,
and camera parameters through files."""
import math
import os
import pathlib

import numpy as np
import pytest

import lumora

SMALL = ("IESNA:LM-63-1995\n[MANUFAC] Maker\n[LAMP] One lamp\nTILT=NONE\n"
         "1 1000 1 3 2 1 2 0.5 0.25 0\n1 1 100\n0 45 90\n0 90\n500 400 100 500 300 50\n")


def ies_files():
    root = pathlib.Path(os.environ.get("LUMORA_SHARED_DATA_DIR",
                                       pathlib.Path(__file__).parents[3] / "shared" / "data"))
    return sorted((root / "ies").glob("*.ies"))


@pytest.fixture
def small(tmp_path):
    p = tmp_path / "small.ies"
    p.write_text(SMALL)
    return p


def test_small_file_reads_as_written(small):
    l = lumora.IESLight.load(small)
    assert l.texts[0] == "Maker" and l.texts[4] == "One lamp"
    assert np.array_equal(l.vertical_angles, [0, 45, 90])
    assert np.array_equal(l.horizontal_angles, [0, 90])
    assert np.array_equal(l.candela, [[500, 400, 100], [500, 300, 50]])
    assert l.max_candela == 500
    # Any length of direction: straight down, 45 degrees in the first plane, horizontal.
    for d, want in (((0, 0, -1), 1.0), ((0, 3, -3), 0.8), ((0, 0.5, 0), 0.2), ((2, 0, 0), 0.1)):
        assert l.intensity(d) == pytest.approx(want, abs=1e-3)


@pytest.mark.parametrize("name", [p.name for p in ies_files()] or ["(none)"])
def test_luminaire_files_round_trip_as_records(name, path):
    files = {p.name: p for p in ies_files()}
    if name not in files:
        pytest.skip("no shared IES files")
    l = lumora.IESLight.load(files[name])
    nh, nv = len(l.horizontal_angles), len(l.vertical_angles)
    assert l.candela.shape == (nh, nv) and l.max_candela > 0 and l.power_ratio > 0
    with lumora.HyperFile(path, "w") as hf:
        l.write(hf)
    with lumora.HyperFile(path) as hf:
        back = lumora.IESLight.read(hf)
    for attr in ("vertical_angles", "horizontal_angles", "candela"):
        assert np.array_equal(getattr(back, attr), getattr(l, attr))
    assert back.texts == l.texts and back.max_candela == l.max_candela
    for d in ((0, 0, -1), (1, 0, 0), (0.3, -0.2, 0.9)):
        assert back.intensity(d) == l.intensity(d) >= 0


@pytest.mark.parametrize("content,result,code", [
    (None, -1, lumora.FILEERROR_OPEN),
    (b"no header here\n" * 100, -2, lumora.FILEERROR_WRONG_VALUE),
    (SMALL.replace("0 45 90", "0 x 90").encode(), -5, lumora.FILEERROR_WRONG_VALUE),
    (SMALL[:len(SMALL) - 20].encode(), -5, lumora.FILEERROR_WRONG_VALUE),
])
def test_bad_ies_files_raise_or_report(content, result, code, tmp_path):
    p = tmp_path / "bad.ies"
    if content is not None:
        p.write_bytes(content)
    with pytest.raises(lumora.FileError) as e:
        lumora.IESLight.load(p)
    assert e.value.code == code
    l = lumora.IESLight()
    with pytest.raises(lumora.FileError) as e:
        l.import_file(p)
    assert e.value.ies_result == result
    assert l.import_file(p, check=False) == result


def test_applied_light_survives_a_file(small, path):
    lst = lumora.RootObject()
    lamp = lumora.BaseObject.alloc(5102)
    lst.append(lamp)
    with pytest.raises(TypeError):
        lumora.set_ies_light(lumora.BaseObject(), lumora.IESLight.load(small))
    lumora.set_ies_light(lamp, lumora.IESLight.load(small))
    assert lamp.ies_light.max_candela == 500
    lumora.write_objects(path, lst)
    back = lumora.read_objects(path)[0]
    assert back.get_parameter(lumora.LIGHT_TYPE) == lumora.LIGHT_TYPE_PHOTOMETRIC
    assert back.get_parameter(lumora.LIGHT_IES_MAXCANDELA) == 500
    assert back.get_parameter(lumora.LIGHT_IES_TEXTS) == "Maker"


@pytest.mark.parametrize("focus,aperture", [(50.0, 36.0), (35.0, 36.0), (200.0, 24.0)])
def test_camera_field_of_view_follows_its_lens(focus, aperture, path):
    lst = lumora.RootObject()
    cam = lumora.BaseObject.alloc(5103)
    lst.append(cam)
    cam.set_parameter(lumora.CAMERAOBJECT_FOCUS, focus)
    cam.set_parameter(lumora.CAMERAOBJECT_APERTURE, aperture)
    fov = 2 * math.atan(aperture / 2 / focus)
    assert cam.get_parameter(lumora.CAMERAOBJECT_FOV) == pytest.approx(fov)
    assert cam.get_parameter(lumora.CAMERAOBJECT_FOV_RENDER) == pytest.approx(fov)
    lumora.write_objects(path, lst)
    back = lumora.read_objects(path)[0]
    assert back.get_parameter(lumora.CAMERAOBJECT_FOCUS) == focus
    assert back.get_parameter(lumora.CAMERAOBJECT_FOV) == pytest.approx(fov)
    # Setting the field of view sets the focal length.
    back.set_parameter(lumora.CAMERAOBJECT_FOV, fov / 2)
    assert back.get_parameter(lumora.CAMERAOBJECT_FOCUS) == pytest.approx(
        aperture / 2 / math.tan(fov / 4))
