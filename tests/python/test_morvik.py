"""The Python package against the built library (MORVIK_LIBRARY) and the
test photographs (MORVIK_TESTDATA)."""

import os
import tempfile
import unittest

import numpy as np

import morvik

TESTDATA = os.environ.get("MORVIK_TESTDATA", "")


def photo(relative):
    return morvik.load_image(os.path.join(TESTDATA, relative))


class ImagesTest(unittest.TestCase):
    def test_load_image_gives_bgr_pixels(self):
        image = photo("faces/two_people.jpg")
        self.assertEqual(image.shape, (661, 1126, 3))
        self.assertEqual(image.dtype, np.uint8)

    def test_load_image_refuses_missing_and_undecodable_files(self):
        with self.assertRaises(morvik.MorvikError) as missing:
            morvik.load_image(os.path.join(TESTDATA, "no/such.jpg"))
        self.assertEqual(missing.exception.code, -2)
        self.assertEqual(missing.exception.message, "Error parse image")
        with self.assertRaises(morvik.MorvikError) as text:
            morvik.load_image(os.path.join(TESTDATA, "README.md"))
        self.assertEqual(text.exception.code, -2)

    def test_bad_arrays_raise_invalid_args(self):
        bad = [np.zeros((10, 10, 3), dtype=np.float32), np.zeros((10, 10, 5), dtype=np.uint8),
               np.zeros((0, 10, 3), dtype=np.uint8), np.zeros((4, 4, 4, 4), dtype=np.uint8),
               [[0, 0], [0, 0]]]
        for image in bad:
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.find_faces(image)
            self.assertEqual(caught.exception.code, -1, repr(image))
        with self.assertRaises(morvik.MorvikError):
            morvik.find_faces(np.zeros((8, 8, 3), dtype=np.uint8), channel_order="GBR")


class FindFacesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = photo("faces/two_people.jpg")
        cls.faces = morvik.find_faces(cls.image, algo=morvik.FIND_HOG)

    def test_two_faces_largest_first_with_eyes_inside(self):
        self.assertEqual(len(self.faces), 2)
        areas = [f.rect[2] * f.rect[3] for f in self.faces]
        self.assertGreaterEqual(areas[0], areas[1])
        for face in self.faces:
            x, y, w, h = face.rect
            for ex, ey in (face.left_eye, face.right_eye):
                self.assertTrue(x <= ex < x + w and y <= ey < y + h, face)
            self.assertLess(face.left_eye[0], face.right_eye[0])

    def test_pixel_layouts_give_the_same_faces(self):
        rgb = np.ascontiguousarray(self.image[:, :, ::-1])
        rgba = np.dstack([rgb, np.full(rgb.shape[:2], 255, np.uint8)])
        self.assertEqual(morvik.find_faces(rgb, algo=morvik.FIND_HOG, channel_order="RGB"),
                         self.faces)
        self.assertEqual(morvik.find_faces(rgba, algo=morvik.FIND_HOG, channel_order="RGB"),
                         self.faces)
        # A view with strided rows and a reversed-channel view (copied).
        wide = np.zeros((661, 1200, 3), np.uint8)
        wide[:, :1126] = self.image
        self.assertEqual(morvik.find_faces(wide[:, :1126], algo=morvik.FIND_HOG), self.faces)
        self.assertEqual(morvik.find_faces(rgb[:, :, ::-1], algo=morvik.FIND_HOG), self.faces)
        grey = self.image.mean(axis=2).astype(np.uint8)
        self.assertEqual(len(morvik.find_faces(grey, algo=morvik.FIND_HOG)), 2)

    def test_thorough_finds_more_and_restores_the_options(self):
        group = photo("faces/2008_002079.jpg")
        chain = morvik.FIND_LBP | morvik.FIND_HAAR | morvik.FIND_HOG | morvik.FIND_CNN
        try:
            plain = morvik.find_faces(group, algo=chain)
        except morvik.MorvikError:
            plain = []
        thorough = morvik.find_faces(group, algo=chain, thorough=True)
        self.assertGreater(len(thorough), len(plain))
        self.assertEqual(morvik.options["find.all_members"], 0)
        self.assertEqual(morvik.options["find.eye_check"], 1)
        self.assertEqual(morvik.options["yunet.rescale_min"], 0)

    def test_yunet_by_default_with_score_and_points(self):
        group = photo("faces/2008_002079.jpg")
        faces = morvik.find_faces(group)
        self.assertEqual(faces, morvik.find_faces(group, algo="yunet"))
        self.assertEqual(faces, morvik.find_faces(group, algo=morvik.FIND_YUNET))
        self.assertGreaterEqual(len(faces), 6)
        for face in faces:
            self.assertTrue(0.5 <= face.score <= 1.0, face)
            self.assertEqual(len(face.points), 5)
            self.assertEqual(face.points[0], face.left_eye)
            self.assertEqual(face.points[1], face.right_eye)
            self.assertFalse(face.from_shape)
        described = morvik.describe(group, max_faces=2)
        self.assertEqual([d.face.points for d in described], [f.points for f in faces[:2]])
        self.assertEqual(described[0].face.left_eye, faces[0].left_eye)
        # Other finders by name, without points; HOG with its detection
        # value, the cascades without a score.
        self.assertEqual(morvik.find_faces(self.image, algo="hog"), self.faces)
        self.assertGreaterEqual(self.faces[0].score, 0.0)
        self.assertEqual(self.faces[0].points, ())
        self.assertIsNone(morvik.find_faces(self.image, algo="lbp")[0].score)
        for bad in ("eyes", "hog+", 0x200, -1, True):
            with self.assertRaises(morvik.MorvikError):
                morvik.find_faces(self.image, algo=bad)

    def test_max_faces_keeps_the_largest(self):
        self.assertEqual(morvik.find_faces(self.image, algo=morvik.FIND_HOG, max_faces=1),
                         self.faces[:1])

    def test_no_face_is_an_empty_list(self):
        blank = np.full((120, 160), 128, np.uint8)
        self.assertEqual(morvik.find_faces(blank, algo=morvik.FIND_HOG), [])
        self.assertEqual(morvik.describe(blank, algo=morvik.FIND_HOG), [])
        error = morvik.NoFaceError("blank.png")
        self.assertEqual((error.code, error.message), (-4, "Can't find any face"))
        self.assertIn("Can't find any face (-4): blank.png", str(error))


class DescribeTest(unittest.TestCase):
    def largest(self, relative):
        image = photo(relative)
        faces = morvik.find_faces(image, algo=morvik.FIND_HOG, max_faces=1)
        return morvik.describe(image, faces)[0]

    def test_same_person_is_closer_than_different_people(self):
        obama = self.largest("people/obama/obama.jpg")
        obama2 = self.largest("people/obama/obama2.jpg")
        biden = self.largest("people/biden/biden.jpg")
        self.assertEqual(obama.descriptor.shape, (128,))
        self.assertEqual(obama.descriptor.dtype, np.float32)
        same = morvik.compare(obama, obama2)
        different = morvik.compare(obama.descriptor, biden.descriptor)
        self.assertLess(same, 0.6)
        self.assertGreater(different, 0.6)
        self.assertEqual(morvik.compare(obama, obama.descriptor.tolist()), 0.0)

    def test_describe_finds_faces_itself_and_locates_missing_eyes(self):
        image = photo("faces/two_people.jpg")
        found = morvik.find_faces(image, algo=morvik.FIND_HOG)
        described = morvik.describe(image, algo=morvik.FIND_HOG)
        self.assertEqual([d.face.rect for d in described], [f.rect for f in found])
        bare = morvik.Face(found[0].rect)
        located = morvik.describe(image, [bare])[0]
        self.assertNotEqual(located.face.left_eye, (0, 0))
        self.assertLess(morvik.compare(located, described[0]), 0.3)

    def test_bad_descriptor_input(self):
        image = photo("faces/two_people.jpg")
        self.assertEqual(morvik.describe(image, []), [])
        with self.assertRaises(morvik.MorvikError) as flat:
            morvik.describe(image, [morvik.Face((10, 10, 0, 40))])
        self.assertEqual(flat.exception.code, -1)
        with self.assertRaises(morvik.MorvikError) as sizes:
            morvik.compare(np.zeros(128), np.zeros(127))
        self.assertEqual(sizes.exception.code, -1)
        with self.assertRaises(morvik.MorvikError):
            morvik.compare("abc", np.zeros(128))


