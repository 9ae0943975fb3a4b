"""The hello sample: greets whoever its arguments name.

--exit N ends it with status N; HELLO_GREETING, which the launch
configuration sets, chooses the greeting.
"""
import os
import sys


def main(args):
    status = 0
    names = []
    while args:
        arg = args.pop(0)
        if arg == "--exit" and args:
            status = int(args.pop(0))
        else:
            names.append(arg)
    greeting = os.environ.get("HELLO_GREETING", "Hello")
    print(f"{greeting}, {' and '.join(names) or 'world'}!")
    print(f"running on Python {sys.version.split()[0]} from {os.environ.get('HELLO_HOME', '?')}")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
