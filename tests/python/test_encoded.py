"""The package on file paths and encoded bytes: everything here works on an
interpreter without NumPy (the pip-install test runs it in such a venv)."""

import ctypes
import json
import math
import os
import unittest

import morvik
from morvik import _codes, _native, records

TESTDATA = os.environ.get("MORVIK_TESTDATA", "")
TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def data(relative):
    return os.path.join(TESTDATA, relative)


def numpy_available():
    try:
        import numpy  # noqa: F401
    except ImportError:
        return False
    return True


class PathsAndBytesTest(unittest.TestCase):
    def test_faces_of_a_path_and_of_its_bytes_are_the_same(self):
        path = data("faces/two_people.jpg")
        by_path = morvik.find_faces(path, algo=morvik.FIND_HOG)
        with open(path, "rb") as f:
            by_bytes = morvik.find_faces(f.read(), algo=morvik.FIND_HOG)
        self.assertEqual(len(by_path), 2)
        self.assertEqual(by_path, by_bytes)
        described = morvik.describe(path, by_path)
        self.assertEqual([d.face.rect for d in described], [f.rect for f in by_path])
        self.assertEqual(len(described[0].vector), 128)
        self.assertEqual(morvik.compare(described[0], list(described[0].vector)), 0.0)

    def test_compare_photos_tells_people_apart(self):
        same = morvik.compare_photos(data("people/obama/obama.jpg"), data("people/obama/obama2.jpg"),
                                     algo=morvik.FIND_HOG)
        different = morvik.compare_photos(data("people/obama/obama.jpg"),
                                          data("people/biden/biden.jpg"), algo=morvik.FIND_HOG)
        self.assertLess(same, 0.6)
        self.assertGreater(different, 0.6)

    def test_bad_sources_give_result_codes(self):
        with self.assertRaises(morvik.MorvikError) as missing:
            morvik.find_faces(data("no/such.jpg"))
        self.assertEqual(missing.exception.code, -2)
        self.assertIn("no such file", str(missing.exception))
        with self.assertRaises(morvik.MorvikError) as text:
            morvik.find_faces(b"not an image at all")
        self.assertEqual(text.exception.code, -2)
        with self.assertRaises(morvik.NoFaceError) as nothing:
            morvik.compare_photos(data("misc/dogs.jpg"), data("people/obama/obama.jpg"),
                                  algo=morvik.FIND_HOG)
        self.assertEqual(nothing.exception.code, -4)
        self.assertIn("dogs.jpg", nothing.exception.detail)
        self.assertEqual(morvik.find_faces(data("misc/dogs.jpg"), algo="hog"), [])
        with self.assertRaises(morvik.MorvikError) as sizes:
            morvik.compare([0.0] * 128, [0.0] * 127)
        self.assertEqual(sizes.exception.code, -1)
        with self.assertRaises(morvik.MorvikError):
            morvik.compare("abc", [0.0] * 128)

    def test_a_refused_option_value_names_the_range(self):
        with self.assertRaises(morvik.MorvikError) as caught:
            morvik.options["image.max_working_side"] = 10
        self.assertIn("image.max_working_side takes a whole number from 256 to 16384",
                      str(caught.exception))
        self.assertEqual(morvik.options.range_of("image.max_working_side"), (256, 16384))
        self.assertIsNone(morvik.options.range_of("dlib.shape"))

    def test_an_image_over_the_decode_limit_is_named_as_such(self):
        saved = morvik.options["image.max_decoded_pixels"]
        morvik.options["image.max_decoded_pixels"] = 1000
        try:
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.find_faces(data("faces/two_people.jpg"))
        finally:
            morvik.options["image.max_decoded_pixels"] = saved
        self.assertEqual(caught.exception.code, -2)
        self.assertIn("1126x661 image (744286 pixels) over the decode limit "
                      "image.max_decoded_pixels = 1000", str(caught.exception))

    def test_import_is_quiet_unless_asked(self):
        import subprocess
        import sys
        quiet = subprocess.run([sys.executable, "-c", "import morvik"], capture_output=True,
                               text=True, timeout=120,
                               env={k: v for k, v in os.environ.items() if k != "MORVIK_LOG"})
        self.assertEqual(quiet.returncode, 0, quiet.stderr)
        self.assertEqual(quiet.stderr, "")
        logged = subprocess.run([sys.executable, "-c", "import morvik, os; "
                                 "print(morvik._native.lib.MvGetLogging(), "
                                 "os.environ.get('MORVIK_LOG'))"],
                                capture_output=True, text=True, timeout=120,
                                env=dict(os.environ, MORVIK_LOG="1"))
        self.assertIn("Loading config", logged.stderr)
        self.assertEqual(logged.stdout.split(), ["1", "1"])

    def test_options_without_arrays(self):
        self.assertEqual(morvik.options["image.format"], ".png")
        self.assertTrue(morvik.__version__.startswith("3.7"))

    @unittest.skipIf(numpy_available(), "NumPy is installed")
    def test_arrays_say_they_need_numpy(self):
        with self.assertRaises(ModuleNotFoundError) as load:
            morvik.load_image(data("faces/two_people.jpg"))
        self.assertIn("NumPy", str(load.exception))
        described = morvik.describe(data("people/biden/biden.jpg"), algo=morvik.FIND_HOG)
        with self.assertRaises(ModuleNotFoundError):
            described[0].descriptor


