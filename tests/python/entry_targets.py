"""Functions that the entry-point tests name, each ending as its name
says. Importing it leaves the file imported-entry_targets in the records,
so that a test can tell whether anything imported it."""
import json
import os
import sys
import time

with open(os.path.join(os.environ["TEST_RECORDS"], "imported-entry_targets"), "w"):
    pass


def returns_none():
    with open(os.path.join(os.environ["TEST_RECORDS"], "python"), "w") as out:
        json.dump({"argv": sys.argv, "orig_argv": sys.orig_argv, "main": __name__ != "__main__"},
                  out)


def returns_zero():
    return 0


def returns_three():
    return 3


def returns_text():
    return "bad thing"


def raises_system_exit():
    raise SystemExit(4)


def waits_for_interrupt():
    with open(os.path.join(os.environ["TEST_RECORDS"], "ready"), "w"):
        pass
    time.sleep(60)


class Holder:
    """An object whose attribute is the entry point."""

    @staticmethod
    def returns_five():
        return 5
