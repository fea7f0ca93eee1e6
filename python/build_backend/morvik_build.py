"""A build backend (PEP 517) for the pure-Python morvik package, with only the
standard library: the wheel holds the package, the metadata of
pyproject.toml, morvik/_build_info.py, which records the library's
version and the folder of the installed library the package is for, and
morvik/_c_header.py, the result codes and finder bits of the library's
morvik_c.h beside this folder (an sdist carries the file it was packed with).

That folder is, in order: MORVIK_LIBDIR at build time, the libdir of the
installed morvik.pc (pkg-config), or /usr/local/lib (the library's default
install prefix). The version is the library's: PKG-INFO in an sdist, else
MORVIK_VERSION, else the one of the installed morvik.pc (pkg-config), else
the version the library itself reports (the file MORVIK_LIBRARY names, or
libmorvik.so.3 from the dynamic loader), so that a copy of this folder alone
installs.
"""

import base64
import hashlib
import importlib.util
import io
import os
import re
import subprocess
import tarfile
import tomllib
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_PACKAGE = "morvik"
_TAG = "py3-none-any"


def _project():
    with open(os.path.join(_ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def version():
    pkg_info = os.path.join(_ROOT, "PKG-INFO")
    if os.path.exists(pkg_info):
        with open(pkg_info, encoding="utf-8") as f:
            return re.search(r"^Version: (\S+)$", f.read(), re.M).group(1)
    named = os.environ.get("MORVIK_VERSION")
    if named:
        return named
    if not os.environ.get("MORVIK_LIBRARY"):
        found = _pkg_config("--modversion")
        if found:
            return found
    return _library_version()


def _pkg_config(*args):
    try:
        found = subprocess.run(["pkg-config", *args, "morvik"], capture_output=True, text=True,
                               check=False)
    except OSError:
        return None
    return found.stdout.strip() if found.returncode == 0 and found.stdout.strip() else None


def _library_version():
    """major.minor of the library the package will load."""
    import ctypes
    path = os.environ.get("MORVIK_LIBRARY") or "libmorvik.so.3"
    env_log = os.environ.get("MORVIK_LOG")
    os.environ["MORVIK_LOG"] = env_log or "0"  # no start-up log lines in pip's output
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        raise RuntimeError("the morvik package takes its version from the library, and found "
                           "none: install libmorvik (its morvik.pc), or set MORVIK_LIBRARY to "
                           "libmorvik.so.3 or MORVIK_VERSION (%s)" % e) from None
    finally:
        if env_log is None:
            del os.environ["MORVIK_LOG"]
    major, minor, build = ctypes.c_uint16(), ctypes.c_uint16(), ctypes.c_uint32()
    lib.GetVersion(ctypes.byref(major), ctypes.byref(minor), ctypes.byref(build))
    return "%d.%d" % (major.value, minor.value)


def library_folder():
    named = os.environ.get("MORVIK_LIBDIR")
    if named:
        return named
    return _pkg_config("--variable=libdir") or "/usr/local/lib"


def _metadata():
    project = _project()
    lines = ["Metadata-Version: 2.1", "Name: " + project["name"], "Version: " + version(),
             "Summary: " + project["description"],
             "Requires-Python: " + project["requires-python"]]
    for extra, requirements in project.get("optional-dependencies", {}).items():
        lines.append("Provides-Extra: " + extra)
        lines += ['Requires-Dist: %s ; extra == "%s"' % (r, extra) for r in requirements]
    readme = project.get("readme")
    body = ""
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(_ROOT, readme), encoding="utf-8") as f:
            body = "\n" + f.read()
    return "\n".join(lines) + "\n" + body


def _build_info():
    return ('"""Written when the package was built."""\n\nVERSION = %r\nLIBDIR = %r\n'
            % (version(), library_folder()))


_GENERATED = ("_build_info.py", "_c_header.py")


def _c_header():
    packed = os.path.join(_ROOT, _PACKAGE, "_c_header.py")
    if os.path.exists(os.path.join(_ROOT, "PKG-INFO")) and os.path.exists(packed):
        with open(packed, encoding="utf-8") as f:
            return f.read()
    found = importlib.util.spec_from_file_location("morvik_header",
                                                  os.path.join(_ROOT, _PACKAGE, "_header.py"))
    header = importlib.util.module_from_spec(found)
    found.loader.exec_module(header)
    return header.module_text(_c_header_path())


def _c_header_path():
    """morvik_c.h, whose values the package's constants take: the source
    tree's beside python/, else MORVIK_INCLUDE's, else the installed one
    (pkg-config's include folder, then /usr/local/include, /usr/include)."""
    folders = [os.path.join(_ROOT, "..", "include")]
    if os.environ.get("MORVIK_INCLUDE"):
        folders.append(os.environ["MORVIK_INCLUDE"])
    installed = _pkg_config("--variable=includedir")
    if installed:
        folders.append(installed)
    folders += ["/usr/local/include", "/usr/include"]
    for folder in folders:
        path = os.path.join(folder, "morvik", "morvik_c.h")
        if os.path.exists(path):
            return path
    raise RuntimeError("the morvik package takes its constants from morvik_c.h and found none: "
                       "install libmorvik's headers or set MORVIK_INCLUDE to their folder")


def _package_files():
    base = os.path.join(_ROOT, _PACKAGE)
    for name in sorted(os.listdir(base)):
        if (name.endswith(".py") or name == "py.typed") and name not in _GENERATED:
            yield _PACKAGE + "/" + name, os.path.join(base, name)


def _dist_info():
    return "%s-%s.dist-info" % (_PACKAGE, version())


def _wheel_name():
    return "%s-%s-%s.whl" % (_PACKAGE, version(), _TAG)


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    folder = os.path.join(metadata_directory, _dist_info())
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata())
    return _dist_info()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    entries = []
    for name, path in _package_files():
        with open(path, "rb") as f:
            entries.append((name, f.read()))
    entries.append((_PACKAGE + "/_build_info.py", _build_info().encode()))
    entries.append((_PACKAGE + "/_c_header.py", _c_header().encode()))
    info = _dist_info()
    entries.append((info + "/METADATA", _metadata().encode()))
    entries.append((info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: morvik_build\n"
                                      "Root-Is-Purelib: true\nTag: %s\n" % _TAG).encode()))
    record = [_record_line(n, d) for n, d in entries] + [info + "/RECORD,,"]
    entries.append((info + "/RECORD", ("\n".join(record) + "\n").encode()))
    with zipfile.ZipFile(os.path.join(wheel_directory, _wheel_name()), "w",
                         zipfile.ZIP_DEFLATED) as wheel:
        for name, data in entries:
            wheel.writestr(name, data)
    return _wheel_name()


def build_sdist(sdist_directory, config_settings=None):
    base = "%s-%s" % (_PACKAGE, version())
    name = base + ".tar.gz"
    members = [("pyproject.toml", os.path.join(_ROOT, "pyproject.toml")),
               ("README.package.md", os.path.join(_ROOT, "README.package.md")),
               ("build_backend/morvik_build.py", os.path.abspath(__file__))]
    members += list(_package_files())
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as sdist:
        for member, path in members:
            sdist.add(path, arcname=base + "/" + member)
        for member, data in (("PKG-INFO", _metadata().encode()),
                             (_PACKAGE + "/_c_header.py", _c_header().encode())):
            entry = tarfile.TarInfo(base + "/" + member)
            entry.size = len(data)
            sdist.addfile(entry, io.BytesIO(data))
    return name
