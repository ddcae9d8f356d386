"""The install puts the package where Debian's python3 imports it."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from support import HERE

BUILD_DIR = Path(os.environ.get("MORVANE_BUILD_DIR", HERE.parents[1] / "build"))
CMAKE = os.environ.get("MORVANE_CMAKE_COMMAND", "cmake")


class InstallTest(unittest.TestCase):
    def test_component_python_installs_an_importable_package(self):
        with tempfile.TemporaryDirectory() as prefix:
            done = subprocess.run([CMAKE, "--install", str(BUILD_DIR), "--component", "python",
                                   "--prefix", prefix], capture_output=True, text=True,
                                  timeout=60)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            site = Path(prefix) / "lib" / "python3" / "dist-packages"
            installed = sorted(p.name for p in (site / "morvane").iterdir())
            sources = sorted(p.name for p in (HERE.parents[1] / "python" / "morvane").iterdir()
                             if p.suffix == ".py" or p.name == "py.typed")
            self.assertEqual(installed, sources)
            # Imported from there alone, outside the source tree.
            env = {"PATH": os.environ.get("PATH", ""), "PYTHONPATH": str(site),
                   "PYTHONDONTWRITEBYTECODE": "1"}
            code = ("import morvane, sys; print(morvane.__file__); "
                    "print(morvane.Layout.from_json(sys.stdin.read()).size)")
            run = subprocess.run([sys.executable, "-c", code], cwd=prefix, env=env, text=True,
                                 input=(HERE / "data" / "posrec.json").read_text(),
                                 capture_output=True, timeout=30)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.split(), [str(site / "morvane" / "__init__.py"), "28"])


if __name__ == "__main__":
    unittest.main()