class OptionsTest(unittest.TestCase):
    def test_lists_every_key_with_its_value(self):
        options = morvik.options
        self.assertEqual(len(options), 55)
        self.assertIn("image.rescale_max", options)
        self.assertEqual(options.type_of("dlib.chip_padding"), "float")
        self.assertEqual(options.type_of("align.desired_eyes.width"), "double")
        self.assertEqual(options["image.format"], ".png")
        self.assertEqual(dict(options.items())["dlib.cnnface.rescale_max"], 300)

    def test_set_and_read_back(self):
        options = morvik.options
        saved = {k: options[k] for k in ("image.rescale_max", "pico.scalefactor",
                                         "align.desired_eyes.height", "image.format")}
        try:
            options["image.rescale_max"] = 1024
            options["pico.scalefactor"] = 1.25
            options["align.desired_eyes.height"] = 0.21
            options["image.format"] = ".jpg"
            self.assertEqual(options["image.rescale_max"], 1024)
            self.assertEqual(options["pico.scalefactor"], 1.25)
            self.assertEqual(options["align.desired_eyes.height"], 0.21)
            self.assertEqual(options["image.format"], ".jpg")
        finally:
            for key, value in saved.items():
                options[key] = value
        self.assertEqual(options["image.format"], ".png")

    def test_bad_keys_and_values(self):
        options = morvik.options
        cases = [("Image.Rescale_Max", 1, -11), ("image.rescale_max", "800", -1),
                 ("image.rescale_max", 2**40, -1), ("image.rescale_max", 1.5, -1),
                 ("image.rescale_max", True, -1), ("pico.scalefactor", float("nan"), -1),
                 ("pico.scalefactor", 1e39, -1), ("image.format", 3, -1),
                 ("image.format", "a\0b", -1)]
        for key, value, code in cases:
            with self.assertRaises(morvik.MorvikError) as caught:
                options[key] = value
            self.assertEqual(caught.exception.code, code, (key, value))
        with self.assertRaises(morvik.MorvikError) as unknown:
            options["no.such.key"]
        self.assertEqual(unknown.exception.code, -11)
        self.assertEqual(options["image.rescale_max"], 800)
        self.assertEqual(options["image.format"], ".png")


class ModelFailureTest(unittest.TestCase):
    def test_a_missing_model_becomes_an_error_not_a_crash(self):
        options = morvik.options
        saved = options["pico.path"]
        morvik.release_models()
        try:
            options["pico.path"] = "/nonexistent/facefinder.dat"
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.find_faces(np.full((100, 100), 90, np.uint8), algo=morvik.FIND_PICO)
            self.assertEqual(caught.exception.code, -8)
            self.assertEqual(caught.exception.message, "Catched exception")
        finally:
            options["pico.path"] = saved
            morvik.release_models()


def unit_rows(rng, count):
    rows = rng.standard_normal((count, 128)).astype(np.float32)
    return rows / np.linalg.norm(rows, axis=1, keepdims=True)


