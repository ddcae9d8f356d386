"""read_session: the records of session and data files as dicts."""

import io
import math
import tracemalloc
import unittest

from morvane import Layout, MorvaneError, read_session
from support import EXAMPLES, fixed_layout, layout_json, member

TELEMETRY_RECORD = """\
   <Schema name="Telemetry" id="1" number="{number}" offset="0" size="82">
      <Item name="frame" type="unsigned">{frame}</Item>
      <Item name="tag" type="char">0x41</Item>
      <Item name="level" type="int">-42</Item>
      <Item name="delta" type="int16">-7</Item>
      <Item name="stamp" type="int64">1234567890123</Item>
      <Item name="total" type="unsigned64">18446744073709551615</Item>
      <Item name="ratio" type="double">3.141593</Item>
      <Item name="valid" type="bool">1</Item>
      <Item name="note" type="text"></Item>
      <Item_enum name="status" type="Status">1</Item_enum>
      <Item_enum name="history" type="Status" index="0">0</Item_enum>
      <Item_enum name="history" type="Status" index="1">7</Item_enum>
      <Item name="spare" type="char" nrepetitions="4"/>
      <Item name="code" type="char" index="0">0x4D</Item>
      <Item name="code" type="char" index="1">0x56</Item>
      <Item name="code" type="char" index="2">0x4E</Item>
      <Structure name="samples" offset="58" size="8" index="0">
         <Item name="channel" type="int16">1</Item>
         <Item name="value" type="float">20.500000</Item>
         <Item name="quality" type="unsigned16">100</Item>
      </Structure>
      <Structure name="samples" offset="66" size="8" index="1">
         <Item name="channel" type="int16">2</Item>
         <Item name="value" type="float">-3.250000</Item>
         <Item name="quality" type="unsigned16">65535</Item>
      </Structure>
      <Structure name="samples" offset="74" size="8" index="2">
         <Item name="channel" type="int16">3</Item>
         <Item name="value" type="float">0.125000</Item>
         <Item name="quality" type="unsigned16">0</Item>
      </Structure>
   </Schema>
"""

TELEMETRY_VALUES = {
    "tag": 0x41, "level": -42, "delta": -7, "stamp": 1234567890123,
    "total": 2**64 - 1, "ratio": 3.141593, "valid": True, "note": "", "status": "RUNNING",
    "history": ["IDLE", "FAULT"], "spare": bytes(4), "code": [0x4D, 0x56, 0x4E],
    "samples": [{"channel": 1, "value": 20.5, "quality": 100},
                {"channel": 2, "value": -3.25, "quality": 65535},
                {"channel": 3, "value": 0.125, "quality": 0}]}


def session(records, closed=True):
    text = '<?xml version="1.0"?>\n<Root>\n' + "".join(records)
    return (text + "</Root>\n" if closed else text).encode()


def telemetry(number, frame=1):
    return TELEMETRY_RECORD.format(number=number, frame=frame)


