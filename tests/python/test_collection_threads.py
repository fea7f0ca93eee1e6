"""The collection's Python side under misuse: an index shared by threads,
closed from its own progress callback, and values the library refuses."""

import threading
import unittest

import numpy as np

import morvik


def unit_rows(rng, count):
    rows = rng.standard_normal((count, 128)).astype(np.float32)
    return rows / np.linalg.norm(rows, axis=1, keepdims=True)


class IndexThreadsTest(unittest.TestCase):
    def test_adding_while_another_thread_searches(self):
        rng = np.random.default_rng(11)
        faces = unit_rows(rng, 4000)
        index = morvik.Index()
        index.add(faces[:100])
        failures = []
        done = threading.Event()

        def search():
            try:
                while not done.is_set():
                    found = index.search(faces[7], k=3)
                    # Every answer is a face the index held at that moment.
                    if found[0] != (7, 0.0) or any(i >= len(index) for i, _ in found):
                        failures.append(found)
            except Exception as error:  # noqa: BLE001 - reported below
                failures.append(error)

        searchers = [threading.Thread(target=search) for _ in range(2)]
        for thread in searchers:
            thread.start()
        try:
            for first in range(100, 4000, 100):
                index.add(faces[first:first + 100])
        finally:
            done.set()
            for thread in searchers:
                thread.join()
        self.assertEqual(failures, [])
        self.assertEqual(len(index), 4000)

    def test_closing_from_a_progress_callback_waits_for_the_call(self):
        rng = np.random.default_rng(12)
        index = morvik.Index()
        index.add(unit_rows(rng, 3000))
        seen = []
        # An exception raised in a callback is only printed by ctypes: the
        # outcomes are recorded and checked after the call.
        refused = []

        def progress(done, total):
            seen.append((done, total))
            index.close()  # deferred: the clustering still reads the index
            try:
                index.add(unit_rows(rng, 1))
            except morvik.MorvikError as error:
                refused.append(error.code)

        labels = index.cluster(0.5, progress=progress)
        self.assertEqual(len(labels), 3000)
        self.assertEqual(seen[-1], (3000, 3000))
        self.assertEqual(refused, [-1] * len(seen))
        with self.assertRaises(morvik.MorvikError):
            len(index)
        index.close()  # a second close does nothing

    def test_changing_the_index_from_its_own_callback_is_refused(self):
        rng = np.random.default_rng(13)
        index = morvik.Index()
        index.add(unit_rows(rng, 50))
        refused = []
        answers = []

        def progress(done, total):
            try:
                index.add(unit_rows(rng, 1))
            except morvik.MorvikError as error:
                refused.append(error.code)
            answers.extend(index.search(unit_rows(rng, 1)[0], k=1))  # reading is allowed

        index.cluster(0.5, progress=progress)
        self.assertEqual(refused, [-1])
        self.assertEqual(len(answers), 1)
        self.assertLess(answers[0][0], 50)
        self.assertEqual(len(index), 50)
        index.add(unit_rows(rng, 1))  # after the call, changes are welcome again
        self.assertEqual(len(index), 51)


class RefusedValuesTest(unittest.TestCase):
    def test_compare_takes_descriptors_of_128_values(self):
        for first, second in (([0.5], [0.5]), ([1.0, 2.0], [1.0, 2.0]), (np.zeros(127), np.zeros(127)),
                              (np.zeros(128), np.zeros(129))):
            with self.assertRaises(morvik.MorvikError) as caught:
                morvik.compare(first, second)
            self.assertEqual(caught.exception.code, -1)
        self.assertEqual(morvik.compare(np.zeros(128), [0.0] * 128), 0.0)

    def test_values_that_are_not_finite(self):
        index = morvik.Index()
        index.add(unit_rows(np.random.default_rng(14), 10))
        query = np.zeros(128, dtype=np.float32)
        query[3] = np.nan
        with self.assertRaises(morvik.MorvikError) as caught:
            index.search(query)
        self.assertEqual(caught.exception.code, -1)
        with self.assertRaises(morvik.MorvikError):
            morvik.cluster(np.full((2, 128), np.inf, dtype=np.float32))
        self.assertEqual(len(index), 10)


if __name__ == "__main__":
    unittest.main()
