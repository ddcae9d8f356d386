"""A client of the Morvane record server, and its records as dicts.

    from morvane import Client, Layout
    layout = Layout.from_schema("Schemas/PosRec.xsd")
    with Client(port=25000) as c:
        c.check_schema(layout.id, layout)
        c.open_session("run.xml")
        c.write(layout.id, layout.pack(record))
        c.sync()
"""

from .client import Client
from .errors import ConnectionLost, MorvaneError, NoData, SchemaMismatch, ServerError, Timeout
from .layout import Enum, Layout, Member, Record
from .session import read_session

__all__ = [
    "Client", "ConnectionLost", "Enum", "Layout", "Member", "MorvaneError", "NoData", "Record",
    "SchemaMismatch", "ServerError", "Timeout", "read_session",
]
