"""The morvik command-line tool (MORVIK_CLI) on the test photographs
(MORVIK_TESTDATA) and on bad input: exit statuses, messages and output."""

import fcntl
import json
import os
import shutil
import subprocess
import tempfile
import time
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
        self.assertEqual(set(faces[0]), {"rect", "left_eye", "right_eye", "from_shape", "angle", "score",
                                         "points"})
        self.assertGreaterEqual(faces[0]["score"], 0.0)  # HOG's detection value
        self.assertEqual(faces[0]["points"], [])
        self.assertLess(faces[0]["left_eye"]["x"], faces[0]["right_eye"]["x"])
        self.assertIn("such.jpg: Error parse image (-2): no such file", result.stderr)
        self.assertIn("README.md: Error parse image (-2)", result.stderr)

    def test_yunet_by_default_with_scores_and_points(self):
        photo = data("faces/2008_002079.jpg")
        default = run("faces", "--json", photo)
        named = run("faces", "--algo", "yunet", "--json", photo)
        self.assertEqual(default.returncode, 0, default.stderr)
        self.assertEqual(default.stdout, named.stdout)
        faces = json.loads(default.stdout)["faces"]
        self.assertGreaterEqual(len(faces), 6)
        for face in faces:
            self.assertGreaterEqual(face["score"], 0.5)
            self.assertEqual(len(face["points"]), 5)
            self.assertEqual(face["points"][0], face["left_eye"])
            self.assertEqual(face["points"][1], face["right_eye"])
        text = run("faces", photo)
        self.assertIn("  score 0.", text.stdout)
        # The name and the number of the selection are one.
        self.assertEqual(run("faces", "--algo", "256", "--json", photo).stdout, default.stdout)

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
                     ["faces", "--algo", "600", "x.jpg"], ["faces", "--jsn", "x.jpg"], ["frobnicate"], []):
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
            # The default finder's points are drawn too: more changed pixels.
            network = os.path.join(tmp, "network.png")
            drawn = run("annotate", data("faces/two_people.jpg"), network)
            self.assertEqual(drawn.returncode, 0, drawn.stderr)
            self.assertIn("2 faces drawn", drawn.stdout)


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
            self.assertNotIn("[3/3]", result.stderr)  # progress only on a terminal or asked for
            with open(index) as f:
                records = [json.loads(line) for line in f]
            self.assertEqual(len(records), 3)
            for record in records:
                self.assertTrue(os.path.isabs(record["photo"]), record)

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
        self.assertEqual(run("search", data("no/index.jsonl"), data("people/obama/obama.jpg")).returncode, 2)
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
        found = run("--verbose", "search", "--algo", "hog", jsonl, data("people/obama/obama2.jpg"), *extra)
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
        self.assertEqual([n for n in os.listdir(self.tmp.name) if ".tmp" in n or n.endswith(".part")], [])

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

    def test_records_say_how_their_descriptors_were_made_and_mixes_are_flagged(self):
        for line in self.lines:
            record = json.loads(line)
            self.assertEqual((record["finder"], record["align_mode"]), (0x08, 3), record["photo"])
        self.assertNotIn("WARNING", self.search(self.jsonl).stderr)
        other_way = run("-o", "align.mode=0", "search", "--algo", "hog", self.jsonl,
                        data("people/obama/obama2.jpg"))
        self.assertEqual(other_way.returncode, 0, other_way.stderr)
        self.assertIn("WARNING", other_way.stderr)
        self.assertIn("the query by finder 0x08, align.mode 0; 5 faces by finder 0x08, align.mode 3",
                      other_way.stderr)
        mixed = self.copy("mixed.jsonl", self.lines[:-1] + [self.lines[-1].replace('"align_mode":3', '"align_mode":0')])
        clustered = run("cluster", mixed, "--out", os.path.join(self.tmp.name, "mixed"))
        self.assertEqual(clustered.returncode, 0, clustered.stderr)
        self.assertIn("1 face by finder 0x08, align.mode 0; 4 faces by finder 0x08, align.mode 3",
                      clustered.stderr)

    def test_cluster_groups_the_two_men(self):
        out = os.path.join(self.tmp.name, "clusters")
        result = run("cluster", self.jsonl, "--out", out, "--verbose")
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
        self.assertEqual(run("cluster", data("no/such.jsonl"), "--out", self.tmp.name).returncode, 2)
        self.assertEqual(run("search", self.jsonl, "p.jpg", "--threshold", "x").returncode, 1)


