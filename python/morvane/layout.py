"""The packed layout of one schema, and records as dicts.

A record is its members laid end to end, without alignment or padding, in
the schema's byte order (little-endian): for PosRec (28 bytes)

    offset  0       4               8       12              20            28
           +-------+---+---+---+---+-------+---------------+---------------+
           | count |flags (char x4)| mode  | pos[0] {x, y} | pos[1] {x, y} |
           +-------+---+---+---+---+-------+---------------+---------------+

and as a dict

    {"count": 5, "flags": b"\\0\\0\\0\\0", "mode": "ON",
     "pos": [{"x": 1, "y": 2}, {"x": 3, "y": 4}]}

Member structures are dicts, repeated members lists (a repetition count of
1 is a single value), enumerated members the name of the first item with
the value (an int when no item has it), collapsed members (visibility 0,
repeated) their raw bytes, chars ints 0 to 255, bools True or False from
their first byte, text members "" (they have no bytes).

A Layout compiles, once, one struct.Struct for the whole record and a
Python function for each direction that builds or reads the dicts from
that Struct's flat tuple of values.
"""

from __future__ import annotations

import json
import os
import shutil
import struct
import subprocess
from dataclasses import dataclass
from typing import Any, Callable, Iterator, Mapping

from .errors import MorvaneError

Record = dict[str, Any]

# The type codes of a record's bytes: struct format and size of one value.
_CODES: dict[str, tuple[str, int]] = {
    "char": ("B", 1),
    "int": ("i", 4),
    "int16": ("h", 2),
    "int64": ("q", 8),
    "unsigned": ("I", 4),
    "unsigned16": ("H", 2),
    "unsigned64": ("Q", 8),
    "float": ("f", 4),
    "double": ("d", 8),
    "bool": ("?3x", 4),
}
_ENUM_CODE = ("i", 4)
_KINDS = ("item", "enum", "struct", "text")

# Repeated structures up to this count are written out element by element
# in the compiled functions; longer ones become a comprehension, so that a
# large count does not give a function of that many expressions.
_UNROLL = 4
# Plain values in a row from which unpack builds its dict through zip.
_ZIP_RUN = 8


@dataclass(frozen=True)
class Member:
    """One member of a structure; offsets are relative to the structure."""

    name: str
    kind: str  # "item", "enum", "struct" or "text"
    type: str  # the schema type name; "structure" for a structure
    offset: int
    size: int  # all repetitions
    repetitions: int
    element_size: int
    visible: bool
    enum: str | None = None
    template: str | None = None
    members: tuple[Member, ...] = ()

    @property
    def collapsed(self) -> bool:
        """Kept as raw bytes: a repeated item or enum of visibility 0."""
        return self.kind in ("item", "enum", "text") and not self.visible and self.repetitions != 1


@dataclass(frozen=True)
class Enum:
    name: str
    items: tuple[tuple[str, int], ...]

    def value_names(self) -> dict[int, str]:
        """Value -> name of the first item with that value."""
        names: dict[int, str] = {}
        for name, value in self.items:
            names.setdefault(value, name)
        return names


def _need(obj: Mapping[str, Any], key: str, kind: type | tuple[type, ...], where: str) -> Any:
    if not isinstance(obj, Mapping) or key not in obj:
        raise ValueError(f"layout JSON: {where} has no \"{key}\"")
    value = obj[key]
    if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
        raise ValueError(f"layout JSON: \"{key}\" of {where} is {value!r}")
    return value


