"""Records where this interpreter and a child of sys.executable take their
packages from; venvonly is importable only from the application's venv."""
import json
import subprocess
import sys

import records

PROBE = ("import json, sys, venvonly; print(json.dumps([sys.prefix, sys.executable, "
         "[p for p in sys.path if p.endswith('-packages')], venvonly.ORIGIN]))")

if __name__ == "__main__":
    records.refuse_restart()
    import venvonly
    child = subprocess.run([sys.executable, "-c", PROBE], capture_output=True, text=True,
                           timeout=30)
    records.record(prefix=sys.prefix, base_prefix=sys.base_prefix, executable=sys.executable,
                   packages=[p for p in sys.path if p.endswith("-packages")],
                   origin=venvonly.ORIGIN,
                   child=json.loads(child.stdout) if child.returncode == 0 else child.stderr)