class ReadSessionTest(unittest.TestCase):
    def setUp(self):
        self.layout = fixed_layout("telemetry")

    def test_session_records_in_order(self):
        text = session([telemetry(n, frame=n) for n in (4, 5, 6)])
        records = list(read_session(io.BytesIO(text), self.layout))
        self.assertEqual(records, [dict(TELEMETRY_VALUES, frame=n) for n in (4, 5, 6)])
        # The dicts are those unpack gives for the record's bytes.
        self.assertEqual(self.layout.unpack(self.layout.pack(records[0])), records[0])

    def test_data_file_of_the_examples(self):
        records = list(read_session(EXAMPLES / "XML_Data" / "Telemetry_dataR.xml", self.layout))
        self.assertEqual(len(records), 1)
        self.assertEqual(records[0]["frame"], 1)
        self.assertEqual(records[0]["samples"][1]["quality"], 65535)

    def test_value_texts(self):
        layout = Layout.from_json(layout_json([
            member("u", "unsigned"), member("f", "float"), member("d", "double", 4),
            member("b", "bool", 2), member("e", "enum:E"), member("c", "char"),
            member("t", "text"), member("s", "int64")], {"E": [("A", 1)]}, name="V", id=3))
        text = session(['<Schema name="V" id="3" number="1" offset="0" size="59">'
                        '<Item name="u" type="unsigned">-1</Item>'
                        '<Item name="f" type="float">0.1</Item>'
                        '<Item name="d" type="double" index="0">inf</Item>'
                        '<Item name="d" type="double" index="1">-nan</Item>'
                        '<Item name="d" type="double" index="2">1e-10</Item>'
                        '<Item name="d" type="double" index="3">nan(0x8)</Item>'
                        '<Item name="b" type="bool" index="0">255</Item>'
                        '<Item name="b" type="bool" index="1">0</Item>'
                        '<Item_enum name="e" type="E">-5</Item_enum>'
                        '<Item name="c" type="char">0xff</Item>'
                        '<Item name="t" type="text">free text</Item>'
                        '<Item name="s" type="int64">-9223372036854775808</Item>'
                        '</Schema>'])
        [r] = read_session(io.BytesIO(text), layout)
        self.assertEqual(r["u"], 2**32 - 1)
        self.assertEqual(r["f"], layout.unpack(layout.pack(dict(r, f=0.1)))["f"])  # a float's 0.1
        self.assertNotEqual(r["f"], 0.1)
        self.assertEqual(r["d"][0], math.inf)
        self.assertTrue(math.isnan(r["d"][1]) and math.copysign(1, r["d"][1]) < 0)
        self.assertEqual(r["d"][2], 1e-10)
        self.assertTrue(math.isnan(r["d"][3]))
        self.assertEqual((r["b"], r["e"], r["c"], r["t"], r["s"]),
                         ([True, False], -5, 255, "free text", -2**63))

    def test_unfilled_values_read_as_zero(self):
        text = TELEMETRY_RECORD.format(number=1, frame="")
        text = text.replace(">0x41<", "><").replace(">-42<", "><")
        [r] = read_session(io.BytesIO(session([text])), self.layout)
        self.assertEqual((r["frame"], r["tag"], r["level"]), (0, 0, 0))

    def test_records_stream(self):
        # The first record comes before the file has been read to its end.
        class Source(io.RawIOBase):
            def __init__(self):
                self.sent = 0
                self.chunks = iter([b'<?xml version="1.0"?>\n<Root>\n'] +
                                   [telemetry(n).encode() for n in range(1, 2001)] + [b"</Root>\n"])

            def readable(self):
                return True

            def readinto(self, buffer):
                chunk = next(self.chunks, b"")
                buffer[:len(chunk)] = chunk
                self.sent += 1
                return len(chunk)

        source = Source()
        records = read_session(source, self.layout)
        next(records)
        self.assertLess(source.sent, 100)
        # Records read are let go: memory stays at a few records (one
        # record's elements take some 20 kB).
        tracemalloc.start()
        try:
            self.assertEqual(sum(1 for _ in records), 1999)
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        self.assertLess(peak, 2_000_000)


# Files read_session refuses, after the records it could give, and the words
# of its error.
FILE_ERRORS = [
    ("record of another schema",
     session([telemetry(1), telemetry(2).replace('name="Telemetry" id="1"', 'name="PosRec" id="7"')]),
     1, "record 2 of Telemetry: the record element is of schema PosRec (id 7)"),
    ("member missing", session([telemetry(3).replace(
        '      <Item name="delta" type="int16">-7</Item>\n', "")]),
     0, 'record 3 of Telemetry: Telemetry.delta: 1 <Item name="delta"> expected, found '
        '<Item name="stamp">'),
    ("repetition missing", session([telemetry(1).replace(
        '      <Item name="code" type="char" index="2">0x4E</Item>\n', "")]),
     0, 'Telemetry.code: 3 <Item name="code"> expected, found <Structure name="samples">'),
    ("member too many", session([telemetry(1).replace(
        "   </Schema>", '      <Item name="extra" type="int">1</Item>\n   </Schema>')]),
     0, 'Telemetry: <Item name="extra"> is not a member here'),
    ("value of no type", session([telemetry(1).replace(">-42<", ">4x<")]),
     0, "Telemetry.level: '4x' is not a value of type int"),
    ("value out of range", session([telemetry(1).replace(">-7<", ">40000<")]),
     0, "Telemetry.delta: '40000' is not a value of type int16"),
    ("char without 0x", session([telemetry(1).replace(">0x41<", ">65<")]),
     0, "Telemetry.tag: '65' is not a value of type char"),
    ("value in a structure", session([telemetry(1).replace(">20.500000<", ">warm<")]),
     0, "Telemetry.samples[0].value: 'warm' is not a value of type float"),
    ("session left open", session([telemetry(1), telemetry(2)], closed=False),
     2, "the file ends inside its records"),
    ("record cut", session([telemetry(1), telemetry(2)[:300]], closed=False),
     1, "the file ends inside its records"),
    ("not XML", b"<Root><Schema", 0, "<stream>:"),
    ("another document", b"<Other/>", 0, "<Other> is neither a session file's <Root> nor a record"),
]


class ReadSessionErrorTest(unittest.TestCase):
    def test_refusals_after_the_whole_records(self):
        layout = fixed_layout("telemetry")
        for label, text, good, words in FILE_ERRORS:
            with self.subTest(label):
                records = []
                with self.assertRaises(MorvaneError) as caught:
                    for r in read_session(io.BytesIO(text), layout):
                        records.append(r)
                self.assertEqual(len(records), good)
                self.assertIn(words, str(caught.exception))


if __name__ == "__main__":
    unittest.main()
