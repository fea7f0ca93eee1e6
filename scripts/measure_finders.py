#!/usr/bin/env python3
"""Recall, precision and time per photo of each finder selection on the
hand-marked faces of ../shared/testdata/faces/boxes.csv.

    OPENBLAS_NUM_THREADS=1 MORVIK_LIBRARY=build/src/libmorvik.so \\
        PYTHONPATH=python python3 scripts/measure_finders.py [--runs 5] [-o KEY=VALUE]...

A found face matches a marked one when their boxes overlap by at least 0.4
(intersection over union), each used once. The time is the median of the
runs of MvFindFaces on the decoded photo, after one run that loads the
models. With --scores the YuNet finder runs at the lowest score the network
keeps (0.2) and the table gives recall and precision at each threshold.
"""

import argparse
import csv
import os
import statistics
import time

import morvik
from morvik import faces as _faces
from morvik.images import decoded, read_file

SELECTIONS = [("LBP", 0x02), ("Haar", 0x04), ("HOG", 0x08), ("CNN", 0x10), ("pico", 0x20),
              ("chain 0x1E", 0x1E), ("YuNet", morvik.FIND_YUNET)]
IOU = 0.4


def ground_truth(folder):
    boxes = {}
    with open(os.path.join(folder, "faces", "boxes.csv"), newline="") as f:
        for row in csv.DictReader(f):
            boxes.setdefault(row["image"], []).append(tuple(int(row[k]) for k in "xywh"))
    return boxes


def iou(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    w = max(0, min(ax + aw, bx + bw) - max(ax, bx))
    h = max(0, min(ay + ah, by + bh) - max(ay, by))
    common = w * h
    union = aw * ah + bw * bh - common
    return common / union if union > 0 else 0.0


def matches(truths, found):
    """How many marked faces a found face matches, each used once."""
    used = set()
    hits = 0
    for box in found:
        best = max(((iou(box, t), i) for i, t in enumerate(truths) if i not in used), default=(0, None))
        if best[0] >= IOU:
            used.add(best[1])
            hits += 1
    return hits


def find(pixels, bits):
    try:
        return _faces.find_in_pixels(pixels, bits, 512)
    except morvik.MorvikError as e:
        if e.code == -4:
            return []
        raise


def measure(folder, photos, bits, runs):
    truths = found = hits = 0
    times = []
    for name, marked in photos.items():
        with decoded(read_file(os.path.join(folder, name))) as pixels:
            find(pixels, bits)  # loads the models
            spent = []
            for _ in range(runs):
                start = time.perf_counter()
                faces = find(pixels, bits)
                spent.append(time.perf_counter() - start)
        boxes = [(f.face.rect.x, f.face.rect.y, f.face.rect.w, f.face.rect.h) for f in faces]
        truths += len(marked)
        found += len(boxes)
        hits += matches(marked, boxes)
        times.append(statistics.median(spent))
    return truths, found, hits, times


def score_table(folder, photos):
    saved = morvik.options["yunet.score"]
    morvik.options["yunet.score"] = 0.2
    try:
        scored = []  # (score, matched) of every face found
        truths = 0
        for name, marked in photos.items():
            with decoded(read_file(os.path.join(folder, name))) as pixels:
                faces = find(pixels, morvik.FIND_YUNET)
            truths += len(marked)
            for f in faces:
                box = (f.face.rect.x, f.face.rect.y, f.face.rect.w, f.face.rect.h)
                scored.append((f.score, any(iou(box, t) >= IOU for t in marked)))
    finally:
        morvik.options["yunet.score"] = saved
    print("\n| yunet.score | recall | precision | faces |")
    print("|---|---|---|---|")
    for threshold in (0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9):
        kept = [m for s, m in scored if s >= threshold]
        recall = min(sum(kept), truths) / truths
        precision = sum(kept) / len(kept) if kept else 0.0
        print("| %.1f | %.2f | %.2f | %d |" % (threshold, recall, precision, len(kept)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--testdata", default=os.environ.get(
        "MORVIK_TESTDATA", os.path.join(os.path.dirname(__file__), "..", "..", "shared", "testdata")))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--scores", action="store_true")
    parser.add_argument("-o", "--option", action="append", default=[])
    args = parser.parse_args()
    for assignment in args.option:
        key, value = assignment.split("=", 1)
        kind = type(morvik.options[key])
        morvik.options[key] = kind(value)
    photos = ground_truth(args.testdata)
    print("| finder | recall | precision | found | ms per photo |")
    print("|---|---|---|---|---|")
    for label, bits in SELECTIONS:
        truths, found, hits, times = measure(args.testdata, photos, bits, args.runs)
        print("| %s | %.2f | %.2f | %d | %.1f |" % (label, hits / truths, hits / found if found else 0.0,
                                                     found, 1000 * statistics.mean(times)))
    if args.scores:
        score_table(args.testdata, photos)


if __name__ == "__main__":
    main()
