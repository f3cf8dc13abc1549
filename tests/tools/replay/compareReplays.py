#!/usr/bin/env python3
"""Replays one sequence with two builds of the replay tool, e.g. the Linux one
and the Windows one under Wine, and checks that they tracked the same eyes:
in every frame the same faces, and each eye's pixel within a tolerance.

    compareReplays.py --sequence DIR --work DIR --tolerance PX \
        --first PROGRAM... --second PROGRAM... [--second-paths windows]

Each --first/--second is a command line (emulator first, if any). With
--second-paths windows, the paths handed to the second program carry Wine's
drive (Z:)."""

import argparse
import csv
import pathlib
import re
import subprocess
import sys

EYE_COLUMNS = ("right_eye_px", "right_eye_py", "left_eye_px", "left_eye_py")


def replay(command, sequence, output, windows_paths):
    def native(path):
        return "Z:" + str(path) if windows_paths else str(path)

    arguments = command + [native(sequence), "-o", native(output), "--overlay-every", "0"]
    done = subprocess.run(arguments, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(arguments)} failed with {done.returncode}:\n{done.stdout}\n{done.stderr}")
    summary = re.search(r"detector per frame: +median ([0-9.]+) ms", done.stdout)
    return summary.group(1) if summary else "?"


def read_eyes(table):
    """{(frame, face): (four eye coordinates) or None}, and the frame count."""
    eyes = {}
    frames = set()
    with open(table, newline="") as file:
        for row in csv.DictReader(file):
            frames.add(int(row["frame"]))
            if row["face"] == "":
                continue
            values = [row[column] for column in EYE_COLUMNS]
            key = (int(row["frame"]), int(row["face"]))
            eyes[key] = tuple(float(v) for v in values) if all(values) else None
    return eyes, len(frames)


def compare(first, second, tolerance):
    """The list of disagreements, and the worst eye difference with its place."""
    problems = []
    first_eyes, first_frames = read_eyes(first)
    second_eyes, second_frames = read_eyes(second)
    if first_frames != second_frames:
        problems.append(f"{first_frames} frames against {second_frames}")
    worst = (0.0, None)
    for key in sorted(set(first_eyes) | set(second_eyes)):
        a, b = first_eyes.get(key), second_eyes.get(key)
        if (a is None) != (b is None):
            problems.append(f"frame {key[0]} face {key[1]}: eyes in one replay only")
            continue
        if a is None:
            continue
        difference = max(abs(x - y) for x, y in zip(a, b))
        if difference > worst[0]:
            worst = (difference, key)
        if difference > tolerance:
            problems.append(f"frame {key[0]} face {key[1]}: eyes {difference:.3f} px apart")
    return problems, worst


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sequence", type=pathlib.Path, required=True)
    parser.add_argument("--work", type=pathlib.Path, required=True)
    parser.add_argument("--tolerance", type=float, required=True)
    parser.add_argument("--first", nargs="+", required=True)
    parser.add_argument("--second", nargs="+", required=True)
    parser.add_argument("--second-paths", choices=("native", "windows"), default="native")
    args = parser.parse_args()

    first_out, second_out = args.work / "first", args.work / "second"
    first_ms = replay(args.first, args.sequence, first_out, False)
    second_ms = replay(args.second, args.sequence, second_out, args.second_paths == "windows")
    problems, (worst, where) = compare(first_out / "frames.csv", second_out / "frames.csv", args.tolerance)
    place = f" (frame {where[0]}, face {where[1]})" if where else ""
    print(
        f"worst eye difference {worst:.4f} px{place}; detector per frame: median {first_ms} ms " f"and {second_ms} ms"
    )
    if problems:
        print("\n".join(problems[:20]), file=sys.stderr)
        sys.exit(f"{len(problems)} disagreements beyond {args.tolerance} px")


if __name__ == "__main__":
    main()