class RecordNumbersTest(unittest.TestCase):
    """Numbers as the library's record writer writes them (std::to_chars)."""

    @staticmethod
    def record_with(angle=0.0, value=0.0):
        found, described = _native.FoundFace(), _native.FaceData()
        found.face.angle = angle
        found.score = math.nan  # a finder without a score: no "score" in the record
        described.vector[0] = value
        return records.photo_record("p", [found], [described])

    def test_shortest_forms(self):
        cases = [(0.0, "f", "0"), (-0.0, "f", "-0"), (0.1, "f", "0.1"), (1e-05, "f", "1e-05"),
                 (0.0001234, "f", "0.0001234"), (123456792.0, "f", "123456792"),
                 (1e10, "f", "1e+10"), (16777216.0, "f", "16777216"), (3.4028234663852886e38, "f",
                                                                        "3.4028235e+38"),
                 (1918882.75, "f", "1918882.8"), (12.5, "d", "12.5"), (1e-7, "d", "1e-07"),
                 (float("inf"), "d", "null"), (2.0 ** -20, "f", "9.536743e-07")]
        for value, kind, text in cases:
            if kind == "f":
                written = self.record_with(value=value)
                self.assertIn(b'"descriptor":[%s,' % text.encode(), written, (value, kind))
            else:
                written = self.record_with(angle=value)
                self.assertIn(b'"angle":%s,' % text.encode(), written, (value, kind))

    def test_strings_escape_as_the_tool_does(self):
        written = records.error_record('a"b\\c\nd\x01é', -1, "")
        self.assertTrue(written.startswith(b'{"photo":"a\\"b\\\\c\\nd\\u0001\xc3\xa9",'), written)
        # A name that is not UTF-8: valid JSON, and its bytes come back.
        name = os.fsdecode(b"photo-\xff\xe9.jpg")
        line = records.error_record(name, -1, "")
        self.assertTrue(line.startswith(b'{"photo":"photo-\\udcff\\udce9.jpg",'), line)
        self.assertEqual(os.fsencode(json.loads(line)["photo"]), b"photo-\xff\xe9.jpg")

    def test_bad_arguments_are_refused(self):
        record, length = ctypes.c_void_p(), ctypes.c_size_t()
        face = _native.FoundFace()
        self.assertEqual(_native.lib.MvFormatPhotoRecord(None, 1, None, 0, None, 0, -1, -1,
                                                         ctypes.byref(record), ctypes.byref(length)), -1)
        self.assertEqual(_native.lib.MvFormatPhotoRecord(b"p", 1, None, 1, None, 0, -1, -1,
                                                         ctypes.byref(record), ctypes.byref(length)), -1)
        self.assertEqual(_native.lib.MvFormatPhotoRecord(b"p", 1, ctypes.byref(face), 1, None, 1, -1, -1,
                                                         ctypes.byref(record), ctypes.byref(length)), -1)
        self.assertEqual(_native.lib.MvFormatErrorRecord(b"p", 1, -4, None, 3, ctypes.byref(record),
                                                         ctypes.byref(length)), -1)
        self.assertEqual(_native.lib.MvFormatErrorRecord(b"p", 1, -4, b"", 0, None,
                                                         ctypes.byref(length)), -1)
        self.assertIsNone(record.value)


