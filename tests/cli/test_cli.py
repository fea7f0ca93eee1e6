"""The morvik command-line tool (MORVIK_CLI) on the test photographs
(MORVIK_TESTDATA) and on bad input: exit statuses, messages and output."""

import json
import os
import subprocess
import tempfile
import unittest

CLI = os.environ.get("MORVIK_CLI", "morvik")
TESTDATA = os.environ.get("MORVIK_TESTDATA", "")


def data(relative):
    return os.path.join(TESTDATA, relative)


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=300)


def write_blank_pgm(path):
    with open(path, "wb") as f:
        f.write(b"P5\n64 48\n255\n" + bytes([128]) * (64 * 48))


class FacesTest(unittest.TestCase):
    def test_faces_text_and_json(self):
        text = run("faces", "--algo", "hog", data("faces/two_people.jpg"))
        self.assertEqual(text.returncode, 0, text.stderr)
        self.assertIn("two_people.jpg: 2 faces", text.stdout)
        self.assertEqual(text.stdout.count("  #"), 2)

    def test_a_bad_file_does_not_stop_the_batch(self):
        result = run("faces", "--algo=hog", "--json", data("no/such.jpg"), data("README.md"),
                     data("faces/two_people.jpg"))
        self.assertEqual(result.returncode, 2)
        records = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([r["error"]["code"] for r in records[:2]], [-2, -2])
        self.assertEqual(records[0]["error"]["message"], "Error parse image")
        faces = records[2]["faces"]
        self.assertEqual(len(faces), 2)
        self.assertEqual(set(faces[0]), {"rect", "left_eye", "right_eye", "from_shape", "angle"})
        self.assertLess(faces[0]["left_eye"]["x"], faces[0]["right_eye"]["x"])
        self.assertIn("such.jpg: Error parse image (-2): no such file", result.stderr)
        self.assertIn("README.md: Error parse image (-2)", result.stderr)

    def test_thorough_finds_the_small_faces_the_chain_hides(self):
        photo = data("faces/2008_002079.jpg")
        plain = run("faces", "--algo", "lbp+haar+hog+cnn", "--json", photo)
        thorough = run("faces", "--algo", "lbp+haar+hog+cnn", "--thorough", "--json", photo)
        self.assertEqual(thorough.returncode, 0, thorough.stderr)
        plain_faces = json.loads(plain.stdout)["faces"] if plain.returncode == 0 else []
        self.assertGreater(len(json.loads(thorough.stdout)["faces"]), len(plain_faces))

    def test_describe_gives_128_values_per_face(self):
        result = run("describe", "--algo", "hog", "--max", "1", "--json", data("faces/two_people.jpg"))
        self.assertEqual(result.returncode, 0, result.stderr)
        faces = json.loads(result.stdout)["faces"]
        self.assertEqual(len(faces), 1)
        self.assertEqual(len(faces[0]["descriptor"]), 128)

    def test_no_face_and_bad_arguments(self):
        with tempfile.TemporaryDirectory() as tmp:
            blank = os.path.join(tmp, "blank.pgm")
            write_blank_pgm(blank)
            result = run("faces", "--algo", "hog", blank)
            self.assertEqual(result.returncode, 4)
            self.assertIn("Can't find any face (-4)", result.stderr)
        for args in (["faces"], ["faces", "--max", "0", "x.jpg"], ["faces", "--algo", "eyes", "x.jpg"],
                     ["faces", "--algo", "300", "x.jpg"], ["faces", "--jsn", "x.jpg"], ["frobnicate"], []):
            result = run(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertTrue(result.stderr.strip(), args)


class CompareAndAnnotateTest(unittest.TestCase):
    def test_compare_same_and_different_people(self):
        same = run("compare", "--algo", "hog", data("people/obama/obama.jpg"), data("people/obama/obama2.jpg"))
        self.assertEqual(same.returncode, 0, same.stderr)
        self.assertRegex(same.stdout, r"distance 0\.\d{4} < 0\.6: same person")
        other = run("compare", "--algo", "hog", "--threshold", "0.5", data("people/obama/obama.jpg"),
                    data("people/biden/biden.jpg"))
        self.assertEqual(other.returncode, 0, other.stderr)
        self.assertRegex(other.stdout, r">= 0\.5: different people")
        self.assertEqual(len(other.stdout.splitlines()), 3)

    def test_compare_best_finds_the_person_among_several(self):
        best = run("compare", "--algo", "hog", "--best", data("people/obama/obama.jpg"),
                   data("faces/two_people.jpg"))
        self.assertEqual(best.returncode, 0, best.stderr)
        self.assertIn("(closest of 2 faces: #", best.stdout)
        self.assertIn("same person", best.stdout)

    def test_compare_bad_input(self):
        self.assertEqual(run("compare", data("people/obama/obama.jpg")).returncode, 1)
        bad = run("compare", "--threshold", "abc", "a.jpg", "b.jpg")
        self.assertEqual(bad.returncode, 1)
        self.assertIn("--threshold expects a number", bad.stderr)
        missing = run("compare", data("no/such.jpg"), data("people/obama/obama.jpg"))
        self.assertEqual(missing.returncode, 2)

    def test_annotate_writes_an_image(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "out.png")
            result = run("annotate", "--algo", "hog", data("faces/two_people.jpg"), out)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("2 faces drawn", result.stdout)
            with open(out, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
            unknown = run("annotate", "--algo", "hog", data("faces/two_people.jpg"),
                          os.path.join(tmp, "out.xyz"))
            self.assertEqual(unknown.returncode, 5)
            self.assertIn("Error encode image (-5)", unknown.stderr)
            self.assertEqual(run("annotate", data("no/such.jpg"), out).returncode, 2)


class IndexAndSearchTest(unittest.TestCase):
    def test_index_a_folder_and_search_it(self):
        with tempfile.TemporaryDirectory() as tmp:
            photos = os.path.join(tmp, "photos")
            os.makedirs(os.path.join(photos, "sub"))
            os.symlink(data("people/obama/obama.jpg"), os.path.join(photos, "obama.jpg"))
            os.symlink(data("people/biden/biden.jpg"), os.path.join(photos, "sub", "biden.jpg"))
            with open(os.path.join(photos, "broken.jpg"), "w") as f:
                f.write("not a photo")
            with open(os.path.join(photos, "notes.txt"), "w") as f:
                f.write("ignored")
            index = os.path.join(tmp, "index.jsonl")
            result = run("index", "--algo", "hog", photos, "--out", index)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertRegex(result.stdout, r"3 photos, 2 faces, 1 failures, \d+\.\d s")
            self.assertIn("broken.jpg: Error parse image (-2)", result.stderr)
            self.assertIn("[3/3]", result.stderr)
            with open(index) as f:
                records = [json.loads(line) for line in f]
            self.assertEqual(len(records), 3)

            with open(index, "a") as f:
                f.write("{damaged\n")
            found = run("search", "--algo", "hog", index, data("people/obama/obama2.jpg"), "--top", "2")
            self.assertEqual(found.returncode, 0, found.stderr)
            lines = found.stdout.splitlines()
            self.assertEqual(len(lines), 3)
            self.assertIn("obama.jpg", lines[1])
            self.assertIn("same person", lines[1])
            self.assertNotIn("same person", lines[2])
            self.assertIn("skipped 1 lines", found.stderr)

    def test_index_and_search_bad_input(self):
        self.assertEqual(run("index", data("no/such/dir"), "--out", "/tmp/x.jsonl").returncode, 1)
        self.assertEqual(run("index", TESTDATA).returncode, 1)
        self.assertEqual(run("search", data("no/index.jsonl"), data("people/obama/obama.jpg")).returncode, 1)
        self.assertEqual(run("search", "i.jsonl", "p.jpg", "--top", "-3").returncode, 1)


def people_folder(tmp):
    """A folder of links to the test photographs of two men."""
    photos = os.path.join(tmp, "photos")
    for person in ("obama", "biden"):
        os.makedirs(os.path.join(photos, person))
        for name in sorted(os.listdir(data("people/" + person))):
            os.symlink(data("people/%s/%s" % (person, name)), os.path.join(photos, person, name))
    return photos


class SearchIndexTest(unittest.TestCase):
    """The nearest-neighbour index beside the JSON lines."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        photos = people_folder(cls.tmp.name)
        cls.jsonl = os.path.join(cls.tmp.name, "people.jsonl")
        result = run("index", "--algo", "hog", photos, "--out", cls.jsonl)
        assert result.returncode == 0, result.stderr
        cls.index_output = result.stdout
        with open(cls.jsonl) as f:
            cls.lines = f.readlines()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def copy(self, name, lines):
        path = os.path.join(self.tmp.name, name)
        with open(path, "w") as f:
            f.writelines(lines)
        return path

    def search(self, jsonl, *extra):
        found = run("search", "--algo", "hog", jsonl, data("people/obama/obama2.jpg"), *extra)
        self.assertEqual(found.returncode, 0, found.stderr)
        return found

    def test_index_builds_it_and_search_uses_it(self):
        self.assertIn("people.jsonl.mvx: 5 faces, exact index", self.index_output)
        mvx = self.jsonl + ".mvx"
        before = os.stat(mvx).st_mtime_ns
        found = self.search(self.jsonl, "--top", "5", "--threshold", "0.6")
        self.assertEqual(os.stat(mvx).st_mtime_ns, before)  # trusted as it is
        self.assertNotIn("rebuilt", found.stderr)
        lines = found.stdout.splitlines()
        self.assertIn("against 5 faces of 5 photos (exact index", lines[0])
        self.assertEqual(len(lines), 4)  # the three photos of the same man only
        self.assertIn("obama2.jpg", lines[1])
        self.assertIn("  0.0000  ", lines[1])
        for line in lines[1:]:
            self.assertIn("/obama/", line)
            self.assertIn("same person", line)
        self.assertEqual(self.search(self.jsonl, "--top", "2", "--exact").stdout.splitlines()[1:], lines[1:3])

    def test_a_truncated_or_damaged_index_is_rebuilt(self):
        jsonl = self.copy("cut.jsonl", self.lines)
        first = self.search(jsonl)  # builds the index
        mvx = jsonl + ".mvx"
        with open(mvx, "rb") as f:
            whole = f.read()
        for damaged in (whole[:len(whole) // 2], whole[:100], b"", whole[:500] + b"x" + whole[501:]):
            with open(mvx, "wb") as f:
                f.write(damaged)
            again = self.search(jsonl)
            self.assertIn("damaged index file: rebuilt from the JSON lines", again.stderr)
            self.assertEqual(again.stdout.splitlines()[1:], first.stdout.splitlines()[1:])
            with open(mvx, "rb") as f:
                self.assertEqual(len(f.read()), len(whole))
        self.assertEqual([n for n in os.listdir(self.tmp.name) if ".tmp" in n], [])

    def test_changed_json_lines_extend_or_rebuild_the_index(self):
        obama = [line for line in self.lines if "/obama/" in line]
        biden = [line for line in self.lines if "/biden/" in line]
        jsonl = self.copy("grow.jsonl", biden)
        self.assertIn("against 2 faces", self.search(jsonl).stdout)
        with open(jsonl, "a") as f:  # new records after the indexed ones
            f.writelines(obama)
        grown = self.search(jsonl)
        self.assertIn("extended by 3 faces", grown.stderr)
        self.assertIn("against 5 faces", grown.stdout)
        self.assertIn("obama2.jpg", grown.stdout.splitlines()[1])
        self.copy("grow.jsonl", obama[:1] + biden)  # the indexed records changed
        changed = self.search(jsonl)
        self.assertIn("the JSON lines changed: index rebuilt", changed.stderr)
        self.assertIn("against 3 faces", changed.stdout)

    def test_cluster_groups_the_two_men(self):
        out = os.path.join(self.tmp.name, "clusters")
        result = run("cluster", self.jsonl, "--out", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("5 faces in 2 clusters", result.stdout)
        with open(os.path.join(out, "clusters.json")) as f:
            clusters = json.load(f)
        self.assertEqual([len(c["faces"]) for c in clusters], [3, 2])
        for cluster, person in zip(clusters, ("/obama/", "/biden/")):
            for face in cluster["faces"]:
                self.assertEqual(set(face), {"photo", "box"})
                self.assertIn(person, face["photo"])
                self.assertEqual(len(face["box"]), 4)
        for name in ("cluster_0001.png", "cluster_0002.png"):
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertIn("writing contact sheets [2/2]", result.stderr)
        one = run("cluster", self.jsonl, "--out", out, "--threshold", "0.01")
        self.assertIn("5 faces in 5 clusters", one.stdout)

    def test_bad_arguments(self):
        self.assertEqual(run("cluster", self.jsonl).returncode, 1)
        self.assertEqual(run("cluster", self.jsonl, "--out", self.tmp.name, "--threshold", "-1").returncode, 1)
        self.assertEqual(run("cluster", data("no/such.jsonl"), "--out", self.tmp.name).returncode, 1)
        self.assertEqual(run("search", self.jsonl, "p.jpg", "--threshold", "x").returncode, 1)


class FormerIndexTest(unittest.TestCase):
    """Index files of an earlier version (tests/collection/data, written by
    the tool before the index file's digests became XXH3's)."""

    def test_an_index_of_the_former_version_is_rebuilt(self):
        former = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                              "collection", "data", "index_v1.jsonl")
        with tempfile.TemporaryDirectory() as tmp:
            jsonl = os.path.join(tmp, "index_v1.jsonl")
            for suffix in ("", ".mvx"):
                with open(former + suffix, "rb") as source, open(jsonl + suffix, "wb") as copy:
                    copy.write(source.read())
            found = run("search", "--algo", "hog", jsonl, data("people/obama/obama2.jpg"), "--top", "2")
            self.assertEqual(found.returncode, 0, found.stderr)
            self.assertIn("damaged index file: rebuilt from the JSON lines", found.stderr)
            lines = found.stdout.splitlines()
            self.assertIn("against 5 faces of 7 photos", lines[0])
            self.assertIn("photos/obama/obama2.jpg", lines[1])
            with open(jsonl + ".mvx", "rb") as f:
                self.assertNotEqual(f.read(12)[8], 1)  # written anew, in the current version
            again = run("search", "--algo", "hog", jsonl, data("people/obama/obama2.jpg"), "--top", "2")
            self.assertNotIn("rebuilt", again.stderr)
            self.assertEqual(again.stdout, found.stdout)


class OptionsTest(unittest.TestCase):
    def test_list_read_and_set(self):
        listing = run("options")
        self.assertEqual(listing.returncode, 0)
        self.assertEqual(len(listing.stdout.splitlines()), 48)
        self.assertIn("haar.face.scale_factor = 1.1  (float)", listing.stdout)
        self.assertEqual(run("options", "image.rescale_max").stdout, "800\n")
        self.assertEqual(run("options", "image.format", ".jpg").stdout, "image.format = .jpg\n")
        self.assertEqual(run("-o", "image.rescale_max=1024", "options", "image.rescale_max").stdout, "1024\n")
        self.assertRegex(run("version").stdout, r"^morvik 3\.7 \(build 89287A2A\)$")

    def test_bad_keys_and_values(self):
        unknown = run("options", "image.nothing")
        self.assertEqual(unknown.returncode, 11)
        self.assertIn("Invalid property name (-11)", unknown.stderr)
        for args in (["options", "image.rescale_max", "12x"], ["options", "pico.angle", "nan"],
                     ["options", "image.rescale_max", "99999999999"],
                     ["--option", "image.rescale_max", "faces", "x.jpg"], ["-o"]):
            result = run(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn("Invalid args (-1)", result.stderr)


if __name__ == "__main__":
    unittest.main()
