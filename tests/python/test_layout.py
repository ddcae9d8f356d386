"""Layout: from the layout JSON, and pack/unpack of records as dicts."""

import json
import math
import os
import struct
import tempfile
import unittest
import unittest.mock
from pathlib import Path

from morvane import Layout, MorvaneError
from support import EXAMPLES, HERE, fixed_layout, layout_json, member

SENTINEL = bytes.fromhex("a1b2c3d4")  # an int after the member under test: offsets hold

# One member of each type code and shape: its value as a dict value and its
# bytes in the record.
VALUE_CASES = [
    ("char", member("v", "char"), 0x41, "41"),
    ("char 255", member("v", "char"), 255, "ff"),
    ("int", member("v", "int"), -2, "feffffff"),
    ("int max", member("v", "int"), 2**31 - 1, "ffffff7f"),
    ("int16", member("v", "int16"), -32768, "0080"),
    ("int64", member("v", "int64"), -2**63, "0000000000000080"),
    ("int64 beyond 32 bits", member("v", "int64"), 1234567890123, "cb04fb711f010000"),
    ("unsigned", member("v", "unsigned"), 2**32 - 1, "ffffffff"),
    ("unsigned16", member("v", "unsigned16"), 65535, "ffff"),
    ("unsigned64", member("v", "unsigned64"), 2**64 - 1, "ffffffffffffffff"),
    ("float", member("v", "float"), 20.5, "0000a441"),
    ("float inf", member("v", "float"), -math.inf, "000080ff"),
    ("double", member("v", "double"), 3.141592653589793, "182d4454fb210940"),
    ("bool true", member("v", "bool"), True, "01000000"),
    ("bool false", member("v", "bool"), False, "00000000"),
    ("enum item", member("v", "enum:Mode"), "ON", "01000000"),
    ("enum value of no item", member("v", "enum:Mode"), 7, "07000000"),
    ("enum negative value of no item", member("v", "enum:Mode"), -3, "fdffffff"),
    ("text has no bytes", member("v", "text"), "", ""),
    ("repeated int", member("v", "int", 3), [1, -1, 2], "01000000ffffffff02000000"),
    ("repeated bool", member("v", "bool", 2), [True, False], "0100000000000000"),
    ("repeated enum", member("v", "enum:Mode", 2), ["OFF", 9], "0000000009000000"),
    ("repetition count 0", member("v", "int", 0), [], ""),
    ("repeated text", member("v", "text", 2), ["", ""], ""),
    ("collapsed char", member("v", "char", 4, visible=False), b"ab\0\xff", "616200ff"),
    ("collapsed int", member("v", "int", 2, visible=False), b"\1\0\0\0\2\0\0\0",
     "0100000002000000"),
    ("collapsed enum", member("v", "enum:Mode", 1, visible=False), "ON", "01000000"),
    ("collapsed count 0", member("v", "int", 0, visible=False), b"", ""),
    ("structure", member("v", "struct", 1, members=[member("x", "int16"), member("y", "char")]),
     {"x": 3, "y": 4}, "030004"),
    ("repeated structure", member("v", "struct", 2, members=[member("x", "char")]),
     [{"x": 1}, {"x": 2}], "0102"),
    ("long repeated structure", member("v", "struct", 6, members=[
        member("x", "char"), member("e", "enum:Mode"), member("c", "char", 2)]),
     [{"x": k, "e": "ON" if k % 2 else 5, "c": [k, 9]} for k in range(6)],
     "".join(f"{k:02x}{'01' if k % 2 else '05'}000000{k:02x}09" for k in range(6))),
    ("structures in structures", member("v", "struct", 1, members=[
        member("p", "struct", 2, members=[member("q", "struct", 1, members=[
            member("z", "int16", 2)])])]),
     {"p": [{"q": {"z": [1, 2]}}, {"q": {"z": [3, 4]}}]}, "0100020003000400"),
    ("structure of no bytes", member("v", "struct", 2, members=[member("t", "text")]),
     [{"t": ""}, {"t": ""}], ""),
]


def one_member_layout(m):
    return Layout.from_json(layout_json([m, member("after", "int")],
                                        {"Mode": [("OFF", 0), ("ON", 1)]}))