def _member_from_json(obj: Any, where: str) -> Member:
    name = _need(obj, "name", str, where)
    path = f"{where}.{name}" if where else name
    kind = _need(obj, "kind", str, path)
    if kind not in _KINDS:
        raise ValueError(f"layout JSON: {path} has the unknown kind {kind!r}")
    children: tuple[Member, ...] = ()
    if kind == "struct":
        children = tuple(_member_from_json(m, path) for m in _need(obj, "members", list, path))
    repetitions = _need(obj, "repetitions", int, path)
    element_size = _need(obj, "element_size", int, path)
    if repetitions < 0 or element_size < 0:
        raise ValueError(f"layout JSON: {path} has a negative size or count")
    return Member(
        name=name,
        kind=kind,
        type=obj.get("type", "structure") if kind == "struct" else _need(obj, "type", str, path),
        offset=_need(obj, "offset", int, path),
        size=_need(obj, "size", int, path),
        repetitions=repetitions,
        element_size=element_size,
        visible=bool(obj.get("visible", True)),
        enum=_need(obj, "enum", str, path) if kind == "enum" else None,
        template=obj.get("template") if kind == "struct" else None,
        members=children,
    )


class Layout:
    """The layout of one schema: pack and unpack its records.

    pack(record) -> bytes and unpack(data) -> dict are compiled for this
    layout when it is made; unpack_from(buffer, offset) reads a record
    inside a larger buffer. pack raises ValueError or TypeError naming the
    member at fault; a dict's keys beyond the members are ignored, and text
    members may be left out.
    """

    name: str
    id: int
    size: int
    fingerprint: int
    byte_order: str
    members: tuple[Member, ...]
    enums: dict[str, Enum]
    struct: struct.Struct
    pack: Callable[[Mapping[str, Any]], bytes]
    unpack: Callable[[bytes], Record]
    unpack_from: Callable[..., Record]

    def __init__(self, name: str, id: int, size: int, fingerprint: int,
                 members: tuple[Member, ...], enums: dict[str, Enum],
                 byte_order: str = "little") -> None:
        if byte_order not in ("little", "big"):
            raise ValueError(f"layout of {name}: unknown byte order {byte_order!r}")
        self.name = name
        self.id = id
        self.size = size
        self.fingerprint = fingerprint
        self.byte_order = byte_order
        self.members = members
        self.enums = enums
        _Compiler(self).compile()

    @classmethod
    def from_json(cls, text: str | bytes) -> Layout:
        """The layout `morvanec layout --json` prints for one schema."""
        try:
            doc = json.loads(text)
        except json.JSONDecodeError as e:
            raise ValueError(f"layout JSON: {e}") from None
        if not isinstance(doc, dict):
            raise ValueError("layout JSON: the document is not an object")
        name = _need(doc, "name", str, "the schema")
        fingerprint_text = _need(doc, "fingerprint", str, name)
        try:
            fingerprint = int(fingerprint_text, 16)
        except ValueError:
            raise ValueError(f"layout JSON: fingerprint {fingerprint_text!r} is not hexadecimal") \
                from None
        enums: dict[str, Enum] = {}
        for e in _need(doc, "enums", list, name):
            ename = _need(e, "name", str, "an enumeration")
            items = tuple((_need(i, "name", str, ename), _need(i, "value", int, ename))
                          for i in _need(e, "items", list, ename))
            enums[ename] = Enum(ename, items)
        members = tuple(_member_from_json(m, "") for m in _need(doc, "members", list, name))
        return cls(name, _need(doc, "id", int, name), _need(doc, "size", int, name), fingerprint,
                   members, enums, doc.get("byte_order", "little"))

    @classmethod
    def from_schema(cls, path: str | os.PathLike[str], morvanec: str | None = None) -> Layout:
        """The layout of a schema file, through `morvanec layout --json`.

        morvanec: the program to run; by default $MORVANEC, else morvanec
        on the PATH.
        """
        program = morvanec or os.environ.get("MORVANEC") or shutil.which("morvanec")
        if not program:
            raise MorvaneError("morvanec is not on the PATH (set MORVANEC to the program)")
        done = subprocess.run([program, "layout", "--json", os.fspath(path)],
                              capture_output=True, text=True, check=False)
        if done.returncode != 0:
            raise MorvaneError(done.stderr.strip() or f"morvanec exited with {done.returncode}")
        return cls.from_json(done.stdout)

    def zero(self) -> Record:
        """The record of all zero bytes, as a dict to fill in."""
        return self.unpack(bytes(self.size))

    def iter_unpack(self, data: bytes) -> Iterator[Record]:
        """The records of concatenated packed records."""
        if self.size == 0 or len(data) % self.size:
            raise ValueError(f"{self.name}: {len(data)} bytes are not whole records of "
                             f"{self.size} bytes")
        for offset in range(0, len(data), self.size):
            yield self.unpack_from(data, offset)

    def __repr__(self) -> str:
        return (f"Layout({self.name!r}, id={self.id}, size={self.size}, "
                f"fingerprint=0x{self.fingerprint:016x})")


