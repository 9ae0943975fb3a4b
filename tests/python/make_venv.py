"""Creates a virtual environment with the venv module, as python3 -m venv
does, and records what its interpreter reports."""
import os
import subprocess
import sys
import venv

import records

if __name__ == "__main__":
    records.refuse_restart()
    target = os.path.join(os.environ["TEST_RECORDS"], "made-venv")
    venv.create(target, with_pip=False, symlinks=True)
    child = subprocess.run([os.path.join(target, "bin", "python3"), "-c",
                            "import sys; print(sys.prefix)"],
                           capture_output=True, text=True, timeout=30)
    records.record(base_executable=sys._base_executable, status=child.returncode,
                   venv_prefix=child.stdout.strip(),
                   link=os.path.realpath(os.path.join(target, "bin", "python3")))