class PackUnpackTest(unittest.TestCase):
    def test_every_type_code_packs_to_its_bytes_and_back(self):
        for label, m, value, hex_bytes in VALUE_CASES:
            with self.subTest(label):
                layout = one_member_layout(m)
                record = {"v": value, "after": int.from_bytes(SENTINEL, "little", signed=True)}
                data = layout.pack(record)
                self.assertEqual(data.hex(), hex_bytes + SENTINEL.hex())
                self.assertEqual(len(data), layout.size)
                self.assertEqual(layout.unpack(data), record)
                self.assertEqual(layout.pack(layout.unpack(data)), data)

    def test_bytes_round_trip_whole(self):
        # Every byte pattern but a bool's upper bytes and signalling NaNs
        # comes back as it went in.
        layout = fixed_layout("telemetry")
        data = bytes((k * 37 + 11) % 256 for k in range(layout.size))
        data = data[:35] + b"\1\0\0\0" + data[39:]  # valid: a bool of one byte
        back = layout.pack(layout.unpack(data))
        self.assertEqual(back, data)

    def test_posrec_bytes_at_known_offsets(self):
        layout = fixed_layout("posrec")
        self.assertEqual((layout.size, layout.id, layout.fingerprint), (28, 7, 0x0123456789abcdef))
        record = {"count": 5, "flags": b"ab\0\0", "mode": "ON",
                  "pos": [{"x": 1, "y": 2}, {"x": 3, "y": 4}]}
        data = layout.pack(record)
        self.assertEqual(struct.unpack("<i4s5i", data), (5, b"ab\0\0", 1, 1, 2, 3, 4))
        self.assertEqual(layout.unpack(data), record)
        self.assertEqual(layout.zero(), {"count": 0, "flags": bytes(4), "mode": "OFF",
                                         "pos": [{"x": 0, "y": 0}, {"x": 0, "y": 0}]})
        self.assertEqual(layout.unpack_from(b"xx" + data, 2), record)
        self.assertEqual(list(layout.iter_unpack(data + bytes(28))), [record, layout.zero()])

    def test_nan_stays_nan(self):
        layout = one_member_layout(member("v", "double"))
        back = layout.unpack(layout.pack({"v": math.nan, "after": 0}))
        self.assertTrue(math.isnan(back["v"]))

    def test_first_item_names_a_shared_value(self):
        layout = Layout.from_json(layout_json([member("v", "enum:E")],
                                              {"E": [("A", 1), ("B", 1)]}))
        self.assertEqual(layout.unpack(b"\1\0\0\0"), {"v": "A"})
        self.assertEqual(layout.pack({"v": "B"}), b"\1\0\0\0")

    def test_gaps_in_offsets_are_skipped(self):
        members = [member("a", "char"), member("b", "char")]
        members[1]["offset"] = 3
        layout = Layout.from_json(layout_json(members))
        self.assertEqual(layout.size, 4)
        self.assertEqual(layout.pack({"a": 1, "b": 2}), b"\1\0\0\2")


# A record pack refuses, and the words its error must carry.
PACK_ERRORS = [
    ("missing member", {"flags": None}, "PosRec.flags is missing"),
    ("unknown item name", {"mode": "MAYBE"}, "PosRec.mode: 'MAYBE' is not an item of Mode"),
    ("int too large", {"count": 2**31}, "PosRec.count of type int"),
    ("not a number", {"count": "5"}, "PosRec.count of type int"),
    ("too few repetitions", {"pos": [{"x": 1, "y": 2}]}, "PosRec.pos holds 2 repetitions"),
    ("too many repetitions", {"pos": [{"x": 1, "y": 2}] * 3}, "PosRec.pos holds 2 repetitions"),
    ("structure not a dict", {"pos": [1, 2]}, "PosRec.pos[0] is int, not a dict"),
    ("member of a structure missing", {"pos": [{"x": 1}, {"x": 1, "y": 2}]},
     "PosRec.pos[0].y is missing"),
    ("collapsed bytes of another length", {"flags": b"abc"}, "PosRec.flags is collapsed: 4 bytes"),
    ("collapsed given as a list", {"flags": [1, 2, 3, 4]}, "PosRec.flags is collapsed"),
]


class PackErrorTest(unittest.TestCase):
    def test_pack_names_the_member_at_fault(self):
        layout = fixed_layout("posrec")
        good = layout.zero()
        for label, change, words in PACK_ERRORS:
            with self.subTest(label):
                # None stands for a member left out.
                record = {k: v for k, v in {**good, **change}.items() if v is not None}
                with self.assertRaises((ValueError, TypeError)) as caught:
                    layout.pack(record)
                self.assertIn(words, str(caught.exception))

    def test_unpack_refuses_a_record_of_another_length(self):
        layout = fixed_layout("posrec")
        for data in (b"", bytes(27), bytes(29)):
            with self.subTest(len(data)):
                with self.assertRaisesRegex(ValueError, f"PosRec: {len(data)} bytes, the record "
                                                        "has 28"):
                    layout.unpack(data)
        with self.assertRaisesRegex(TypeError, "a record is bytes, not dict"):
            layout.unpack({})
        with self.assertRaisesRegex(ValueError, "not whole records"):
            list(layout.iter_unpack(bytes(30)))