class IndexTest(unittest.TestCase):
    def test_search_is_the_brute_force_scan(self):
        rng = np.random.default_rng(3)
        faces = unit_rows(rng, 2000)
        index = morvik.Index()
        self.assertEqual(list(index.add(faces[:1500])), list(range(1500)))
        self.assertEqual(index.add(faces[1500:]), range(1500, 2000))
        self.assertEqual((len(index), index.kind, index.structure), (2000, "auto", "exact"))
        query = faces[42] + 0.02 * unit_rows(rng, 1)[0]
        found = index.search(query, k=5)
        scan = sorted((morvik.compare(query, face), i) for i, face in enumerate(faces))[:5]
        self.assertEqual([i for i, _ in found], [i for _, i in scan])
        for (_, distance), (expected, _) in zip(found, scan):
            self.assertEqual(distance, expected)
        self.assertEqual(index.search(query, k=5, threshold=0.5), found[:1])
        self.assertEqual(index.search(query, k=3, exact=True), found[:3])
        np.testing.assert_array_equal(index.descriptors(10, 2), faces[10:12])

    def test_save_load_and_a_damaged_file(self):
        rng = np.random.default_rng(4)
        faces = unit_rows(rng, 300)
        index = morvik.Index("exact")
        index.add(list(faces))  # a list of vectors works too
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "faces.mvx")
            index.save(path)
            loaded = morvik.Index.load(path)
            self.assertEqual((len(loaded), loaded.kind), (300, "exact"))
            self.assertEqual(loaded.search(faces[7], k=1), [(7, 0.0)])
            with open(path, "rb") as f:
                whole = f.read()
            with open(path, "wb") as f:
                f.write(whole[:len(whole) // 2])
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.Index.load(path)
            self.assertEqual(caught.exception.code, -1)
            with self.assertRaises(morvik.MorvikError):
                morvik.Index.load(os.path.join(tmp, "missing.mvx"))

    def test_bad_input(self):
        index = morvik.Index()
        for bad in ([[1.0, 2.0]], np.zeros((2, 127)), "text", [[float("nan")] * 128]):
            with self.assertRaises(morvik.MorvikError):
                index.add(bad)
        with self.assertRaises(morvik.MorvikError):
            index.search(np.zeros(128), k=0)
        with self.assertRaises(morvik.MorvikError):
            morvik.Index("fast")
        self.assertEqual(index.search(np.zeros(128)), [])
        index.close()
        with self.assertRaises(morvik.MorvikError):
            len(index)


class ClusterTest(unittest.TestCase):
    def test_people_of_the_test_photographs(self):
        files = ["people/obama/obama.jpg", "people/biden/biden.jpg", "people/obama/obama2.jpg",
                 "people/biden/biden2.jpg", "people/obama/obama3.jpg"]
        described = [morvik.describe(photo(f), algo=morvik.FIND_HOG)[0] for f in files]
        steps = []
        labels = morvik.cluster(described, threshold=0.5, progress=lambda d, t: steps.append((d, t)))
        self.assertEqual(list(labels), [0, 1, 0, 1, 0])
        self.assertEqual(steps[-1], (5, 5))

    def test_synthetic_people_and_edge_cases(self):
        rng = np.random.default_rng(5)
        centres = unit_rows(rng, 6)
        faces = np.repeat(centres, [6, 5, 4, 3, 2, 1], axis=0) + 0.2 / np.sqrt(128) * rng.standard_normal((21, 128))
        labels = morvik.cluster(faces.astype(np.float32), 0.5)
        self.assertEqual(list(labels), [0] * 6 + [1] * 5 + [2] * 4 + [3] * 3 + [4] * 2 + [5])
        self.assertEqual(len(morvik.cluster([], 0.5)), 0)
        with self.assertRaises(morvik.MorvikError):
            morvik.cluster(faces, threshold=0)


class VersionTest(unittest.TestCase):
    def test_version(self):
        self.assertEqual(morvik.version(), (3, 7, 0x89287A2A))


if __name__ == "__main__":
    unittest.main()