def _slots(m: Member) -> int:
    """Values of the flat tuple that member m takes."""
    if m.kind == "text":
        return 0
    if m.collapsed:
        return 1
    if m.kind == "struct":
        return m.repetitions * sum(_slots(c) for c in m.members)
    return m.repetitions


class _Compiler:
    """Writes the struct format and the two functions of a layout."""

    def __init__(self, layout: Layout) -> None:
        self.layout = layout
        self.format: list[str] = []
        self.env: dict[str, Any] = {}
        self.depth = 0

    def compile(self) -> None:
        lay = self.layout
        self.lay_out(lay.members, 0, lay.size, lay.name)
        self.slots = sum(_slots(m) for m in lay.members)
        order = "<" if lay.byte_order == "little" else ">"
        s = struct.Struct(order + "".join(self.format))
        if s.size != lay.size:
            raise ValueError(f"layout of {lay.name}: the members take {s.size} bytes, "
                             f"the record {lay.size}")
        lay.struct = s
        env = self.env
        env.update(_s_unpack=s.unpack, _s_unpack_from=s.unpack_from, _s_pack=s.pack,
                   _error=struct.error, _bad_length=self.bad_length, _explain=self.explain,
                   _count=_count)
        record = self.unpack_dict(lay.members, "0")
        args = self.pack_args(lay.members, "r")
        source = (
            "def unpack(data):\n"
            "    try:\n"
            "        t = _s_unpack(data)\n"
            "    except (_error, TypeError):\n"
            "        _bad_length(data)\n"
            f"    return {record}\n"
            "def unpack_from(buffer, offset=0):\n"
            "    t = _s_unpack_from(buffer, offset)\n"
            f"    return {record}\n"
            "def pack(r):\n"
            "    try:\n"
            f"        return _s_pack({args})\n"
            "    except Exception as e:\n"
            "        _explain(r, e)\n"
        )
        exec(compile(source, f"<layout {lay.name}>", "exec"), env)
        lay.unpack = env["unpack"]
        lay.unpack_from = env["unpack_from"]
        lay.pack = env["pack"]

    # -- the struct format -------------------------------------------------

    def lay_out(self, members: tuple[Member, ...], start: int, size: int, where: str) -> None:
        at = 0
        for m in members:
            path = f"{where}.{m.name}"
            if m.offset < at:
                raise ValueError(f"layout of {self.layout.name}: {path} at offset {m.offset} "
                                 f"overlaps the member before it")
            if m.offset > at:
                self.format.append(f"{m.offset - at}x")
            self.lay_out_member(m, path)
            at = m.offset + m.size
        if at > size:
            raise ValueError(f"layout of {self.layout.name}: the members of {where} take {at} "
                             f"bytes, more than its {size}")
        if at < size:
            self.format.append(f"{size - at}x")

    def lay_out_member(self, m: Member, path: str) -> None:
        if m.size != m.repetitions * m.element_size:
            raise ValueError(f"layout of {self.layout.name}: {path} has size {m.size}, not "
                             f"{m.repetitions} x {m.element_size}")
        if m.kind == "text":
            if m.size != 0:
                raise ValueError(f"layout of {self.layout.name}: text {path} has bytes")
            return
        if m.kind == "struct":
            for _ in range(m.repetitions):
                self.lay_out(m.members, 0, m.element_size, path)
            return
        if m.kind == "enum":
            if m.enum not in self.layout.enums:
                raise ValueError(f"layout of {self.layout.name}: {path} names the unknown "
                                 f"enumeration {m.enum!r}")
            code, width = _ENUM_CODE
        elif m.type in _CODES:
            code, width = _CODES[m.type]
        else:
            raise ValueError(f"layout of {self.layout.name}: {path} has the unknown type "
                             f"{m.type!r}")
        if m.element_size != width:
            raise ValueError(f"layout of {self.layout.name}: {path} of type {m.type} has "
                             f"{m.element_size} bytes, not {width}")
        if m.collapsed:
            self.format.append(f"{m.size}s")
        elif m.repetitions == 1:
            self.format.append(code)
        elif m.repetitions:
            n = m.repetitions
            self.format.append(code * n if len(code) > 1 else f"{n}{code}")

    # -- unpack: expressions over the flat tuple t --------------------------

    def enum_names(self, m: Member) -> str:
        key = f"_names_{m.enum}"
        if key not in self.env:
            self.env[key] = self.layout.enums[m.enum].value_names()  # type: ignore[index]
        return key

    def enum_values(self, m: Member) -> str:
        key = f"_values_{m.enum}"
        if key not in self.env:
            enum = self.layout.enums[m.enum]  # type: ignore[index]
            values: dict[str, int] = {}
            for name, value in enum.items:
                values.setdefault(name, value)
            self.env[key] = values
        return key

    def unpack_dict(self, members: tuple[Member, ...], base: str) -> str:
        # A run of plain values becomes one dict(zip(names, slice)), which
        # builds the dict in C rather than one subscript per value.
        parts = []
        at = 0
        run: list[str] = []

        def end_run() -> None:
            if len(run) < _ZIP_RUN:
                parts.extend(f"{name!r}: t[{_add(base, at - len(run) + k)}]"
                             for k, name in enumerate(run))
            else:
                key = f"_names{len(self.env)}"
                self.env[key] = tuple(run)
                start = at - len(run)
                if base == "0" and start == 0 and at == self.slots and len(run) == len(members):
                    parts.append(f"**dict(zip({key}, t))")
                else:
                    parts.append(f"**dict(zip({key}, t[{_add(base, start)}:{_add(base, at)}]))")
            run.clear()

        for m in members:
            if m.kind == "item" and m.repetitions == 1:
                run.append(m.name)
                at += 1
                continue
            end_run()
            parts.append(f"{m.name!r}: {self.unpack_member(m, _add(base, at))}")
            at += _slots(m)
        end_run()
        if len(parts) == 1 and parts[0].startswith("**"):
            return parts[0][2:]
        return "{" + ", ".join(parts) + "}"

    def unpack_member(self, m: Member, base: str) -> str:
        n = m.repetitions
        if m.kind == "text":
            return "''" if n == 1 or m.collapsed else f"[''] * {n}"
        if m.collapsed:
            return f"t[{base}]"
        if m.kind == "struct":
            stride = sum(_slots(c) for c in m.members)
            if n == 1:
                return self.unpack_dict(m.members, base)
            if n <= _UNROLL:
                return "[" + ", ".join(self.unpack_dict(m.members, _add(base, k * stride))
                                       for k in range(n)) + "]"
            i = f"i{self.depth}"
            self.depth += 1
            inner = self.unpack_dict(m.members, f"{base} + {i} * {stride}")
            self.depth -= 1
            return f"[{inner} for {i} in range({n})]"
        if m.kind == "enum":
            return self.enum_lookup(self.enum_names(m), f"t[{base}]",
                                    f"t[{base}:{_add(base, n)}]", n)
        if n == 1:
            return f"t[{base}]"
        return f"list(t[{base}:{_add(base, n)}])"

    # -- pack: the arguments of one Struct.pack call --------------------------

    def pack_args(self, members: tuple[Member, ...], obj: str) -> str:
        args = [a for m in members if (a := self.pack_member(m, f"{obj}[{m.name!r}]"))]
        return ", ".join(args)

    def pack_member(self, m: Member, value: str) -> str:
        n = m.repetitions
        if m.kind == "text":
            return ""
        if m.collapsed:
            return f"_count({value}, {m.size})"
        if m.kind == "struct":
            if not any(_slots(c) for c in m.members) or n == 0:
                return ""
            if n == 1:
                return self.pack_args(m.members, value)
            e = f"e{self.depth}"
            w = f"w{self.depth}"
            self.depth += 1
            inner = self.pack_args(m.members, e)
            self.depth -= 1
            return f"*[{w} for {e} in _count({value}, {n}) for {w} in ({inner},)]"
        if n == 0:
            return ""
        if m.kind == "enum":
            return self.enum_lookup(self.enum_values(m), value, f"_count({value}, {n})", n, "*")
        if n == 1:
            return value
        return f"*_count({value}, {n})"

    def enum_lookup(self, table: str, one: str, many: str, n: int, star: str = "") -> str:
        """table.get(x, x) of the one value, or the list of it over many
        (unpacked into the call with star "*"); unknown values pass as they are."""
        if n == 1:
            return f"{table}.get({one}, {one})"
        v = f"v{self.depth}"
        return f"{star}[{table}.get({v}, {v}) for {v} in {many}]"

    # -- errors ------------------------------------------------------------

    def bad_length(self, data: Any) -> None:
        lay = self.layout
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"{lay.name}: a record is bytes, not {type(data).__name__}")
        raise ValueError(f"{lay.name}: {len(data)} bytes, the record has {lay.size}")

    def explain(self, record: Any, error: Exception) -> None:
        """Raises the error of the first member pack cannot take."""
        _check_members(self.layout, self.layout.members, record, self.layout.name)
        raise ValueError(f"{self.layout.name}: {error}") from error


