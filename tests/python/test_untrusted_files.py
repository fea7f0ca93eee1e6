"""Paths and files the Python package must refuse rather than block on,
cut or write through: FIFOs and devices, NUL bytes, 32-bit overflows,
overlong lines, a second run on one index."""

import fcntl
import io
import os
import shutil
import tempfile
import time
import unittest

import morvik
import morvik.dask
from morvik import _files, indexing

TESTDATA = os.environ.get("MORVIK_TESTDATA", "")


class _either:
    """A context in which a MorvikError is as good as no error: the call
    only has to end."""

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        return kind is not None and issubclass(kind, morvik.MorvikError)


class UntrustedPathsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.fifo = os.path.join(self.tmp, "fifo")
        os.mkfifo(self.fifo)
        self.start = time.monotonic()

    def tearDown(self):
        self.assertLess(time.monotonic() - self.start, 5)
        shutil.rmtree(self.tmp)

    def code_of(self, call, *args):
        with self.assertRaises(morvik.MorvikError) as caught:
            call(*args)
        return caught.exception.code

    def test_fifos_devices_and_folders_are_refused_at_once(self):
        for path in (self.fifo, "/dev/zero", self.tmp):
            self.assertEqual(self.code_of(morvik.load_image, path), -2, path)
            self.assertEqual(self.code_of(morvik.find_faces, path), -2, path)
            self.assertEqual(self.code_of(morvik.Index.load, path), -1, path)
            self.assertEqual(self.code_of(indexing.indexed_lines, path), -1, path)
        with self.assertRaises(morvik.MorvikError) as fifo:
            morvik.load_image(self.fifo)
        self.assertIn("not a regular file", str(fifo.exception))

    def test_model_options_naming_a_fifo_fail_instead_of_blocking(self):
        image = morvik.load_image(os.path.join(TESTDATA, "people/obama/obama.jpg"))
        face = morvik.find_faces(image, algo=morvik.FIND_HOG, max_faces=1)[0]
        for key in ("dlib.anet", "dlib.shape", "haar.eye.path_default"):
            saved = morvik.options[key]
            morvik.options[key] = self.fifo
            morvik.release_models()
            try:
                # The descriptor network is needed by every description; the
                # landmark shape and the eye cascade by a face without eyes.
                with self.assertRaises(morvik.MorvikError) if key == "dlib.anet" else _either():
                    morvik.describe(image, [morvik.Face(face.rect)])
            finally:
                morvik.options[key] = saved
                morvik.release_models()

    def test_a_nul_byte_in_a_path_is_refused_not_cut(self):
        real = os.path.join(TESTDATA, "people/obama/obama.jpg")
        for call in (morvik.load_image, morvik.find_faces, morvik.Index.load, morvik.Index().save):
            self.assertEqual(self.code_of(call, real + "\0.mvx"), -1, call)
        self.assertEqual(self.code_of(morvik.options.__setitem__, "dlib.anet", real + "\0x"), -1)

    def test_a_photo_too_large_for_the_decoder_limit_is_not_read(self):
        big = os.path.join(self.tmp, "big.ppm")
        with open(big, "wb") as f:
            f.write(b"P6\n")
        saved = morvik.options["image.max_decoded_pixels"]
        morvik.options["image.max_decoded_pixels"] = 1000
        try:
            os.truncate(big, 1000 * _files.PHOTO_BYTES_PER_PIXEL + _files.PHOTO_OVERHEAD_BYTES + 1)
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.load_image(big)
            self.assertIn("too large for an image", str(caught.exception))
        finally:
            morvik.options["image.max_decoded_pixels"] = saved


