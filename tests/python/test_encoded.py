"""The package on file paths and encoded bytes: everything here works on an
interpreter without NumPy (the pip-install test runs it in such a venv)."""

import json
import os
import unittest

import morvik
from morvik import records

TESTDATA = os.environ.get("MORVIK_TESTDATA", "")


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
    """Numbers as the command-line tool's std::to_chars writes them."""

    def test_shortest_forms(self):
        cases = [(0.0, "f", "0"), (-0.0, "f", "-0"), (0.1, "f", "0.1"), (1e-05, "f", "1e-05"),
                 (0.0001234, "f", "0.0001234"), (123456792.0, "f", "123456792"),
                 (1e10, "f", "1e+10"), (16777216.0, "f", "16777216"), (3.4028234663852886e38, "f",
                                                                        "3.4028235e+38"),
                 (1918882.75, "f", "1918882.8"), (12.5, "d", "12.5"), (1e-7, "d", "1e-07"),
                 (float("inf"), "d", "null"), (2.0 ** -20, "f", "9.536743e-07")]
        import struct
        for value, kind, text in cases:
            if kind == "f":
                value = struct.unpack("<f", struct.pack("<f", value))[0]
            self.assertEqual(records.shortest(value, kind), text, (value, kind))

    def test_strings_escape_as_the_tool_does(self):
        self.assertEqual(records.quoted('a"b\\c\nd\x01é'), b'"a\\"b\\\\c\\nd\\u0001\xc3\xa9"')
        # A name that is not UTF-8: valid JSON, and its bytes come back.
        name = os.fsdecode(b"photo-\xff\xe9.jpg")
        line = records.quoted(name)
        self.assertEqual(line, b'"photo-\\udcff\\udce9.jpg"')
        self.assertEqual(os.fsencode(json.loads(line)), b"photo-\xff\xe9.jpg")


if __name__ == "__main__":
    unittest.main()