def posrec_json(change):
    doc = json.loads((HERE / "data" / "posrec.json").read_text())
    change(doc)
    return json.dumps(doc)


# Layout documents from_json refuses, and the words of its error.
JSON_ERRORS = [
    ("not JSON", "{", "layout JSON:"),
    ("not an object", "[]", "the document is not an object"),
    ("no fingerprint", posrec_json(lambda d: d.pop("fingerprint")), 'PosRec has no "fingerprint"'),
    ("fingerprint not hexadecimal", posrec_json(lambda d: d.update(fingerprint="0xzz")),
     "fingerprint '0xzz' is not hexadecimal"),
    ("unknown kind", posrec_json(lambda d: d["members"][0].update(kind="union")),
     "count has the unknown kind 'union'"),
    ("unknown type", posrec_json(lambda d: d["members"][0].update(type="int128")),
     "PosRec.count has the unknown type 'int128'"),
    ("size not of the type", posrec_json(lambda d: d["members"][0].update(
        element_size=2, size=2)), "PosRec.count of type int has 2 bytes, not 4"),
    ("unknown enumeration", posrec_json(lambda d: d["members"][2].update(enum="Other")),
     "PosRec.mode names the unknown enumeration 'Other'"),
    ("members overlap", posrec_json(lambda d: d["members"][1].update(offset=2)),
     "PosRec.flags at offset 2 overlaps"),
    ("record size too small", posrec_json(lambda d: d.update(size=20)),
     "the members of PosRec take 28 bytes, more than its 20"),
    ("size not repetitions times element", posrec_json(lambda d: d["members"][3].update(size=8)),
     "PosRec.pos has size 8, not 2 x 8"),
    ("member offset in a structure", posrec_json(
        lambda d: d["members"][3]["members"][1].update(offset=2)),
     "PosRec.pos.y at offset 2 overlaps"),
    ("count not an integer", posrec_json(lambda d: d["members"][0].update(repetitions="1")),
     '"repetitions" of count is \'1\''),
    ("unknown byte order", posrec_json(lambda d: d.update(byte_order="middle")),
     "unknown byte order 'middle'"),
]


class FromJsonTest(unittest.TestCase):
    def test_refusals_name_what_is_wrong(self):
        for label, text, words in JSON_ERRORS:
            with self.subTest(label):
                with self.assertRaises(ValueError) as caught:
                    Layout.from_json(text)
                self.assertIn(words, str(caught.exception))

    def test_big_endian_layouts_pack_big_endian(self):
        text = posrec_json(lambda d: d.update(byte_order="big"))
        layout = Layout.from_json(text)
        self.assertEqual(layout.pack(layout.zero() | {"count": 1})[:4], b"\0\0\0\1")


class FromSchemaTest(unittest.TestCase):
    def test_the_examples_through_morvanec(self):
        for name in ("PosRec", "Telemetry"):
            with self.subTest(name):
                layout = Layout.from_schema(EXAMPLES / "Schemas" / f"{name}.xsd")
                fixed = fixed_layout(name.lower())
                self.assertEqual((layout.name, layout.id, layout.size, layout.members,
                                  layout.enums), (fixed.name, fixed.id, fixed.size,
                                                  fixed.members, fixed.enums))
                self.assertEqual(layout.struct.format, fixed.struct.format)
                self.assertNotEqual(layout.fingerprint, fixed.fingerprint)  # made up there

    def test_morvanec_diagnostics_become_the_error(self):
        with tempfile.TemporaryDirectory() as d:
            schema = Path(d) / "Bad.xsd"
            schema.write_text('<?xml version="1.0"?>\n<Schema name="Bad" id="3">\n'
                              '   <Item name="a" type="nowhere"/>\n</Schema>\n')
            with self.assertRaisesRegex(MorvaneError, r"Bad.xsd:3:\d+: error: "):
                Layout.from_schema(schema)
            with self.assertRaisesRegex(MorvaneError, "morvanec is not on the PATH"):
                with unittest.mock.patch.dict(os.environ, {"PATH": d, "MORVANEC": ""}):
                    Layout.from_schema(schema)


if __name__ == "__main__":
    unittest.main()
