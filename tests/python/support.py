"""Shared pieces of the Python package's tests: layouts written as JSON, and
the real Morvane of the build in a temporary program directory."""

from __future__ import annotations

import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Any

from morvane import Layout

HERE = Path(__file__).resolve().parent
BIN_DIR = Path(os.environ.get("MORVANE_BIN_DIR", HERE.parents[1] / "build" / "bin"))
SOURCE_DIR = Path(os.environ.get("MORVANE_SOURCE_DIR", HERE.parents[1]))
EXAMPLES = SOURCE_DIR / "examples"

_WIDTH = {"char": 1, "int": 4, "int16": 2, "int64": 8, "unsigned": 4, "unsigned16": 2,
          "unsigned64": 8, "float": 4, "double": 8, "bool": 4, "text": 0}


def fixed_layout(name: str) -> Layout:
    return Layout.from_json((HERE / "data" / f"{name}.json").read_text())


def member(name: str, type: str, repetitions: int = 1, visible: bool = True,
           members: list[dict[str, Any]] | None = None) -> dict[str, Any]:
    """A member as the layout JSON gives it, its offset filled in by layout_json.

    type: a schema type name, "enum:NAME" or "struct" (with members)."""
    if type == "struct":
        element = sum(m["size"] for m in _placed(members or []))
        return {"name": name, "kind": "struct", "template": name.title(), "size":
                element * repetitions, "repetitions": repetitions, "element_size": element,
                "visible": visible, "members": _placed(members or [])}
    if type.startswith("enum:"):
        return {"name": name, "kind": "enum", "type": "int", "enum": type[5:],
                "size": 4 * repetitions, "repetitions": repetitions, "element_size": 4,
                "visible": visible}
    kind = "text" if type == "text" else "item"
    return {"name": name, "kind": kind, "type": type, "size": _WIDTH[type] * repetitions,
            "repetitions": repetitions, "element_size": _WIDTH[type], "visible": visible}


def _placed(members: list[dict[str, Any]]) -> list[dict[str, Any]]:
    at = 0
    for m in members:
        m.setdefault("offset", at)
        at = m["offset"] + m["size"]
    return members


def layout_json(members: list[dict[str, Any]], enums: dict[str, list[tuple[str, int]]] | None = None,
                name: str = "T", id: int = 1, fingerprint: int = 1) -> str:
    placed = _placed(members)
    size = max((m["offset"] + m["size"] for m in placed), default=0)
    return json.dumps({
        "name": name, "id": id, "size": size, "byte_order": "little",
        "fingerprint": f"0x{fingerprint:016x}", "fields": [], "members": placed,
        "enums": [{"name": e, "items": [{"name": n, "value": v} for n, v in items]}
                  for e, items in (enums or {}).items()]})


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class MorvaneServer:
    """Morvane and the example archive in a temporary program directory."""

    def __init__(self, extra_ini: str = "", schemas: dict[str, str] | None = None) -> None:
        self._tmp = tempfile.TemporaryDirectory(prefix="morvane-py-")
        self.dir = Path(self._tmp.name)
        for program in ("Morvane", "libquillog.so"):
            shutil.copy2(BIN_DIR / program, self.dir / program)
        for sub in ("Schemas", "XML_Data"):
            shutil.copytree(EXAMPLES / sub, self.dir / sub)
        for sub in ("ResultsInclude", "ResultsEmptyXml"):
            (self.dir / sub).mkdir()
        for file_name, text in (schemas or {}).items():
            (self.dir / "Schemas" / file_name).write_text(text)
        self.port = free_port()
        (self.dir / "Morvane.ini").write_text(f"[General]\nPort={self.port}\n{extra_ini}")
        self.process: subprocess.Popen[bytes] | None = None

    def start(self, timeout: float = 10.0, file_size_limit: int | None = None) -> MorvaneServer:
        """Starts Morvane and waits until it listens. file_size_limit: the
        most bytes it may write into any one file, as a full device allows."""
        self._out = open(self.dir / ".stdout", "wb")
        self._err = open(self.dir / ".stderr", "wb")

        def limit() -> None:
            if file_size_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
        self.process = subprocess.Popen([str(self.dir / "Morvane")], cwd=self.dir,
                                        stdin=subprocess.DEVNULL, stdout=self._out,
                                        stderr=self._err, preexec_fn=limit)
        deadline = time.monotonic() + timeout
        while b"TCP Server is listening..." not in (self.dir / ".stderr").read_bytes():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"Morvane did not start: {self.log()[-2000:]}")
            time.sleep(0.02)
        return self

    def log(self) -> str:
        path = self.dir / "Morvane.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def signal(self, number: int) -> None:
        assert self.process is not None
        self.process.send_signal(number)
        if number == signal.SIGSTOP:
            # The signal takes effect when each thread next enters the
            # kernel: on a busy machine a request sent at once may still be
            # answered. Wait until every thread is stopped.
            deadline = time.monotonic() + 10
            tasks = Path(f"/proc/{self.process.pid}/task")
            while time.monotonic() < deadline:
                states = []
                for task in tasks.iterdir():
                    try:
                        states.append((task / "stat").read_text().rsplit(")", 1)[1].split()[0])
                    except OSError:
                        pass
                if states and all(state in ("T", "t") for state in states):
                    return
                time.sleep(0.005)

    def stop(self) -> int | None:
        code = None
        if self.process is not None:
            if self.process.poll() is None:
                self.process.send_signal(signal.SIGCONT)  # a test may have stopped it
                self.process.send_signal(signal.SIGTERM)
            try:
                code = self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                code = self.process.wait()
            self.process = None
            self._out.close()
            self._err.close()
        return code

    def close(self) -> None:
        self.stop()
        self._tmp.cleanup()

    def __enter__(self) -> MorvaneServer:
        return self.start()

    def __exit__(self, *exc: object) -> None:
        self.close()
