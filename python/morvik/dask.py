"""Indexing a photo collection over a Dask cluster, with the records that
`morvik index` writes.

    import morvik.dask
    records = morvik.dask.index(paths, out="faces.jsonl", workers=4)

Each task describes a batch of photos in a worker. The library keeps its
models per thread, so a worker thread loads them with its first photo and
reuses them for every later one. Records arrive in any order; they are
appended to OUT.partial as they come, so that an interrupted run loses
nothing, and OUT is written at the end in the order of `paths`, as the
serial `morvik index` writes it. A run over an existing OUT (or OUT.partial)
describes only the photos without a record there; failed photos are tried
again. A run holds OUT.lock while it writes: a second run on the same OUT
is refused (MorvikError -1) instead of racing the first. Run as `python3 -m morvik.dask --help` for the command line that
`morvik index --workers/--scheduler` uses.
"""

from __future__ import annotations

import argparse
import json
import logging
import os
import sys
import time
from typing import (Any, Callable, Dict, Iterable, List, Literal, Mapping, Optional, Sequence, Tuple,
                    Union)

from . import _files, indexing, records
from .errors import MorvikError, result_message
from .faces import FIND_DEFAULT
from .options import Value

BATCH_SIZE = 4


def _describe_batch(photos: Sequence[str], algo: int, max_faces: int,
                    option_values: Optional[Mapping[str, Value]]) -> List[indexing.Outcome]:
    """Runs in a worker: the Outcomes of a batch of photos."""
    indexing.apply_options(option_values)
    return [indexing.describe_photo(p, algo, max_faces) for p in photos]


def local_cluster(workers: int) -> Any:
    """A cluster of `workers` single-threaded processes reachable only from
    this machine. OpenBLAS runs single-threaded in them (unless the
    environment says otherwise): the processes already fill the cores."""
    from dask.distributed import LocalCluster
    os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                        host="127.0.0.1", dashboard_address=None, silence_logs=logging.ERROR)


class _Progress:
    """One status line on a terminal, one line per photo otherwise, on
    standard error: the command-line tool's format."""

    def __init__(self, total: int, enabled: bool) -> None:
        self.total, self.done = total, 0
        self.enabled = enabled
        self.terminal = enabled and sys.stderr.isatty()
        # Lines for logs only when asked for (the tool's --verbose, MORVIK_LOG=1).
        self.lines = self.terminal or (enabled and os.environ.get("MORVIK_LOG", "0") != "0")

    def show(self, photo: Union[str, "os.PathLike[str]"]) -> None:
        self.done += 1
        if self.lines:
            text = "[%d/%d] %s" % (self.done, self.total, photo)
            sys.stderr.write("\r\033[K" + text if self.terminal else text + "\n")
            sys.stderr.flush()

    def report(self, outcome: indexing.Outcome) -> None:
        self.finish()
        detail = ": " + outcome.detail if outcome.detail else ""
        sys.stderr.write("morvik: %s: %s (%d)%s\n" % (outcome.photo, result_message(outcome.code),
                                                     outcome.code, detail))

    def finish(self) -> None:
        if self.terminal:
            sys.stderr.write("\r\033[K")


def _batches(photos: List[str], size: int) -> List[List[str]]:
    return [photos[i:i + size] for i in range(0, len(photos), size)]


def _lost_batch(batch: Sequence[str], error: BaseException) -> List[indexing.Outcome]:
    """Outcomes for the photos of a task that failed as a whole (a worker
    lost too often); their records say so and a re-run tries them again."""
    detail = "the task failed: %s: %s" % (type(error).__name__, error)
    return [indexing.Outcome(p, records.error_record(p, indexing.MV_EXCEPTION, detail),
                             indexing.MV_EXCEPTION, detail) for p in batch]


def _run(client: Any, todo: List[str], algo: int, max_faces: int,
         option_values: Optional[Mapping[str, Value]], batch_size: int,
         sink: Callable[[indexing.Outcome], None], progress: _Progress) -> None:
    from dask.distributed import as_completed
    futures = {}
    for batch in _batches(todo, batch_size):
        future = client.submit(_describe_batch, batch, algo, max_faces, option_values, pure=False)
        futures[future] = batch
    for future in as_completed(list(futures)):
        batch = futures.pop(future)
        try:
            outcomes = future.result()
        except Exception as e:  # noqa: BLE001 - the batch's photos are recorded as failed
            outcomes = _lost_batch(batch, e)
        future.release()
        for outcome in outcomes:
            sink(outcome)
            progress.show(outcome.photo)
            if outcome.failed:
                progress.report(outcome)


