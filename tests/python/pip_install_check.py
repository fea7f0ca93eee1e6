"""The package installed with pip into fresh venvs of the interpreter given as
argv[1]: one with the system's site packages (NumPy), one without any, where
only paths and bytes work. Each runs test_encoded.py from a folder outside
the source tree, so the installed package is the one imported."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

PYTHON = sys.argv[1] if len(sys.argv) > 1 else sys.executable
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python")
HERE = os.path.dirname(os.path.abspath(__file__))


def environment(**extra):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env.update(extra)
    return env


class PipInstallTest(unittest.TestCase):
    def install(self, folder, *venv_flags, source=SOURCE):
        venv = os.path.join(folder, "venv")
        subprocess.run([PYTHON, "-m", "venv", *venv_flags, venv], check=True, timeout=300)
        python = os.path.join(venv, "bin", "python")
        # Offline: nothing may come from a package index.
        installed = subprocess.run([python, "-m", "pip", "install", "--no-index", source],
                                   capture_output=True, text=True, timeout=300,
                                   env=environment(PIP_NO_INDEX="1"))
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        return python

    def run_in(self, python, *args, **env):
        return subprocess.run([python, *args], capture_output=True, text=True, timeout=600,
                              cwd="/", env=environment(**env))

    def check_installed(self, python):
        where = self.run_in(python, "-c", "import morvik, sys; print(morvik.__file__)")
        self.assertEqual(where.returncode, 0, where.stderr)
        self.assertTrue(where.stdout.startswith(os.path.dirname(os.path.dirname(python))),
                        where.stdout)
        tests = self.run_in(python, "-m", "unittest", "-v", "test_encoded", PYTHONPATH=HERE)
        self.assertEqual(tests.returncode, 0, tests.stdout + tests.stderr)
        return tests.stderr

    def test_venv_with_system_site_packages(self):
        with tempfile.TemporaryDirectory() as folder:
            python = self.install(folder, "--system-site-packages")
            self.check_installed(python)
            arrays = self.run_in(python, "-c", "import morvik; print(morvik.load_image(%r).shape)"
                                 % os.path.join(os.environ["MORVIK_TESTDATA"], "misc/dogs.jpg"))
            self.assertEqual(arrays.returncode, 0, arrays.stderr)

    def test_venv_without_numpy(self):
        with tempfile.TemporaryDirectory() as folder:
            python = self.install(folder)
            self.assertNotEqual(self.run_in(python, "-c", "import numpy").returncode, 0)
            log = self.check_installed(python)
            self.assertRegex(log, r"test_arrays_say_they_need_numpy \(.*\) ... ok")

    def test_a_copy_of_the_package_folder_alone_installs_quietly(self):
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, "python")
            shutil.copytree(SOURCE, copy, ignore=shutil.ignore_patterns("__pycache__"))
            python = self.install(folder, source=copy)
            typed = self.run_in(python, "-c", "import morvik, os; print(os.path.exists("
                                "os.path.join(os.path.dirname(morvik.__file__), 'py.typed')))")
            self.assertEqual(typed.returncode, 0, typed.stderr)
            self.assertEqual(typed.stdout.strip(), "True")
            # Nothing on stderr from the import: the library's log lines are asked for.
            self.assertEqual(typed.stderr, "")
            logged = self.run_in(python, "-c", "import morvik", MORVIK_LOG="1")
            self.assertIn("Loading config", logged.stderr)

    def test_a_library_that_cannot_load_names_what_was_tried(self):
        with tempfile.TemporaryDirectory() as folder:
            python = self.install(folder)
            failed = self.run_in(python, "-c", "import morvik",
                                 MORVIK_LIBRARY="/nonexistent/libmorvik.so")
            self.assertNotEqual(failed.returncode, 0)
            self.assertIn("ImportError", failed.stderr)
            self.assertIn("MORVIK_LIBRARY: /nonexistent/libmorvik.so", failed.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