class UntrustedFilesTest(unittest.TestCase):
    """Paths and files that are not what they claim: FIFOs and devices,
    planted links, overlong lines, records with absurd boxes. Each ends
    quickly with a clear status and writes nothing but the intended file."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.victim = os.path.join(self.tmp, "victim.txt")
        with open(self.victim, "w") as f:
            f.write("precious")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def quick(self, *args):
        start = time.monotonic()
        result = subprocess.run([CLI, *args], capture_output=True, text=True, timeout=30)
        self.assertLess(time.monotonic() - start, 5, args)
        self.assertGreaterEqual(result.returncode, 0, "ended by a signal")
        return result

    def assert_victim_intact(self):
        with open(self.victim) as f:
            self.assertEqual(f.read(), "precious")

    def test_photos_that_are_no_regular_files_fail_at_once(self):
        fifo = os.path.join(self.tmp, "photo.jpg")
        os.mkfifo(fifo)
        for path, reason in (("/dev/zero", "not a regular file"), (fifo, "not a regular file"),
                             (self.tmp, "is a directory")):
            result = self.quick("faces", path)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(reason, result.stderr)

    def test_index_refuses_an_out_that_is_no_index(self):
        photos = people_folder(self.tmp)
        photo = os.path.join(photos, "obama", "obama.jpg")
        os.remove(photo)  # a copy of our own, not a link to the shared photograph
        shutil.copyfile(data("people/obama/obama.jpg"), photo)
        with open(photo, "rb") as f:
            photo_bytes = f.read()
        fifo = os.path.join(self.tmp, "fifo.jsonl")
        os.mkfifo(fifo)
        for out, reason in ((photo, "names one of the photos"), (self.victim, "is not a JSON-lines index"),
                            (fifo, "is not a regular file"), (self.tmp, "is not a regular file")):
            result = self.quick("index", "--algo", "hog", photos, "--out", out)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(reason, result.stderr)
            self.assertIn("nothing written", result.stderr)
        with open(photo, "rb") as f:
            self.assertEqual(f.read(), photo_bytes)
        self.assert_victim_intact()
        self.assertFalse(os.path.exists(self.victim + ".mvx"))

    def test_index_resumes_and_never_truncates(self):
        photos = people_folder(self.tmp)
        out = os.path.join(self.tmp, "faces.jsonl")
        fresh = run("index", "--algo", "hog", photos, "--out", out)
        self.assertEqual(fresh.returncode, 0, fresh.stderr)
        self.assertIn("(0 already indexed)", fresh.stdout)
        with open(out, "rb") as f:
            whole = f.read()
        lines = whole.splitlines(keepends=True)
        # Killed while writing its third record: two whole lines, half a third.
        with open(out, "wb") as f:
            f.write(lines[0] + lines[1] + lines[2][:len(lines[2]) // 2])
        again = run("--verbose", "index", "--algo", "hog", photos, "--out", out)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("(2 already indexed)", again.stdout)
        self.assertIn("[3/3]", again.stderr)  # only the missing photos
        with open(out, "rb") as f:
            self.assertEqual(f.read(), whole)
        # Nothing missing: nothing described, nothing lost.
        third = run("index", "--algo", "hog", photos, "--out", out)
        self.assertIn("(%d already indexed)" % len(lines), third.stdout)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), whole)
        self.assertEqual(sorted(os.listdir(self.tmp)), ["faces.jsonl", "faces.jsonl.mvx", "photos", "victim.txt"])

    def test_a_second_run_on_one_out_is_refused(self):
        photos = people_folder(self.tmp)
        out = os.path.join(self.tmp, "faces.jsonl")
        with open(out + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            result = self.quick("index", "--algo", "hog", photos, "--out", out)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("another run is writing this index", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_planted_links_are_never_written_through(self):
        photos = people_folder(self.tmp)
        out = os.path.join(self.tmp, "faces.jsonl")
        # Where earlier versions put their temporary files, and the files
        # written besides the index itself.
        for name in ("faces.jsonl.writing", "faces.jsonl.mvx", "faces.jsonl.mvx.tmp%d" % os.getpid()):
            os.symlink(self.victim, os.path.join(self.tmp, name))
        self.assertEqual(run("index", "--algo", "hog", photos, "--out", out).returncode, 0)
        clusters = os.path.join(self.tmp, "clusters")
        os.mkdir(clusters)
        for name in ("clusters.json", "cluster_0001.png"):
            os.symlink(self.victim, os.path.join(clusters, name))
        result = run("cluster", out, "--out", clusters)
        self.assertEqual(result.returncode, 0, result.stderr)
        annotated = os.path.join(self.tmp, "annotated.png")
        os.symlink(self.victim, annotated)
        self.assertEqual(run("annotate", "--algo", "hog", data("people/obama/obama.jpg"), annotated).returncode, 0)
        self.assert_victim_intact()
        for path in (out + ".mvx", os.path.join(clusters, "clusters.json"), annotated):
            self.assertFalse(os.path.islink(path), path)
        self.assertEqual(sorted(n for n in os.listdir(clusters) if not n.startswith("cluster_0")),
                         ["clusters.json"])
        self.assertEqual([n for n in os.listdir(self.tmp) if n.endswith(".part")], [])

    def test_overlong_lines_are_damaged_lines(self):
        photos = people_folder(self.tmp)
        out = os.path.join(self.tmp, "faces.jsonl")
        self.assertEqual(run("index", "--algo", "hog", photos, "--out", out).returncode, 0)
        with open(out, "a") as f:
            f.write('{"photo":"' + "x" * (3 << 20) + '","faces":[]}\n')
        found = self.quick("search", "--algo", "hog", out, data("people/obama/obama2.jpg"))
        self.assertEqual(found.returncode, 0, found.stderr)
        self.assertIn("skipped 1 lines", found.stderr)

    def test_records_naming_devices_or_absurd_boxes_do_not_stop_a_cluster(self):
        photos = people_folder(self.tmp)
        out = os.path.join(self.tmp, "faces.jsonl")
        self.assertEqual(run("index", "--algo", "hog", photos, "--out", out).returncode, 0)
        with open(out) as f:
            record = json.loads(f.readline())
        extra = []
        for photo, box in (("/dev/zero", None), (record["photo"], (-5, -5, 20000, 20000)),
                           (record["photo"], (2000000000, 2000000000, 2000000000, 2000000000)),
                           (record["photo"], (-2000000000, -2000000000, 2100000000, 2100000000))):
            copy = json.loads(json.dumps(record))
            copy["photo"] = photo
            if box:
                copy["faces"][0]["rect"] = dict(zip("xywh", box))
            extra.append(json.dumps(copy) + "\n")
        with open(out, "a") as f:
            f.writelines(extra)
        clusters = os.path.join(self.tmp, "clusters")
        result = self.quick("cluster", out, "--out", clusters)
        self.assertEqual(result.returncode, 0, result.stderr)
        sheets = [n for n in os.listdir(clusters) if n.endswith(".png")]
        self.assertTrue(sheets)
        for name in sheets:
            with open(os.path.join(clusters, name), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


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
            found = run("--verbose", "search", "--algo", "hog", jsonl, data("people/obama/obama2.jpg"), "--top", "2")
            self.assertEqual(found.returncode, 0, found.stderr)
            self.assertIn("damaged index file: rebuilt from the JSON lines", found.stderr)
            lines = found.stdout.splitlines()
            self.assertIn("against 5 faces of 7 photos", lines[0])
            self.assertIn("photos/obama/obama2.jpg", lines[1])
            with open(jsonl + ".mvx", "rb") as f:
                self.assertNotEqual(f.read(12)[8], 1)  # written anew, in the current version
            again = run("search", "--algo", "hog", jsonl, data("people/obama/obama2.jpg"), "--top", "2")
            self.assertNotIn("rebuilt", again.stderr)
            # the same answers; the first line also tells the query's time
            self.assertEqual(again.stdout.splitlines()[1:], found.stdout.splitlines()[1:])


class OptionsTest(unittest.TestCase):
    def test_list_read_and_set(self):
        listing = run("options")
        self.assertEqual(listing.returncode, 0)
        self.assertEqual(len(listing.stdout.splitlines()), 55)
        self.assertIn("haar.face.scale_factor = 1.1  (float)", listing.stdout)
        self.assertEqual(run("options", "image.rescale_max").stdout, "800\n")
        self.assertEqual(run("-o", "image.format=.jpg", "options", "image.format").stdout, ".jpg\n")
        self.assertEqual(run("-o", "image.rescale_max=1024", "options", "image.rescale_max").stdout, "1024\n")
        self.assertRegex(run("version").stdout, r"^morvik 3\.7 \(build 89287A2A\)$")

    def test_bad_keys_and_values(self):
        unknown = run("options", "image.nothing")
        self.assertEqual(unknown.returncode, 11)
        self.assertIn("Invalid property name (-11)", unknown.stderr)
        for args in (["-o", "image.rescale_max=12x", "options"], ["-o", "pico.angle=nan", "options"],
                     ["-o", "image.rescale_max=99999999999", "options"],
                     ["--option", "image.rescale_max", "faces", "x.jpg"], ["-o"]):
            result = run(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn("Invalid args (-1)", result.stderr)


COMMANDS = ("faces", "describe", "compare", "annotate", "index", "search", "cluster", "options", "version")


class NewcomerTest(unittest.TestCase):
    """What a user coming from other face tools tries first."""

    def test_help_on_every_command(self):
        for command in COMMANDS:
            result = run(command, "--help")
            self.assertEqual(result.returncode, 0, (command, result.stderr))
            self.assertIn("  " + command, result.stdout)
            self.assertEqual(result.stderr, "")
        self.assertIn("exit 4", run("faces", "-h").stdout)

    def test_a_run_is_quiet_unless_asked(self):
        env = {k: v for k, v in os.environ.items() if k != "MORVIK_LOG"}
        quiet = subprocess.run([CLI, "faces", "--algo", "hog", data("faces/two_people.jpg")],
                               capture_output=True, text=True, timeout=300, env=env)
        self.assertEqual(quiet.returncode, 0, quiet.stderr)
        self.assertEqual(quiet.stderr, "")
        verbose = subprocess.run([CLI, "--verbose", "options", "image.rescale_max"], capture_output=True,
                                 text=True, timeout=300, env=env)
        self.assertIn("Loading config", verbose.stderr)
        logged = subprocess.run([CLI, "version"], capture_output=True, text=True, timeout=300,
                                env=dict(env, MORVIK_LOG="1"))
        self.assertIn("Loaded config", logged.stderr)

    def test_faces_json_without_a_face_is_an_empty_list(self):
        with tempfile.TemporaryDirectory() as tmp:
            blank = os.path.join(tmp, "blank.pgm")
            write_blank_pgm(blank)
            for command in ("faces", "describe"):
                result = run(command, "--algo", "hog", "--json", blank)
                self.assertEqual(result.returncode, 0, result.stderr)
                record = json.loads(result.stdout)
                # describe says how its (here no) descriptors would have been made
                record.pop("finder", None)
                record.pop("align_mode", None)
                self.assertEqual(record, {"photo": blank, "faces": []})
                self.assertEqual(result.stderr, "")
            self.assertEqual(run("faces", "--algo", "hog", blank).returncode, 4)

    def test_compare_json(self):
        result = run("compare", "--algo", "hog", "--json", data("people/obama/obama.jpg"),
                     data("people/biden/biden.jpg"))
        self.assertEqual(result.returncode, 0, result.stderr)
        record = json.loads(result.stdout)
        self.assertEqual(record["a"]["photo"], data("people/obama/obama.jpg"))
        self.assertEqual(set(record["b"]["rect"]), {"x", "y", "w", "h"})
        self.assertGreater(record["distance"], 0.6)
        self.assertEqual((record["threshold"], record["same_person"]), (0.6, False))
        text = run("compare", "--algo", "hog", data("people/obama/obama.jpg"), data("people/biden/biden.jpg"))
        self.assertIn("distance %.4f" % record["distance"], text.stdout)

    def test_an_image_over_the_decode_limit_is_named(self):
        result = run("-o", "image.max_decoded_pixels=1000", "faces", data("faces/two_people.jpg"))
        self.assertEqual(result.returncode, 2)
        self.assertIn("1126x661 image (744286 pixels) over the decode limit image.max_decoded_pixels = 1000",
                      result.stderr)

    def test_refused_option_values_name_the_range(self):
        result = run("-o", "image.max_working_side=10", "options")
        self.assertEqual(result.returncode, 1)
        self.assertIn("image.max_working_side expects a whole number from 256 to 16384, not '10'",
                      result.stderr)
        setting = run("options", "image.rescale_max", "1024")
        self.assertEqual(setting.returncode, 1)
        self.assertIn("-o image.rescale_max=1024", setting.stderr)
        self.assertEqual(setting.stdout, "")

    def test_names_that_are_not_utf8_give_valid_json(self):
        with tempfile.TemporaryDirectory() as tmp:
            folder = os.path.join(tmp, "photos")
            os.makedirs(folder)
            raw = os.path.join(os.fsencode(folder), b"obama-\xff\xe9.jpg")
            os.symlink(os.fsencode(data("people/obama/obama.jpg")), raw)
            faces = subprocess.run([CLI, "faces", "--algo", "hog", "--json", raw], capture_output=True,
                                   timeout=300)
            self.assertEqual(faces.returncode, 0, faces.stderr)
            record = json.loads(faces.stdout.decode("utf-8"))
            self.assertEqual(os.fsencode(record["photo"]), raw)
            index = os.path.join(tmp, "index.jsonl")
            self.assertEqual(run("index", "--algo", "hog", folder, "--out", index).returncode, 0)
            with open(index, "rb") as f:
                line = f.read().decode("utf-8")
            self.assertEqual(os.fsencode(json.loads(line)["photo"]), raw)
            # The tool's own reader finds the photo by its bytes again.
            found = run("search", "--algo", "hog", "--json", index, data("people/obama/obama2.jpg"))
            self.assertEqual(found.returncode, 0, found.stderr)
            self.assertFalse(json.loads(found.stdout)["matches"][0]["missing"])


class IndexMistakesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.photos = people_folder(cls.tmp.name)
        cls.jsonl = os.path.join(cls.tmp.name, "people.jsonl")
        result = run("index", "--algo", "hog", cls.photos, "--out", cls.jsonl)
        assert result.returncode == 0, result.stderr

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_a_file_that_is_not_an_index_is_refused_and_left_alone(self):
        with tempfile.TemporaryDirectory() as tmp:
            photo = os.path.join(tmp, "obama.jpg")
            text = os.path.join(tmp, "text.txt")
            shutil.copy(data("people/obama/obama.jpg"), photo)
            with open(text, "w") as f:
                f.write("a shopping list\n")
            for args in (["search", photo, self.jsonl], ["search", text, photo],
                         ["cluster", photo, "--out", os.path.join(tmp, "out")],
                         ["cluster", text, "--out", os.path.join(tmp, "out")]):
                result = run(*args)
                self.assertEqual(result.returncode, 2, args)
                self.assertIn("not an index written by morvik index", result.stderr)
                self.assertEqual(sorted(os.listdir(tmp)), ["obama.jpg", "text.txt"], args)

    def test_search_json_and_photos_gone_since_indexing(self):
        found = run("search", "--algo", "hog", "--json", "--top", "2", self.jsonl,
                    data("people/obama/obama2.jpg"))
        self.assertEqual(found.returncode, 0, found.stderr)
        record = json.loads(found.stdout)
        self.assertEqual(record["indexed_faces"], 5)
        self.assertEqual(len(record["matches"]), 2)
        first = record["matches"][0]
        self.assertTrue(first["photo"].endswith("obama2.jpg") and os.path.isabs(first["photo"]))
        self.assertEqual((first["face"], first["same_person"], first["missing"]), (1, True, False))
        with tempfile.TemporaryDirectory() as elsewhere:
            # From another folder, and with a photo moved away.
            moved = os.path.join(self.photos, "obama", "obama2.jpg")
            os.rename(moved, moved + ".away")
            try:
                gone = subprocess.run([CLI, "search", "--algo", "hog", self.jsonl,
                                       data("people/obama/obama2.jpg")], capture_output=True,
                                      text=True, timeout=300, cwd=elsewhere)
                cluster = subprocess.run([CLI, "cluster", self.jsonl, "--out", "sheets"],
                                         capture_output=True, text=True, timeout=300, cwd=elsewhere)
            finally:
                os.rename(moved + ".away", moved)
        self.assertEqual(gone.returncode, 0, gone.stderr)
        self.assertIn("obama2.jpg  face #1", gone.stdout)
        self.assertIn("(photo missing)", gone.stdout)
        self.assertIn(moved + ": indexed photo missing", gone.stderr)
        self.assertEqual(cluster.returncode, 0, cluster.stderr)
        self.assertEqual(cluster.stderr.count("indexed photo missing"), 1)
        self.assertIn(moved, cluster.stderr)


if __name__ == "__main__":
    unittest.main()
