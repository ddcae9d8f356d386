"""Records of Morvane's XML data and session files, as dicts.

A data file holds one record element, a session file a Root element with
any number of them:

    <?xml version="1.0"?>
    <Root>
       <Schema name="PosRec" id="7" number="1" offset="0" size="28">
          <Item name="count" type="int">5</Item>
          <Item name="flags" type="char" nrepetitions="4"/>
          <Item_enum name="mode" type="Mode">1</Item_enum>
          <Structure name="pos" offset="12" size="8" index="0"> ... </Structure>
          ...
       </Schema>
       ...
    </Root>

Each record comes out as the dict Layout.unpack gives for its bytes, with
two differences the file format makes: collapsed members are zero bytes
(their values are not in the file) and text members carry their text.
"""

from __future__ import annotations

import math
import os
import re
import struct
import xml.etree.ElementTree as ET
from typing import IO, Any, Callable, Iterator

from .errors import MorvaneError
from .layout import Layout, Member, Record

_CHAR = re.compile(r"\s*0x([0-9A-Fa-f]+)\s*\Z")
_NAN = re.compile(r"\s*([-+]?)s?nan(\(0x[0-9A-Fa-f]+\))?\s*\Z", re.IGNORECASE)

# Integer types: the range of the text Morvane writes, and the mask that
# gives the stored value (unsigned is written as its signed pattern).
_INTEGERS: dict[str, tuple[int, int, int]] = {
    "int": (-2**31, 2**31 - 1, 0),
    "int16": (-2**15, 2**15 - 1, 0),
    "int64": (-2**63, 2**63 - 1, 0),
    "unsigned": (-2**31, 2**32 - 1, 2**32 - 1),
    "unsigned16": (0, 2**16 - 1, 0),
    "unsigned64": (0, 2**64 - 1, 0),
}
_FLOAT32 = struct.Struct("<f")


class _BadValue(Exception):
    pass


def _integer(kind: str) -> Callable[[str], int]:
    low, high, mask = _INTEGERS[kind]

    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise _BadValue from None
        if not low <= value <= high:
            raise _BadValue
        return value & mask if mask else value
    return parse


def _floating(text: str) -> float:
    nan = _NAN.match(text)
    if nan:
        return -math.nan if nan.group(1) == "-" else math.nan
    try:
        return float(text)
    except ValueError:
        raise _BadValue from None


def _float32(text: str) -> float:
    try:
        return _FLOAT32.unpack(_FLOAT32.pack(_floating(text)))[0]
    except OverflowError:
        raise _BadValue from None


def _char(text: str) -> int:
    m = _CHAR.match(text)
    if not m or int(m.group(1), 16) > 255:
        raise _BadValue
    return int(m.group(1), 16)


def _bool(text: str) -> bool:
    return _integer("int")(text) != 0


_PARSERS: dict[str, Callable[[str], Any]] = {
    "char": _char, "float": _float32, "double": _floating, "bool": _bool,
    **{kind: _integer(kind) for kind in _INTEGERS},
}


class _Reader:
    def __init__(self, layout: Layout, source: str) -> None:
        self.layout = layout
        self.source = source
        self.names = {name: enum.value_names() for name, enum in layout.enums.items()}
        self.number = ""

    def fail(self, text: str) -> MorvaneError:
        record = f"record {self.number}" if self.number else "the record"
        return MorvaneError(f"{self.source}: {record} of {self.layout.name}: {text}")

    def record(self, element: ET.Element) -> Record:
        lay = self.layout
        self.number = element.get("number", "")
        if element.get("name") != lay.name or element.get("id") != str(lay.id):
            raise self.fail(f"the record element is of schema {element.get('name')} "
                            f"(id {element.get('id')})")
        return self.members(lay.members, list(element), lay.name)

    def members(self, members: tuple[Member, ...], children: list[ET.Element],
                where: str) -> Record:
        out: Record = {}
        at = 0
        for m in members:
            path = f"{where}.{m.name}"
            tag = {"struct": "Structure", "enum": "Item_enum"}.get(m.kind, "Item")
            count = 1 if m.collapsed else m.repetitions
            found = children[at:at + count]
            at += count
            if len(found) < count or any(c.tag != tag or c.get("name") != m.name for c in found):
                got = next((c for c in found if c.tag != tag or c.get("name") != m.name), None)
                what = "nothing" if got is None else f"<{got.tag} name=\"{got.get('name')}\">"
                raise self.fail(f"{path}: {count} <{tag} name=\"{m.name}\"> expected, "
                                f"found {what}")
            if m.collapsed:
                out[m.name] = "" if m.kind == "text" else bytes(m.size)
                continue
            values = [self.value(m, c, f"{path}[{k}]" if count != 1 else path)
                      for k, c in enumerate(found)]
            out[m.name] = values[0] if m.repetitions == 1 else values
        if at < len(children):
            extra = children[at]
            raise self.fail(f"{where}: <{extra.tag} name=\"{extra.get('name')}\"> is not a "
                            f"member here")
        return out

    def value(self, m: Member, element: ET.Element, path: str) -> Any:
        if m.kind == "struct":
            return self.members(m.members, list(element), path)
        text = (element.text or "").strip()
        if m.kind == "text":
            return element.text or ""
        if not text:  # an unfilled value reads as zero, as the server reads it
            text = "0x0" if m.type == "char" and m.kind == "item" else "0"
        try:
            if m.kind == "enum":
                value = _PARSERS["int"](text)
                return self.names[m.enum].get(value, value)  # type: ignore[index]
            return _PARSERS[m.type](text)
        except _BadValue:
            raise self.fail(f"{path}: {text!r} is not a value of type {m.type}") from None


def read_session(path: str | os.PathLike[str] | IO[bytes], layout: Layout) -> Iterator[Record]:
    """The records of a session or data file of layout's schema, one by one.

    The file is read as it is iterated: memory holds one record at a time.
    A record element of another schema, or one that does not match the
    layout, raises MorvaneError naming the record's number and the member.
    A session file left unfinished by a server that was killed gives its
    whole records, then MorvaneError (`morvanec recover` closes such files).
    """
    source = os.fspath(path) if isinstance(path, (str, os.PathLike)) else getattr(
        path, "name", "<stream>")
    reader = _Reader(layout, str(source))
    root: ET.Element | None = None
    depth = 0
    try:
        for event, element in ET.iterparse(path, events=("start", "end")):
            if event == "start":
                if root is None:
                    root = element
                    if element.tag not in ("Root", "Schema"):
                        raise MorvaneError(f"{source}: <{element.tag}> is neither a session "
                                           f"file's <Root> nor a record")
                depth += 1
                continue
            depth -= 1
            if element.tag == "Schema" and depth <= 1:
                yield reader.record(element)
                if root is not element:
                    root.clear()  # type: ignore[union-attr]
    except ET.ParseError as e:
        if root is not None and e.code == 3 and root.tag == "Root":  # no element found: cut
            raise MorvaneError(f"{source}: the file ends inside its records ({e}); "
                               f"`morvanec recover` closes it") from None
        raise MorvaneError(f"{source}: {e}") from None
