"""`morvik index --workers 2` (the Dask indexer on a local cluster of two
processes on 127.0.0.1) against the serial `morvik index` on the same
folder: the same records byte for byte, damaged photos recorded without
stopping the batch, and a second run that adds only the missing photos.
OpenBLAS runs single-threaded in both, as its thread count can change the
last bits of descriptors."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ["MORVIK_CLI"]
TESTDATA = os.environ["MORVIK_TESTDATA"]
PHOTOS = ["faces/two_people.jpg", "faces/Tom_Cruise_avp_2014_4.jpg", "people/obama/obama.jpg",
          "people/biden/biden.jpg", "misc/dogs.jpg", "misc/32bit.png"]


def run(*args):
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1")
    return subprocess.run([CLI, *args], capture_output=True, timeout=600, env=env)


def lines(path):
    with open(path, "rb") as f:
        return f.read().splitlines()


class DaskIndexTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        cls.folder = os.path.join(cls.tmp, "photos")
        for relative in PHOTOS:
            target = os.path.join(cls.folder, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            os.symlink(os.path.join(TESTDATA, relative), target)
        with open(os.path.join(cls.folder, "notes.jpg"), "w") as f:
            f.write("a text file named like a photo\n")
        with open(os.path.join(cls.folder, "cut.png"), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + bytes(range(256)))  # a PNG signature, then noise
        open(os.path.join(cls.folder, "empty.png"), "w").close()
        cls.serial = os.path.join(cls.tmp, "serial.jsonl")
        cls.serial_run = run("index", "--algo", "hog", cls.folder, "--out", cls.serial)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def dask_index(self, out):
        return run("index", "--algo", "hog", self.folder, "--out", out, "--workers", "2")

    def test_same_records_as_the_serial_index(self):
        out = os.path.join(self.tmp, "dask.jsonl")
        result = self.dask_index(out)
        self.assertEqual(result.returncode, self.serial_run.returncode, result.stderr)
        self.assertEqual(result.returncode, 2)  # the first failure: an image that does not decode
        self.assertEqual(lines(out), lines(self.serial))
        records = [json.loads(line) for line in lines(out)]
        self.assertEqual(len(records), len(PHOTOS) + 3)
        errors = {os.path.basename(r["photo"]): r["error"] for r in records if "error" in r}
        self.assertEqual(sorted(errors), ["cut.png", "empty.png", "notes.jpg"])
        self.assertEqual(errors["empty.png"]["detail"], "empty file")
        self.assertEqual({e["code"] for e in errors.values()}, {-2})
        described = [r for r in records if r.get("faces")]
        self.assertEqual(len(described), len(PHOTOS) - 1)  # the dogs have no face
        self.assertIn(b"9 photos", result.stdout)
        self.assertFalse(os.path.exists(out + ".partial"))

    def test_a_second_run_adds_only_the_missing_photos(self):
        out = os.path.join(self.tmp, "resumed.jsonl")
        serial = lines(self.serial)
        # An earlier run that got through two photos, one of them marked so
        # that a recomputed record would show.
        kept = [line for line in serial if b'"faces":[{' in line][:2]
        marked = kept[0].replace(b'"from_shape":false', b'"from_shape":false ', 1)
        with open(out, "wb") as f:
            f.write(marked + b"\n" + kept[1] + b"\n")
        result = self.dask_index(out)
        self.assertIn(b"(2 already indexed)", result.stdout, result.stderr)
        expected = [marked if line == kept[0] else line for line in serial]
        self.assertEqual(lines(out), expected)
        # A third run has nothing left but the failed photos, which it tries again.
        again = self.dask_index(out)
        self.assertIn(b"(%d already indexed)" % (len(serial) - 3), again.stdout, again.stderr)
        self.assertEqual(lines(out), expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
