"""Records in records/probe, as NAME=VALUE entries each ended by a NUL,
what is first on sys.path, where json came from (a json.py in the working
directory writes records/hostile when it is imported) and whether sibling,
a module beside the script, can be found. Uses nothing of the json module
nor of the tests' own, so that it runs beside a hostile json.py and
isolated."""
import importlib.util
import json
import os
import sys


def probe():
    found = importlib.util.find_spec("sibling") is not None
    with open(os.path.join(os.environ["TEST_RECORDS"], "probe"), "w") as out:
        out.write(f"path0={sys.path[0]}\0json={json.__file__}\0sibling={found}\0")


if __name__ == "__main__":
    probe()
