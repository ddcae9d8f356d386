"""A blocking client of the Morvane server.

Every frame is an 8-byte header and a body, integers 32-bit little-endian,
length counting the whole frame:

     0         4         8                           length
     +---------+---------+-----------------------------+
     |   id    | length  | body                        |
     +---------+---------+-----------------------------+

The status request (id 7, length 8, or 12 with a schema id) is answered
(id 8) after everything the connection sent before it, so it is also a
barrier. Its answer body:

     8  records written since the previous status request
    12  failures since then (N)     16  failures listed (k = min(N, 16))
    20  schema part: 0 none asked, 1 loaded, 2 not loaded
    24  schema id asked             28  record size
    32  layout fingerprint (uint64)
    40  name length L, L bytes of the schema's name
        then k times: code, schema id, text length T, T bytes of text

Size and read requests go out with a status request right behind them, so
an unknown schema is known at once; what those answers report about
earlier requests is kept for the next sync().
"""

from __future__ import annotations

import socket
import struct
import time
from dataclasses import dataclass
from types import TracebackType
from typing import TYPE_CHECKING

from .errors import ConnectionLost, MorvaneError, NoData, SchemaMismatch, ServerError, Timeout

if TYPE_CHECKING:
    from .layout import Layout

MSG_COMM_SIZE = 0
MSG_COMM_ANSWER_SIZE = 1
MSG_COMM_READ_XML = 2
MSG_COMM_ANSWER_READ_XML = 3
MSG_COMM_OPEN_SESSION = 4
MSG_COMM_CLOSE_SESSION = 5
MSG_COMM_WRITE_XML = 6
MSG_COMM_STATUS = 7
MSG_COMM_ANSWER_STATUS = 8

FRAME_BUFFER_SIZE = 100012  # the longest frame: a read answer
RECORD_AREA_SIZE = 100000

UNKNOWN_SCHEMA = 1
NO_DATA_FILE = 2

_HEADER = struct.Struct("<ii")
_INT = struct.Struct("<i")
_SIZE_ANSWER = struct.Struct("<ii")
_STATUS_HEAD = struct.Struct("<iiiiiiQi")
_FAILURE_HEAD = struct.Struct("<iii")
_STATUS = _HEADER.pack(MSG_COMM_STATUS, 8)


@dataclass(frozen=True)
class Failure:
    code: int
    schema_id: int
    text: str


@dataclass
class _Status:
    records: int
    failures: list[Failure]
    unlisted: int  # failures the answer counted but did not list
    part: int
    schema_id: int
    size: int
    fingerprint: int
    name: str


