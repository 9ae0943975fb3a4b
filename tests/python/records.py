"""What the test programs share: a guard against the application being
started again, and the record file that the test reads back."""
import json
import os
import sys


def refuse_restart():
    """Ends with status 97 when the application has been started again
    (an interpreter started as sys.executable that ran this application
    instead of its own arguments); marks the environment otherwise."""
    if os.environ.get("APP_STARTED") == "1":
        sys.exit(97)
    os.environ["APP_STARTED"] = "1"


def record(**values):
    """Writes each value as NAME=JSON, NUL-terminated, to records/python."""
    with open(os.path.join(os.environ["TEST_RECORDS"], "python"), "w") as out:
        for name, value in values.items():
            out.write(f"{name}={json.dumps(value)}\0")