class FaceRangeTest(unittest.TestCase):
    def test_coordinates_past_32_bits_are_refused_not_truncated(self):
        image = morvik.load_image(os.path.join(TESTDATA, "people/obama/obama.jpg"))
        face = morvik.find_faces(image, algo=morvik.FIND_HOG, max_faces=1)[0]
        x, y, w, h = face.rect
        for rect in ((x + 2**32, y, w, h), (x, y, w + 2**31, h), (x, -2**31 - 1, w, h), (x, y, w)):
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.describe(image, [morvik.Face(rect, face.left_eye, face.right_eye)])
            self.assertEqual(caught.exception.code, -1, rect)
        with self.assertRaises(morvik.MorvikError):
            morvik.describe(image, [morvik.Face(face.rect, (2**40, 0), face.right_eye)])
        self.assertEqual(len(morvik.describe(image, [face])), 1)


class RecordLinesTest(unittest.TestCase):
    def test_lines_past_the_limit_are_skipped_without_being_held(self):
        data = b"short\n" + b"x" * 100 + b"\n" + b"y" * 10 + b"\n" + b"last"
        lines = list(_files.record_lines(io.BytesIO(data), limit=10))
        self.assertEqual(lines, [b"short", None, b"y" * 10, b"last"])
        self.assertEqual(list(_files.record_lines(io.BytesIO(b"z" * 11), limit=10)), [None])

    def test_an_overlong_record_is_not_taken_for_an_indexed_photo(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "index.jsonl")
            with open(path, "w") as f:
                f.write('{"photo":"a.jpg","faces":[]}\n')
                f.write('{"photo":"b.jpg","faces":[],"pad":"' + "p" * _files.MAX_RECORD_BYTES + '"}\n')
                f.write('{"photo":"c.jpg","faces":[]}\n')
            self.assertEqual(sorted(indexing.indexed_lines(path)), ["a.jpg", "c.jpg"])


class DaskOutTest(unittest.TestCase):
    """Without Dask at work: what the indexer does with its OUT file before
    and after describing anything (every photo already has a record)."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.out = os.path.join(self.tmp, "faces.jsonl")
        with open(self.out, "w") as f:
            f.write('{"photo":"a.jpg","faces":[]}\n{"photo":"b.jpg","faces":[]}\n')

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_a_second_run_on_one_out_is_refused_clearly(self):
        with _files.IndexLock(self.out):
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.dask.index(["a.jpg"], out=self.out, progress=False)
            self.assertIn("another run is writing this index", str(caught.exception))
            self.assertEqual(morvik.dask.main(["a.jpg", "--out", self.out]), 1)
        self.assertFalse(os.path.exists(self.out + ".lock"))

    def test_planted_links_are_never_written_through(self):
        victim = os.path.join(self.tmp, "victim.txt")
        with open(victim, "w") as f:
            f.write("precious")
        for name in ("faces.jsonl.writing", "faces.jsonl.partial"):
            os.symlink(victim, os.path.join(self.tmp, name))
        with self.assertRaises(morvik.MorvikError):
            morvik.dask.index(["b.jpg", "a.jpg"], out=self.out, progress=False)
        os.remove(os.path.join(self.tmp, "faces.jsonl.partial"))
        records = morvik.dask.index(["b.jpg", "a.jpg"], out=self.out, progress=False)
        self.assertEqual([r["photo"] for r in records], ["b.jpg", "a.jpg"])
        with open(victim) as f:
            self.assertEqual(f.read(), "precious")
        with open(self.out) as f:
            self.assertEqual(f.read(), '{"photo":"b.jpg","faces":[]}\n{"photo":"a.jpg","faces":[]}\n')
        self.assertEqual(sorted(os.listdir(self.tmp)), ["faces.jsonl", "faces.jsonl.writing", "victim.txt"])

    def test_a_lock_file_held_elsewhere_is_waited_for_by_nobody(self):
        with open(self.out + ".lock", "w") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            start = time.monotonic()
            with self.assertRaises(morvik.MorvikError):
                with _files.IndexLock(self.out):
                    pass
            self.assertLess(time.monotonic() - start, 1)


if __name__ == "__main__":
    unittest.main()