def parsed_face(item):
    """The _native.FoundFace and, with a descriptor, FaceData a record's face was
    written from. A described face's rectangle and eyes are the description's."""
    face, described = _native.Face(), None
    where = face
    if "descriptor" in item:
        described = _native.FaceData()
        for i, value in enumerate(item["descriptor"]):
            described.vector[i] = math.nan if value is None else value
        where = described
    r = item["rect"]
    where.rect.x, where.rect.y, where.rect.w, where.rect.h = r["x"], r["y"], r["w"], r["h"]
    where.left_eye.x, where.left_eye.y = item["left_eye"]["x"], item["left_eye"]["y"]
    where.right_eye.x, where.right_eye.y = item["right_eye"]["x"], item["right_eye"]["y"]
    face.from_shape = item["from_shape"]
    face.angle = math.nan if item["angle"] is None else item["angle"]
    found = _native.FoundFace()
    found.face = face
    found.score = math.nan if item.get("score") is None else item["score"]
    points = item.get("points", [])
    found.point_count = len(points)
    for i, p in enumerate(points):
        found.points[i].x, found.points[i].y = p["x"], p["y"]
    return found, described


def rewritten(line):
    """The record of `line` as the library writes it from the values it holds."""
    # "-0" is the float -0.0 written without a point, not the integer 0.
    record = json.loads(line.decode("utf-8", "surrogateescape"),
                        parse_int=lambda text: -0.0 if text == "-0" else int(text))
    if "error" in record:
        error = record["error"]
        return records.error_record(record["photo"], error["code"], error["detail"])
    pairs = [parsed_face(item) for item in record["faces"]]
    by = (record["finder"], record["align_mode"]) if "finder" in record else None
    return records.photo_record(record["photo"], [f for f, _ in pairs],
                                [d for _, d in pairs if d is not None], by)


class RecordFilesTest(unittest.TestCase):
    """Index files written before the records had their one writer in the
    library: the writer gives them back byte for byte."""

    def check_file(self, path):
        with open(path, "rb") as f:
            lines = f.read().split(b"\n")
        self.assertEqual(lines.pop(), b"")
        self.assertGreater(len(lines), 0)
        for number, line in enumerate(lines, 1):
            self.assertEqual(rewritten(line), line, "%s:%d" % (path, number))

    def test_an_index_the_tool_wrote(self):
        self.check_file(os.path.join(TESTS, "collection", "data", "index_v1.jsonl"))

    def test_records_of_edge_values(self):
        self.check_file(os.path.join(TESTS, "records", "data", "crafted_records.jsonl"))


class ResultCodesTest(unittest.TestCase):
    def test_every_code_of_the_header_has_its_message(self):
        codes = _codes.RESULT_CODES
        self.assertEqual(codes["OK"], 0)
        self.assertEqual(len(set(codes.values())), len(codes))
        for name, code in codes.items():
            self.assertNotEqual(morvik.result_message(code), "Unknown error", name)


if __name__ == "__main__":
    unittest.main()
