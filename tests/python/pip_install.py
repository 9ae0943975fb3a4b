"""Runs pip in this interpreter to build and install a local source
package (pip builds it in a child of sys.executable), then imports it."""
import os
import runpy
import sys

import records

if __name__ == "__main__":
    records.refuse_restart()
    base = os.environ["TEST_RECORDS"]
    source = os.path.join(base, "localpkg")
    target = os.path.join(base, "installed")
    os.makedirs(source)
    with open(os.path.join(source, "setup.py"), "w") as setup:
        setup.write("from setuptools import setup\n"
                    "setup(name='localpkg', version='1.0', py_modules=['localpkg'])\n")
    with open(os.path.join(source, "localpkg.py"), "w") as module:
        module.write("VALUE = 'built by pip'\n")
    sys.argv = ["pip", "install", "--quiet", "--no-index", "--no-build-isolation",
                "--no-cache-dir", "--disable-pip-version-check", "--target", target, source]
    status = 0
    try:
        runpy.run_module("pip", run_name="__main__", alter_sys=True)
    except SystemExit as end:
        status = end.code
    sys.path.insert(0, target)
    try:
        import localpkg
        value = localpkg.VALUE
    except ImportError as error:
        value = str(error)
    records.record(status=status, value=value)
