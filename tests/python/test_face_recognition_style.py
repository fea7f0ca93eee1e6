"""A script written as for face_recognition (RGB arrays, lists of known
descriptors, photos without faces, PIL images) gives the results of the
package's own BGR path."""

import os
import unittest

import numpy as np

import morvik

TESTDATA = os.environ.get("MORVIK_TESTDATA", "")


def data(relative):
    return os.path.join(TESTDATA, relative)


class FaceRecognitionStyleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bgr = morvik.load_image(data("faces/two_people.jpg"))
        cls.known = [morvik.describe(data("people/obama/obama.jpg"))[0],
                     morvik.describe(data("people/biden/biden.jpg"))[0]]

    def test_rgb_arrays_with_their_order_give_the_bgr_results(self):
        rgb = morvik.load_image(data("faces/two_people.jpg"), channel_order="rgb")
        np.testing.assert_array_equal(rgb, self.bgr[:, :, ::-1])
        for order in ("rgb", "RGB", "Rgb"):
            self.assertEqual(morvik.find_faces(rgb, channel_order=order), morvik.find_faces(self.bgr))
        from_rgb = morvik.describe(rgb, channel_order="rgb")
        from_bgr = morvik.describe(self.bgr)
        self.assertEqual([d.face for d in from_rgb], [d.face for d in from_bgr])
        for a, b in zip(from_rgb, from_bgr):
            self.assertEqual(morvik.compare(a, b), 0.0)
        # The same array read in the wrong order is measurably off.
        wrong = morvik.describe(rgb, [from_bgr[0].face])[0]
        self.assertGreater(morvik.compare(wrong, from_bgr[0]), 0.05)

    def test_pil_images_are_converted_by_their_mode(self):
        try:
            from PIL import Image
        except ImportError:
            self.skipTest("PIL is not installed (Debian: python3-pil)")
        rgb = Image.fromarray(np.ascontiguousarray(self.bgr[:, :, ::-1]))
        expected = morvik.describe(self.bgr)
        for image in (rgb, rgb.convert("RGBA")):
            described = morvik.describe(image)
            self.assertEqual([d.face for d in described], [d.face for d in expected], image.mode)
        palette = morvik.describe(rgb.convert("P"))
        self.assertEqual(len(palette), len(expected))
        self.assertEqual(morvik.compare(morvik.describe(rgb)[0], expected[0]), 0.0)
        grey = morvik.find_faces(rgb.convert("L"), algo="hog")
        self.assertEqual(len(grey), 2)
        with self.assertRaises(morvik.MorvikError):
            morvik.find_faces(Image.new("RGB", (0, 0)))

    def test_distances_and_matches_against_known_faces(self):
        unknown = morvik.describe(data("people/obama/obama2.jpg"))[0]
        expected = [morvik.compare(k, unknown) for k in self.known]
        for known in (self.known, [k.descriptor for k in self.known],
                      np.stack([k.descriptor for k in self.known]),
                      [list(k.vector) for k in self.known]):
            got = morvik.distances(known, unknown)
            self.assertEqual(len(got), 2)
            for g, e in zip(got, expected):
                self.assertAlmostEqual(g, e, places=5)
        for g, e in zip(morvik.distances(self.known, unknown.descriptor), expected):
            self.assertAlmostEqual(g, e, places=5)
        self.assertEqual(morvik.matches(self.known, unknown), [True, False])
        self.assertEqual(morvik.matches(self.known, unknown, tolerance=0.0), [False, False])
        self.assertEqual(morvik.distances([], unknown), [])
        with self.assertRaises(morvik.MorvikError):
            morvik.distances(unknown, unknown)
        with self.assertRaises(morvik.MorvikError):
            morvik.distances([np.zeros(127)], unknown)

    def test_a_photo_without_a_face(self):
        dogs = data("misc/dogs.jpg")
        self.assertEqual(morvik.find_faces(dogs, algo="hog"), [])
        self.assertEqual(morvik.describe(dogs, algo="hog"), [])
        self.assertEqual(morvik.describe(self.bgr, []), [])
        with self.assertRaises(morvik.NoFaceError) as caught:
            morvik.compare_photos(data("people/obama/obama.jpg"), dogs, algo="hog")
        self.assertIsInstance(caught.exception, morvik.MorvikError)
        self.assertEqual(caught.exception.code, -4)
        self.assertIn("dogs.jpg", str(caught.exception))

    def test_finder_names_are_the_command_lines(self):
        names = morvik.finder_names()
        self.assertEqual(names["hog"], morvik.FIND_HOG)
        self.assertEqual(names["cnn"], morvik.FIND_CNN)
        self.assertEqual(morvik.find_faces(self.bgr, algo="hog"),
                         morvik.find_faces(self.bgr, algo=morvik.FIND_HOG))
        self.assertEqual(morvik.find_faces(self.bgr, algo="HOG+cnn"),
                         morvik.find_faces(self.bgr, algo=morvik.FIND_HOG | morvik.FIND_CNN))
        self.assertEqual(morvik.find_faces(self.bgr, algo="yunet"), morvik.find_faces(self.bgr))
        with self.assertRaises(morvik.MorvikError) as unknown:
            morvik.find_faces(self.bgr, algo="hog+eyes")
        self.assertIn("'eyes'", str(unknown.exception))
        self.assertIn("hog", str(unknown.exception))

    def test_clipped_faces_and_their_locations(self):
        image = morvik.load_image(data("misc/obama_partial_face.jpg"))
        height, width = image.shape[:2]
        face = morvik.find_faces(image)[0]
        x, y, w, h = face.rect
        self.assertEqual(face.location, (y, x + w, y + h, x))
        clipped = face.clipped(width, height)
        cx, cy, cw, ch = clipped.rect
        self.assertTrue(0 <= cx and 0 <= cy and cx + cw <= width and cy + ch <= height, clipped)
        self.assertEqual((max(x, 0), max(y, 0)), (cx, cy))
        top, right, bottom, left = clipped.location
        self.assertEqual(image[top:bottom, left:right].shape[:2], (ch, cw))
        self.assertEqual(morvik.Face((-50, -50, 20, 20)).clipped(10, 10).rect, (0, 0, 0, 0))
        self.assertEqual(morvik.Face((5, 5, 20, 20)).clipped(10, 10).rect, (5, 5, 5, 5))

    def test_channel_order_is_checked(self):
        for order in ("GBR", "", None, "bgra"):
            with self.assertRaises(morvik.MorvikError):
                morvik.find_faces(self.bgr, channel_order=order)
        with self.assertRaises(morvik.MorvikError):
            morvik.load_image(data("faces/two_people.jpg"), channel_order="grb")


if __name__ == "__main__":
    unittest.main()
