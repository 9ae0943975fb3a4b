"""Starts sys.executable with arguments of its own and records what the
child saw next to what this interpreter sees."""
import json
import platform
import subprocess
import sys

import records

PROBE = ("import json, platform, sys; "
         "print(json.dumps([sys.argv, sys.executable, platform.python_version(), sys.path[1:]]))")

if __name__ == "__main__":
    records.refuse_restart()
    child = subprocess.run([sys.executable, "-c", PROBE] + sys.argv[1:],
                           capture_output=True, text=True, timeout=30)
    seen = json.loads(child.stdout) if child.returncode == 0 else [None, None, None, None]
    records.record(executable=sys.executable, base_executable=sys._base_executable,
                   status=child.returncode, argv=seen[0], child_executable=seen[1],
                   same_version=seen[2] == platform.python_version(),
                   same_path=seen[3] == sys.path[1:])
