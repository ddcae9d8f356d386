"""A session file as Python's json and csv modules read morvanec's JSON Lines
and CSV of it: the right values and names, and from-json gives the bytes
to-binary gives."""
import csv
import io
import json
import os
import struct
import subprocess
import tempfile
import unittest

MORVANEC = os.environ["MORVANEC"]
SOURCE = os.environ["MORVANE_SOURCE_DIR"]
SCHEMA = os.path.join(SOURCE, "examples", "Schemas", "PosRec.xsd")
SESSION = os.path.join(SOURCE, "tests", "convert", "golden", "posrec_session.xml")


def morvanec(*args):
    done = subprocess.run([MORVANEC, *args], capture_output=True, timeout=60, check=False)
    if done.returncode != 0:
        raise AssertionError(done.stderr.decode())
    return done.stdout


class RecordsInPython(unittest.TestCase):
    def test_json_lines(self):
        records = [json.loads(line) for line in morvanec("to-json", SCHEMA, SESSION).splitlines()]
        self.assertEqual(len(records), 1)
        r = records[0]
        self.assertEqual((r["$schema"], r["$id"], r["$number"]), ("PosRec", 7, 1))
        self.assertEqual((r["count"], r["mode"], r["flags"]), (5, "ON", "00000000"))
        self.assertEqual(r["pos"], [{"x": 1, "y": 2}, {"x": 3, "y": 4}])

    def test_csv(self):
        rows = list(csv.DictReader(io.StringIO(morvanec("to-csv", SCHEMA, SESSION).decode())))
        self.assertEqual(len(rows), 1)
        self.assertEqual(rows[0]["mode"], "ON")
        self.assertEqual([int(rows[0][k]) for k in ("count", "pos[0].x", "pos[1].y")], [5, 1, 4])

    def test_back_to_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as work:
            lines = os.path.join(work, "r.jsonl")
            with open(lines, "wb") as out:
                out.write(morvanec("to-json", SCHEMA, SESSION))
            packed = morvanec("from-json", SCHEMA, lines)
        self.assertEqual(packed, morvanec("to-binary", SCHEMA, SESSION))
        self.assertEqual(struct.unpack("<i4si4i", packed), (5, b"\0" * 4, 1, 1, 2, 3, 4))


if __name__ == "__main__":
    unittest.main()
