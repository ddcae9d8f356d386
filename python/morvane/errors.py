"""The one hierarchy of exceptions the package raises for server trouble."""

from __future__ import annotations


class MorvaneError(Exception):
    """Anything that went wrong talking to Morvane or reading its files."""


class Timeout(MorvaneError):
    """The server did not answer within the client's timeout.

    The connection is unusable afterwards: every later call raises
    ConnectionLost until the client is closed.
    """


class ConnectionLost(MorvaneError):
    """The connection could not be made, or broke, or broke earlier."""


class ServerError(MorvaneError):
    """A request failed on the server.

    code is the server's failure code (1 unknown schema id, 2 no data file,
    3 data file unreadable, 4 session name refused, 5 session name open by
    another client, 6 session file not created, 7 write with no session,
    8 write length does not match the schema, 9 writer failure, 10 close
    with no session); text is the server's own text; schema_id the schema
    the request named (0 when none); more the number of failures the server
    reported after this one in the same period.
    """

    def __init__(self, code: int, text: str, schema_id: int = 0, more: int = 0) -> None:
        message = f"server failure {code}: {text}"
        if more:
            message += f" (and {more} more)"
        super().__init__(message)
        self.code = code
        self.text = text
        self.schema_id = schema_id
        self.more = more


class NoData(ServerError):
    """A read found no data file; record holds the zero record sent instead."""

    def __init__(self, code: int, text: str, schema_id: int, record: bytes, more: int = 0) -> None:
        super().__init__(code, text, schema_id, more)
        self.record = record


class SchemaMismatch(MorvaneError):
    """The server's layout of a schema is not the program's."""
