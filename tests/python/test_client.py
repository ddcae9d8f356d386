"""Client against the real Morvane: every failure kind, the barrier, and
the schema check."""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

from morvane import (Client, ConnectionLost, Layout, MorvaneError, NoData, SchemaMismatch,
                     ServerError, Timeout, read_session)
from support import BIN_DIR, EXAMPLES, SOURCE_DIR, MorvaneServer, fixed_layout

BROKEN_SCHEMA = '<?xml version="1.0"?>\n<Schema name="Broken" id="5">\n' \
                '   <Item name="a" type="int"/>\n</Schema>\n'
HUGE_SCHEMA = '<?xml version="1.0"?>\n<Schema name="Huge" id="21">\n' \
              '   <Item name="a" type="char" nrepetitions="100001"/>\n</Schema>\n'
POSREC = fixed_layout("posrec")


def posrec(n):
    return POSREC.pack({"count": n, "flags": bytes(4), "mode": "ON" if n % 2 else "OFF",
                        "pos": [{"x": 3 * n, "y": -n}, {"x": n * n, "y": 7}]})


def open_in(server, name):
    """A second client that has opened the session name."""
    other = Client(port=server.port)
    other.open_session(name)
    other.sync()
    return other


# The failures a request can meet, each produced by a real request, and what
# the client raises: (case, code, words of the server's text, the requests).
# A request that knows its own failure raises it; the others are reported
# by the sync() that follows.
FAILURES = [
    ("size of an unknown schema", 1, "Schema_id=99 is absent", lambda c, s: c.size(99)),
    ("read of an unknown schema", 1, "Schema_id=98 is absent", lambda c, s: c.read(98)),
    ("write of an unknown schema", 1, "Schema_id=97 is absent",
     lambda c, s: (c.open_session("u.xml"), c.write(97, posrec(1)))),
    ("read without a data file", 2, "PosRec", lambda c, s: c.read(7)),
    ("read of a data file that cannot be read", 3, "Broken_dataR.xml", lambda c, s: c.read(5)),
    ("session name refused", 4, "session file name refused",
     lambda c, s: c.open_session("../escape.xml")),
    ("session name open by another client", 5, "is open by another client",
     lambda c, s: (s.held.append(open_in(s, "held.xml")), c.open_session("held.xml"))),
    ("session file that cannot be created", 6, "cannot be created",
     lambda c, s: ((s.dir / "XML_Data" / "dir.xml").mkdir(), c.open_session("dir.xml"))),
    ("write with no session", 7, "no session file is open", lambda c, s: c.write(7, posrec(1))),
    ("read of a record beyond a frame", 3, "record size 100001 exceeds the record area",
     lambda c, s: c.read(21)),
    ("write shorter than the record", 8, "is too short for a record of 28 bytes",
     lambda c, s: (c.open_session("short.xml"), c.write(7, posrec(1)[:20]))),
    ("write longer than the record", 8, "length=41 is longer than a record of 28 bytes",
     lambda c, s: (c.open_session("long.xml"), c.write(7, posrec(1) + b"x"))),
    ("the first failure of several", 4, "it is empty",
     lambda c, s: (c.open_session(""), c.write(7, posrec(1)[:20]))),
    ("close with no session", 10, "no session file is open", lambda c, s: c.close_session()),
]


class FailureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = MorvaneServer("MaxClients=4\n", {"Broken.xsd": BROKEN_SCHEMA,
                                                      "Huge.xsd": HUGE_SCHEMA})
        (cls.server.dir / "XML_Data" / "Broken_dataR.xml").write_text("<Schema name=")
        cls.server.held = []
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        for c in cls.server.held:
            c.close()
        cls.server.close()

    def test_every_failure_code_from_a_real_request(self):
        for label, code, words, request in FAILURES:
            with self.subTest(label), Client(port=self.server.port) as c:
                with self.assertRaises(ServerError) as caught:
                    request(c, self.server)
                    c.sync()
                e = caught.exception
                self.assertEqual(e.code, code, e)
                self.assertIn(words, e.text)
                self.assertEqual(c.sync(), 0)  # reported once, then gone
                self.assertEqual(c.size(1), 82)  # the connection serves on

    def test_a_record_no_frame_can_carry_is_refused_here(self):
        with Client(port=self.server.port) as c:
            c.open_session("huge.xml")
            with self.assertRaisesRegex(ValueError, "a record of 100001 bytes does not fit"):
                c.write(21, bytes(100001))
            with self.assertRaisesRegex(ValueError, "name of 100004 bytes does not fit"):
                c.open_session("x" * 100004)
            with self.assertRaisesRegex(TypeError, "a record is bytes"):
                c.write(7, {"count": 1})
            self.assertEqual(c.sync(), 0)
            self.assertEqual(c.size(21), 100001)

    def test_no_data_carries_the_zero_record(self):
        with Client(port=self.server.port) as c:
            with self.assertRaises(NoData) as caught:
                c.read(7)
            self.assertEqual(caught.exception.record, bytes(28))
            self.assertEqual(c.read(1)[:4], b"\1\0\0\0")  # Telemetry has a data file

    def test_failures_of_unanswered_requests_wait_for_sync(self):
        with Client(port=self.server.port) as c:
            c.write(7, posrec(1))  # no session: failure 7, not yet known
            self.assertEqual(c.size(7), 28)  # its status answer holds the failure, kept
            with self.assertRaises(NoData):
                c.read(7)
            with self.assertRaises(ServerError) as caught:
                c.sync()
            self.assertEqual((caught.exception.code, caught.exception.more), (7, 0))

    def test_sync_reports_the_first_of_many(self):
        with Client(port=self.server.port) as c:
            for _ in range(20):
                c.close_session()
            c.write(96, posrec(1))
            with self.assertRaises(ServerError) as caught:
                c.sync()
            self.assertEqual((caught.exception.code, caught.exception.more), (10, 20))
            self.assertEqual(c.sync(), 0)


class WriterFailureTest(unittest.TestCase):
    def test_writer_failure_on_a_full_device(self):
        with MorvaneServer("LogFlag=0\n") as server:
            server.stop()
            server.start(file_size_limit=8000)
            with Client(port=server.port) as c:
                c.open_session("full.xml")
                for n in range(100):
                    c.write(7, posrec(n))
                with self.assertRaises(ServerError) as caught:
                    c.sync()
                self.assertEqual(caught.exception.code, 9)
                self.assertGreater(caught.exception.more, 0)


class BarrierTest(unittest.TestCase):
    def test_thousand_writes_are_in_the_file_at_sync(self):
        with MorvaneServer("LogFlag=0\n") as server, Client(port=server.port) as c:
            c.open_session("run.xml")
            for n in range(1, 1001):
                c.write(7, posrec(n))
            self.assertEqual(c.sync(), 1000)
            # The session is still open: every record is in the file, whole.
            records = []
            with self.assertRaisesRegex(MorvaneError, "ends inside its records"):
                for r in read_session(server.dir / "XML_Data" / "run.xml", POSREC):
                    records.append(r)
            self.assertEqual(records, [POSREC.unpack(posrec(n)) for n in range(1, 1001)])
            c.close_session()
            self.assertEqual(c.sync(), 0)
            self.assertEqual(sum(1 for _ in read_session(server.dir / "XML_Data" / "run.xml",
                                                         POSREC)), 1000)


class ServerRecordsTest(unittest.TestCase):
    def test_records_through_the_server_come_back_as_they_were_packed(self):
        telemetry = fixed_layout("telemetry")
        with MorvaneServer("LogFlag=0\n") as server, Client(port=server.port) as c:
            served = telemetry.unpack(c.read(1))
            from_file = next(read_session(server.dir / "XML_Data" / "Telemetry_dataR.xml",
                                          telemetry))
            self.assertEqual(from_file["note"], "first light")  # text has no bytes
            self.assertEqual(served, dict(from_file, note=""))
            extremes = dict(served, frame=2**32 - 1, tag=0xFF, level=-2**31, delta=32767,
                            stamp=-2**63, total=2**64 - 1, ratio=1e-10, valid=False,
                            status=5, history=["FAULT", -1], code=[0, 1, 0x7F])
            extremes["samples"] = [{"channel": -1, "value": 0.1, "quality": 65535},
                                   {"channel": 0, "value": -0.0, "quality": 0},
                                   {"channel": 7, "value": 3.4e38, "quality": 1}]
            records = [telemetry.pack(served), telemetry.pack(extremes)]
            c.open_session("extremes.xml")
            for r in records:
                c.write(1, r)
            c.close_session()
            self.assertEqual(c.sync(), 2)
            back = list(read_session(server.dir / "XML_Data" / "extremes.xml", telemetry))
            self.assertEqual([telemetry.pack(r) for r in back], records)


