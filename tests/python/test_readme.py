"""The README's Python examples (the blocks written as interpreter sessions),
run as doctests from a folder holding the test photographs by their names."""

import doctest
import os
import re
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
README = os.path.join(HERE, "..", "..", "README.md")
TESTDATA = os.environ.get("MORVIK_TESTDATA", "")


def sessions():
    with open(README, encoding="utf-8") as f:
        text = f.read()
    return [block for block in re.findall(r"```python\n(.*?)```", text, re.S) if ">>>" in block]


def photo_folder(folder):
    """Every test photograph linked into `folder` under its own name."""
    for root, _, names in os.walk(TESTDATA):
        for name in names:
            if name.lower().endswith((".jpg", ".png")) and not os.path.exists(
                    os.path.join(folder, name)):
                os.symlink(os.path.join(root, name), os.path.join(folder, name))


class ReadmeExamplesTest(unittest.TestCase):
    def test_the_python_sessions_give_what_they_show(self):
        blocks = sessions()
        self.assertGreaterEqual(len(blocks), 2)
        try:
            import PIL  # noqa: F401
        except ImportError:
            self.skipTest("PIL is not installed (Debian: python3-pil)")
        parser = doctest.DocTestParser()
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        with tempfile.TemporaryDirectory() as folder:
            photo_folder(folder)
            cwd = os.getcwd()
            os.chdir(folder)
            try:
                names = {}  # later blocks go on from the earlier ones, as in one session
                for number, block in enumerate(blocks):
                    test = parser.get_doctest(block, names, "README block %d" % number, README, 0)
                    runner.run(test, clear_globs=False)
                    names.update(test.globs)
            finally:
                os.chdir(cwd)
        failed, attempted = runner.summarize(verbose=False)
        self.assertGreater(attempted, 10)
        self.assertEqual(failed, 0)


if __name__ == "__main__":
    unittest.main()