class Client:
    """One connection to Morvane; use it from one thread at a time.

    Connecting asks the server for its status once: a server that does not
    answer it raises MorvaneError. After a timeout or a broken connection
    every call raises ConnectionLost until the client is closed.
    """

    def __init__(self, host: str = "127.0.0.1", port: int = 25000, timeout: float = 5.0) -> None:
        self.host = host
        self.port = port
        self.timeout = timeout
        self._sizes: dict[int, int] = {}
        self._records = 0
        self._failures: list[Failure] = []
        self._unlisted = 0
        self._broken: str | None = None
        try:
            self._sock: socket.socket | None = socket.create_connection((host, port), timeout)
        except socket.timeout:
            raise Timeout(f"no connection to {host}:{port} within {timeout} s") from None
        except OSError as e:
            raise ConnectionLost(f"cannot connect to {host}:{port}: {e.strerror or e}") from None
        self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            self._send(_STATUS)
            self._keep(self._status())
        except Timeout:
            self.close()
            raise MorvaneError(f"the server at {host}:{port} did not answer the status request "
                               f"within {timeout} s") from None
        except MorvaneError:
            self.close()
            raise

    def __enter__(self) -> Client:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    def close(self) -> None:
        """Closes the connection; later calls raise ConnectionLost."""
        if self._sock is not None:
            self._sock.close()
            self._sock = None
        self._broken = self._broken or "the client is closed"

    # -- requests ------------------------------------------------------------

    def size(self, schema_id: int) -> int:
        """The record size of a schema; ServerError at once for an unknown id."""
        self._send(_frame(MSG_COMM_SIZE, _INT.pack(schema_id)) + _STATUS)
        size = self._size_answer(schema_id)
        own = self._take_own(self._status(), schema_id, size is None)
        if size is None:
            raise ServerError(own.code, own.text, schema_id)  # type: ignore[union-attr]
        return size

    def read(self, schema_id: int) -> bytes:
        """The record the server reads from the schema's data file.

        Raises ServerError for an unknown schema or a data file that could
        not be read, NoData (carrying the zero record) when there is none.
        """
        if schema_id not in self._sizes:
            self.size(schema_id)
        self._send(_frame(MSG_COMM_READ_XML, _INT.pack(schema_id)) + _STATUS)
        record = self._read_answer(schema_id)
        own = self._take_own(self._status(), schema_id, record is None)
        if record is None:
            raise ServerError(own.code, own.text, schema_id)  # type: ignore[union-attr]
        if own is not None:
            raise NoData(own.code, own.text, schema_id, record)
        return record

    def open_session(self, name: str) -> None:
        """Opens the session file name in the server's data directory.

        A refusal is reported by the next sync().
        """
        data = name.encode()
        if b"\0" in data:
            raise ValueError("a session file name holds no zero byte")
        if len(data) + 9 > FRAME_BUFFER_SIZE:
            raise ValueError(f"a session file name of {len(data)} bytes does not fit a frame")
        self._send(_frame(MSG_COMM_OPEN_SESSION, data + b"\0"))

    def write(self, schema_id: int, record: bytes) -> None:
        """Sends one record for the open session; sync() says what became of it."""
        if not isinstance(record, (bytes, bytearray, memoryview)):
            raise TypeError(f"a record is bytes (layout.pack gives them), not "
                            f"{type(record).__name__}")
        if len(record) > RECORD_AREA_SIZE:
            # The server would take the frame for a broken one and drop the
            # connection.
            raise ValueError(f"a record of {len(record)} bytes does not fit a frame "
                             f"(at most {RECORD_AREA_SIZE})")
        self._send(_frame(MSG_COMM_WRITE_XML, _INT.pack(schema_id) + bytes(record)))

    def close_session(self) -> None:
        """Finishes the session file; a close with no session shows at sync()."""
        self._send(_HEADER.pack(MSG_COMM_CLOSE_SESSION, 8))

    def sync(self) -> int:
        """Waits until the server has handled everything sent so far.

        Returns the records written since the last sync; raises ServerError
        for the first failure reported since then (its `more` counts the
        others, which are dropped with it).
        """
        self._send(_STATUS)
        self._keep(self._status())
        records, failures, unlisted = self._records, self._failures, self._unlisted
        self._records, self._failures, self._unlisted = 0, [], 0
        if failures:
            first = failures[0]
            raise ServerError(first.code, first.text, first.schema_id,
                              len(failures) - 1 + unlisted)
        if unlisted:
            raise ServerError(0, f"{unlisted} failures the server did not list", 0, unlisted - 1)
        return records

    def check_schema(self, schema_id: int, layout: Layout) -> None:
        """Raises SchemaMismatch unless the server's layout of schema_id is layout.

        An id the server has not loaded raises ServerError (unknown schema).
        """
        self._send(_frame(MSG_COMM_STATUS, _INT.pack(schema_id)))
        status = self._status()
        self._keep(status)
        if status.part != 1:
            raise ServerError(UNKNOWN_SCHEMA, f"schema id {schema_id} is not loaded", schema_id)
        if status.size != layout.size or status.fingerprint != layout.fingerprint:
            raise SchemaMismatch(
                f"schema {schema_id} ({status.name}) on the server: {status.size} bytes, "
                f"fingerprint 0x{status.fingerprint:016x}; {layout.name} here: {layout.size} "
                f"bytes, fingerprint 0x{layout.fingerprint:016x}")
        self._sizes[schema_id] = status.size

    # -- answers -----------------------------------------------------------

    def _size_answer(self, schema_id: int) -> int | None:
        """The size answer before the status answer, or None when none came."""
        ident, body = self._peek_frame()
        if ident != MSG_COMM_ANSWER_SIZE:
            return None
        self._take_frame()
        if len(body) < 8:
            raise self._break(f"a size answer of {len(body) + 8} bytes")
        answered, size = _SIZE_ANSWER.unpack_from(body)
        if answered != schema_id or size < 0:
            raise self._break(f"a size answer for schema {answered} of {size} bytes")
        self._sizes[schema_id] = size
        return size

    def _read_answer(self, schema_id: int) -> bytes | None:
        ident, body = self._peek_frame()
        if ident != MSG_COMM_ANSWER_READ_XML:
            return None
        self._take_frame()
        size = self._sizes[schema_id]
        if len(body) < 4 + size or _INT.unpack_from(body)[0] != schema_id:
            raise self._break(f"a read answer of {len(body) + 8} bytes")
        return bytes(body[4:4 + size])

    def _status(self) -> _Status:
        """Reads frames up to the status answer; answers before it break the client."""
        ident, body = self._peek_frame()
        self._take_frame()
        if ident != MSG_COMM_ANSWER_STATUS:
            raise self._break(f"a frame of id {ident} where the status answer was due")
        try:
            records, count, listed, part, schema_id, size, fingerprint, name_length = \
                _STATUS_HEAD.unpack_from(body)
            at = _STATUS_HEAD.size
            name = bytes(body[at:at + name_length]).decode(errors="replace")
            at += name_length
            failures = []
            for _ in range(listed):
                code, failed_id, text_length = _FAILURE_HEAD.unpack_from(body, at)
                at += _FAILURE_HEAD.size
                text = bytes(body[at:at + text_length]).decode(errors="replace")
                if text_length < 0 or at + text_length > len(body):
                    raise struct.error("a failure text beyond the frame")
                at += text_length
                failures.append(Failure(code, failed_id, text))
        except struct.error:
            raise self._break(f"a status answer of {len(body) + 8} bytes that does not "
                              f"hold its fields") from None
        return _Status(records, failures, max(count - listed, 0), part, schema_id, size,
                       fingerprint, name)

    def _take_own(self, status: _Status, schema_id: int, unanswered: bool) -> Failure | None:
        """Keeps status for sync() but for the failure of the request just made.

        The request went out right before the status request, so its
        failure, if any, is the last one reported. unanswered: the request
        got no answer, so it failed; an answered read may still have found
        no data file.
        """
        own = None
        last = status.failures[-1] if status.failures and not status.unlisted else None
        if last is not None and last.schema_id == schema_id and (
                (last.code != NO_DATA_FILE) == unanswered):
            own = status.failures.pop()
        elif unanswered:
            if status.unlisted:
                status.unlisted -= 1
            own = Failure(UNKNOWN_SCHEMA, schema_id, f"Schema_id={schema_id} is absent")
        self._keep(status)
        return own

    def _keep(self, status: _Status) -> None:
        self._records += status.records
        self._failures.extend(status.failures)
        self._unlisted += status.unlisted

    # -- frames ------------------------------------------------------------

    _frame_ahead: tuple[int, memoryview] | None = None

    def _peek_frame(self) -> tuple[int, memoryview]:
        if self._frame_ahead is None:
            self._frame_ahead = self._receive_frame()
        return self._frame_ahead

    def _take_frame(self) -> None:
        self._frame_ahead = None

    def _receive_frame(self) -> tuple[int, memoryview]:
        header = self._receive(8)
        ident, length = _HEADER.unpack(header)
        if not 8 <= length <= FRAME_BUFFER_SIZE:
            raise self._break(f"a frame of id {ident} with the length {length}")
        return ident, memoryview(self._receive(length - 8))

    def _receive(self, n: int) -> bytearray:
        sock = self._live()
        data = bytearray(n)
        view = memoryview(data)
        got = 0
        deadline = time.monotonic() + self.timeout
        try:
            while got < n:
                sock.settimeout(max(deadline - time.monotonic(), 0.001))
                count = sock.recv_into(view[got:])
                if count == 0:
                    raise self._break("the server closed the connection")
                got += count
        except socket.timeout:
            self._broken = f"no answer from {self.host}:{self.port} within {self.timeout} s"
            raise Timeout(self._broken) from None
        except OSError as e:
            raise self._break(f"receiving failed: {e.strerror or e}") from None
        return data

    def _send(self, data: bytes) -> None:
        sock = self._live()
        try:
            sock.settimeout(self.timeout)
            sock.sendall(data)
        except socket.timeout:
            self._broken = f"{self.host}:{self.port} took nothing for {self.timeout} s"
            raise Timeout(self._broken) from None
        except OSError as e:
            raise self._break(f"sending failed: {e.strerror or e}") from None

    def _live(self) -> socket.socket:
        if self._broken is not None or self._sock is None:
            raise ConnectionLost(self._broken or "the client is closed")
        return self._sock

    def _break(self, why: str) -> ConnectionLost:
        self._broken = f"{self.host}:{self.port}: {why}"
        return ConnectionLost(self._broken)


def _frame(ident: int, body: bytes) -> bytes:
    return _HEADER.pack(ident, 8 + len(body)) + body