class ConnectionTest(unittest.TestCase):
    def test_no_server(self):
        with MorvaneServer() as server:
            port = server.port
        with self.assertRaisesRegex(ConnectionLost, f"cannot connect to 127.0.0.1:{port}"):
            Client(port=port)

    def test_a_server_that_does_not_answer_the_status_request(self):
        with socket.socket() as listener:
            listener.bind(("127.0.0.1", 0))
            listener.listen()
            accepted = []
            threading.Thread(target=lambda: accepted.append(listener.accept()), daemon=True).start()
            with self.assertRaisesRegex(MorvaneError, "did not answer the status request"):
                Client(port=listener.getsockname()[1], timeout=0.3)
            for s, _ in accepted:
                s.close()

    def test_timeout_then_connection_lost(self):
        with MorvaneServer() as server:
            c = Client(port=server.port, timeout=0.3)
            server.signal(signal.SIGSTOP)
            try:
                with self.assertRaises(Timeout):
                    c.size(1)
                with self.assertRaisesRegex(ConnectionLost, "no answer .* within 0.3 s"):
                    c.size(1)
            finally:
                server.signal(signal.SIGCONT)
                c.close()

    def test_server_gone(self):
        with MorvaneServer() as server:
            c = Client(port=server.port)
            server.signal(signal.SIGKILL)
            server.process.wait()
            with self.assertRaises(ConnectionLost):
                c.size(1)
                c.sync()
            with self.assertRaises(ConnectionLost):
                c.sync()
            c.close()
            c.close()


# Edits of PosRec that the server's layout must be told apart from: a
# different size, and the same size with other bytes meant.
POSREC_EDITS = [
    ("longer flags", ('name="flags" type="char" nrepetitions="4"',
                      'name="flags" type="char" nrepetitions="8"')),
    ("count unsigned", ('name="count" type="int"', 'name="count" type="unsigned"')),
    ("flags visible", ('nrepetitions="4" visibility="0"', 'nrepetitions="4"')),
    ("an enumeration value", ('<Item name="ON" id="1"/>', '<Item name="ON" id="2"/>')),
]


class SchemaCheckTest(unittest.TestCase):
    def test_check_schema(self):
        schemas = EXAMPLES / "Schemas"
        with MorvaneServer() as server, Client(port=server.port) as c:
            for name in ("PosRec", "Telemetry"):
                layout = Layout.from_schema(schemas / f"{name}.xsd")
                c.check_schema(layout.id, layout)
            text = (schemas / "PosRec.xsd").read_text()
            for label, (old, new) in POSREC_EDITS:
                with self.subTest(label), tempfile.TemporaryDirectory() as d:
                    self.assertIn(old, text)
                    (Path(d) / "PosRec.xsd").write_text(text.replace(old, new))
                    edited = Layout.from_schema(Path(d) / "PosRec.xsd")
                    with self.assertRaisesRegex(SchemaMismatch, "schema 7 \\(PosRec\\) on the "
                                                "server: 28 bytes, fingerprint 0x"):
                        c.check_schema(7, edited)
            with self.assertRaises(ServerError) as unknown:
                c.check_schema(99, POSREC)
            self.assertEqual(unknown.exception.code, 1)
            self.assertEqual(c.sync(), 0)  # the checks left nothing to report

    def test_the_session_of_the_documentation(self):
        doc = (SOURCE_DIR / "docs" / "python.md").read_text()
        code = doc.split("```python\n", 1)[1].split("```", 1)[0]
        self.assertLess(len(code.splitlines()), 20)
        with MorvaneServer() as server:
            script = code.replace("25000", str(server.port))
            done = subprocess.run([sys.executable, "-c", script], cwd=server.dir, text=True,
                                  capture_output=True, timeout=60,
                                  env=dict(os.environ, MORVANEC=str(BIN_DIR / "morvanec")))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stdout.splitlines(), ["3 records written", "0 RUNNING 20.5",
                                                        "1 RUNNING 20.5", "2 RUNNING 20.5"])

if __name__ == "__main__":
    unittest.main()