def index(paths: Iterable[_files.AnyPath], client: Any = None,
          out: Optional[str] = None, algo: int = FIND_DEFAULT, max_faces: int = indexing.MAX_FACES,
          options: Optional[Mapping[str, Value]] = None, workers: int = 2,
          batch_size: int = BATCH_SIZE, progress: bool = True,
          summary: Optional[Dict[str, Any]] = None) -> List[Dict[str, Any]]:
    """Describes the photos at `paths` over Dask and returns their records
    (the dicts of `morvik index`'s JSON lines), in the order of `paths`.

    client: a dask.distributed.Client; None uses the current one, or starts
    a local cluster of `workers` processes on 127.0.0.1 for this call.
    out: the JSON-lines file to write (and to resume from), or None.
    options: {key: value} set in every worker before its first photo.
    summary: a dict that receives counts (photos, faces, failures, reused,
    first_failure).
    """
    photos = [os.fsdecode(os.fspath(p)) for p in paths]
    with _files.IndexLock(out) if out else _NoFile():
        ordered, outcomes, reused = _index_into(out, photos, client, algo, max_faces, options, workers,
                                                batch_size, progress)
    result = [json.loads(line.decode("utf-8", "surrogateescape")) for line in ordered]
    if summary is not None:
        failures = [outcomes[p].code for p in photos if p in outcomes and outcomes[p].failed]
        summary.update(photos=len(photos), reused=reused, failures=len(failures),
                       first_failure=failures[0] if failures else 0,
                       faces=sum(len(r.get("faces", ())) for r in result))
    return result


def _index_into(out: Optional[str], photos: List[str], client: Any, algo: int, max_faces: int,
                options: Optional[Mapping[str, Value]], workers: int, batch_size: int,
                progress: bool) -> Tuple[List[bytes], Dict[Any, indexing.Outcome], int]:
    """index()'s work, with OUT locked: (record lines in the order of
    `photos`, {photo: Outcome} of this run, count of records reused)."""
    partial = out + ".partial" if out else None
    done = {}
    if out:
        done.update(indexing.indexed_lines(out))
        done.update(indexing.indexed_lines(partial))
    lines = {p: done[p] for p in photos if p in done}
    reused = len(lines)
    todo = [p for p in dict.fromkeys(photos) if p not in lines]
    outcomes = {}
    report = _Progress(len(todo), progress)

    with _files.open_for_append(partial) if partial else _NoFile() as journal:
        def sink(outcome: indexing.Outcome) -> None:
            outcomes[outcome.photo] = outcome
            lines[outcome.photo] = outcome.line
            if not outcome.failed and partial:
                journal.write(outcome.line + b"\n")
                journal.flush()

        if todo:
            own = None
            if client is None:
                client, own = _client_or_cluster(workers)
            try:
                _run(client, todo, algo, max_faces, options, batch_size, sink, report)
            finally:
                if own is not None:
                    client.close()
                    own.close()
        report.finish()

    ordered = [lines[p] for p in photos]
    if out:
        _files.write_atomically(out, (line + b"\n" for line in ordered))
        os.remove(partial)
    return ordered, outcomes, reused


class _NoFile:
    def __enter__(self) -> None:
        return None

    def __exit__(self, *exc: Any) -> Literal[False]:
        return False


def _client_or_cluster(workers: int) -> Tuple[Any, Any]:
    from dask.distributed import Client, get_client
    try:
        return get_client(), None
    except ValueError:
        cluster = local_cluster(workers)
        return Client(cluster), cluster


def _arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="python3 -m morvik.dask",
                                     description="Indexes photos over Dask as `morvik index` does.")
    parser.add_argument("photos", nargs="*", help="photo paths (or give --paths-from)")
    parser.add_argument("--paths-from", metavar="FILE",
                        help="file of photo paths, each ended by a NUL byte ('-': standard input)")
    parser.add_argument("--out", required=True, help="the JSON-lines index to write or resume")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=2, help="local worker processes (2)")
    where.add_argument("--scheduler", metavar="ADDRESS", help="an existing Dask scheduler")
    parser.add_argument("--algo", type=int, default=FIND_DEFAULT, help="finder bits (256: yunet, 24: hog+cnn)")
    parser.add_argument("--max", type=int, default=indexing.MAX_FACES, dest="max_faces")
    parser.add_argument("-o", "--option", action="append", default=[], metavar="KEY=VALUE")
    parser.add_argument("--batch-size", type=int, default=BATCH_SIZE)
    return parser.parse_args(argv)


def _read_paths(source: str) -> List[str]:
    stream = sys.stdin.buffer if source == "-" else _files.open_regular(source)
    with stream:
        return [os.fsdecode(p) for p in stream.read().split(b"\0") if p]


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = _arguments(argv)
    photos = args.photos + (_read_paths(args.paths_from) if args.paths_from else [])
    if args.workers < 1 or args.batch_size < 1:
        sys.stderr.write("morvik: --workers and --batch-size must be at least 1\n")
        return 1
    try:
        option_values = dict(indexing.option_value(a) for a in args.option)
    except MorvikError as e:
        sys.stderr.write("morvik: %s\n" % e)
        return 1
    client = None
    if args.scheduler:
        from dask.distributed import Client
        client = Client(args.scheduler)
    start = time.monotonic()
    summary: Dict[str, Any] = {}
    try:
        index(photos, client=client, out=args.out, algo=args.algo, max_faces=args.max_faces,
              options=option_values, workers=args.workers, batch_size=args.batch_size,
              summary=summary)
    except MorvikError as e:
        sys.stderr.write("morvik: %s: %s\n" % (args.out, e))
        return 1
    finally:
        if client is not None:
            client.close()
    print("%s: %d photos, %d faces, %d failures, %.1f s (%d already indexed)" % (
        args.out, summary["photos"], summary["faces"], summary["failures"],
        time.monotonic() - start, summary["reused"]))
    code = abs(summary["first_failure"])
    return code if code < 126 else 125


if __name__ == "__main__":
    sys.exit(main())