def _add(base: str, k: int) -> str:
    if k == 0:
        return base
    if base.isdigit():
        return str(int(base) + k)
    return f"{base} + {k}"


def _count(value: Any, n: int) -> Any:
    """value when it has n elements (bytes of n for a collapsed member)."""
    if len(value) != n:
        raise ValueError(f"{len(value)} elements, not {n}")
    return value


def _check_members(lay: Layout, members: tuple[Member, ...], obj: Any, where: str) -> None:
    if not isinstance(obj, Mapping):
        raise TypeError(f"{where} is {type(obj).__name__}, not a dict")
    for m in members:
        path = f"{where}.{m.name}"
        if m.kind == "text":
            continue
        if m.name not in obj:
            raise ValueError(f"{path} is missing")
        value = obj[m.name]
        if m.collapsed:
            if not isinstance(value, (bytes, bytearray, memoryview)) or len(value) != m.size:
                raise ValueError(f"{path} is collapsed: {m.size} bytes, not {value!r}")
            continue
        if m.repetitions == 1:
            _check_value(lay, m, value, path)
            continue
        if not isinstance(value, (list, tuple)) or len(value) != m.repetitions:
            raise ValueError(f"{path} holds {m.repetitions} repetitions: a list of "
                             f"{m.repetitions}, not {value!r:.60}")
        for k, v in enumerate(value):
            _check_value(lay, m, v, f"{path}[{k}]")


def _check_value(lay: Layout, m: Member, value: Any, path: str) -> None:
    if m.kind == "struct":
        _check_members(lay, m.members, value, path)
        return
    if m.kind == "enum":
        enum = lay.enums[m.enum]  # type: ignore[index]
        if isinstance(value, str):
            if all(value != name for name, _ in enum.items):
                raise ValueError(f"{path}: {value!r} is not an item of {enum.name}")
            return
        code = _ENUM_CODE[0]
    else:
        code = _CODES[m.type][0]
    try:
        struct.pack("<" + code, value)
    except struct.error as e:
        raise ValueError(f"{path} of type {m.type}: {value!r}: {e}") from None
