"""The rule of compareReplays.py: the same faces in every frame, each eye
within the tolerance, and as many frames."""

import pathlib
import tempfile
import unittest

from compareReplays import compare

HEADER = "frame,face,right_eye_px,right_eye_py,left_eye_px,left_eye_py,detector_ms\n"


def table(folder, name, rows):
    path = pathlib.Path(folder) / name
    path.write_text(HEADER + "".join(row + "\n" for row in rows))
    return path


class CompareTest(unittest.TestCase):
    def test_rule(self):
        tracked = ["0,,,,,,9.1", "1,0,100.0,50.0,140.0,50.0,2.0", "2,0,101.0,50.0,141.0,50.0,2.0"]
        cases = [
            # (what, second table, problems expected, worst difference)
            ("identical eyes, other timings", [r.replace(",2.0", ",7.5") for r in tracked], 0, 0.0),
            ("within the tolerance", [tracked[0], tracked[1], "2,0,101.4,50.0,141.0,49.6,2.0"], 0, 0.4),
            ("one eye beyond it", [tracked[0], tracked[1], "2,0,101.0,50.0,141.6,50.0,2.0"], 1, 0.6),
            ("a face in one replay only", [tracked[0], tracked[1], "2,,,,,,2.0"], 1, 0.0),
            ("a second face in one replay only", tracked + ["2,1,300.0,60.0,340.0,60.0,2.0"], 1, 0.0),
            ("a face without eyes in one replay", [tracked[0], tracked[1], "2,0,,,,,2.0"], 1, 0.0),
            ("a frame missing", tracked[:2], 2, 0.0),
        ]
        for what, second, problems, worst in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                found, (difference, _) = compare(table(folder, "a.csv", tracked), table(folder, "b.csv", second), 0.5)
                self.assertEqual(len(found), problems, found)
                self.assertAlmostEqual(difference, worst, places=6)


if __name__ == "__main__":
    unittest.main()
