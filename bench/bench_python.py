#!/usr/bin/env python3
"""Pack and unpack of the Python package against plain floors, on demand:

    PYTHONPATH=python python3 bench/bench_python.py [--loops N]

Wide is the record bench_server serves: 200 fields cycling through ten
type codes (900 bytes). Each row is one pack and one unpack of a record,
timed as the best of 41 repeats taken in turn in this run:

  morvane   layout.unpack(data) then layout.pack(record)
  floor     the same dicts written plainly: one struct.unpack, the dict
            built from the tuple, one struct.pack of its values
  ctypes    the standard library's packed little-endian structure:
            from_buffer_copy, a dict of its fields, and back (a peer)
"""

from __future__ import annotations

import argparse
import ctypes
import json
import struct
import sys
import timeit
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))

from morvane import Layout  # noqa: E402

KINDS = [("int", "i", 4, ctypes.c_int32), ("double", "d", 8, ctypes.c_double),
         ("unsigned16", "H", 2, ctypes.c_uint16), ("float", "f", 4, ctypes.c_float),
         ("int64", "q", 8, ctypes.c_int64), ("unsigned", "I", 4, ctypes.c_uint32),
         ("int16", "h", 2, ctypes.c_int16), ("char", "B", 1, ctypes.c_uint8),
         ("unsigned64", "Q", 8, ctypes.c_uint64), ("bool", "?3x", 4, None)]
FIELDS = 200


def wide_layout() -> Layout:
    members, at = [], 0
    for i in range(FIELDS):
        kind, _, width, _ = KINDS[i % len(KINDS)]
        members.append({"name": f"f{i}", "kind": "item", "type": kind, "offset": at,
                        "size": width, "repetitions": 1, "element_size": width,
                        "visible": True})
        at += width
    return Layout.from_json(json.dumps({
        "name": "Wide", "id": 2, "size": at, "byte_order": "little", "fingerprint": "0x1",
        "fields": [], "members": members, "enums": []}))


def wide_record() -> dict[str, object]:
    record: dict[str, object] = {}
    for i in range(FIELDS):
        kind = KINDS[i % len(KINDS)][0]
        record[f"f{i}"] = (bool(i & 1) if kind == "bool" else float(i) + 0.25
                           if kind in ("float", "double") else (i * 7) & 0x7F)
    return record


def floor_functions():
    """The plain code: one Struct, a dict from its tuple and back."""
    s = struct.Struct("<" + "".join(KINDS[i % len(KINDS)][1] for i in range(FIELDS)))
    names = [f"f{i}" for i in range(FIELDS)]

    def unpack(data: bytes) -> dict[str, object]:
        return dict(zip(names, s.unpack(data)))

    def pack(record: dict[str, object]) -> bytes:
        return s.pack(*[record[name] for name in names])
    return unpack, pack


def ctypes_functions():
    fields = []
    for i in range(FIELDS):
        kind, _, _, c_type = KINDS[i % len(KINDS)]
        if c_type is None:  # a bool in a 4-byte slot
            fields += [(f"f{i}", ctypes.c_bool), (f"_pad{i}", ctypes.c_uint8 * 3)]
        else:
            fields.append((f"f{i}", c_type))

    class Wide(ctypes.LittleEndianStructure):
        _pack_ = 1
        _fields_ = fields
    names = [f"f{i}" for i in range(FIELDS)]

    def unpack(data: bytes) -> dict[str, object]:
        r = Wide.from_buffer_copy(data)
        return {name: getattr(r, name) for name in names}

    def pack(record: dict[str, object]) -> bytes:
        r = Wide()
        for name in names:
            setattr(r, name, record[name])
        return bytes(r)
    return unpack, pack


def best_of(rows, loops: int, repeats: int = 41) -> dict[str, float]:
    """Seconds per call of each row: the best of repeats, taken in turn, so
    that a busy spell of the machine falls on every row alike."""
    times = {name: float("inf") for name, _ in rows}
    for _ in range(repeats):
        for name, function in rows:
            times[name] = min(times[name], timeit.timeit(function, number=loops) / loops)
    return times


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--loops", type=int, default=1000)
    loops = parser.parse_args().loops

    layout = wide_layout()
    data = layout.pack(wide_record())
    floor_unpack, floor_pack = floor_functions()
    ctypes_unpack, ctypes_pack = ctypes_functions()
    for unpack, pack in ((floor_unpack, floor_pack), (ctypes_unpack, ctypes_pack)):
        assert unpack(data) == layout.unpack(data) and pack(unpack(data)) == data

    rows = [
        ("morvane", lambda: layout.pack(layout.unpack(data))),
        ("floor", lambda: floor_pack(floor_unpack(data))),
        ("ctypes", lambda: ctypes_pack(ctypes_unpack(data))),
    ]
    times = best_of(rows, loops)
    print(f"Wide: {FIELDS} fields, {layout.size} bytes; pack + unpack of one record, "
          f"best of 41 x {loops} in turn, Python {sys.version.split()[0]}")
    print(f"{'':10}{'us':>10}{'records/s':>14}{'/ floor':>10}")
    for name, _ in rows:
        t = times[name]
        print(f"{name:10}{t * 1e6:10.2f}{1 / t:14,.0f}{t / times['floor']:10.2f}")


if __name__ == "__main__":
    main()
