"""Greets whoever its arguments name; --exit N ends it with status N.

The launch configuration puts --from-launcher before the command line's
arguments and sets GREETER_WORD and GREETER_HOME. bin/greeter runs this
file as a script; bin/greeter-formal calls main() as its entry point.
"""
import os
import sys


def main():
    args = sys.argv[1:]
    launched = args[:1] == ["--from-launcher"]
    del args[:launched]
    status = 0
    if "--exit" in args:
        at = args.index("--exit")
        status = int(args[at + 1])
        del args[at:at + 2]
    print(f"{os.environ['GREETER_WORD']}, {' and '.join(args)}!")
    print(f"from the launcher: {launched}; home {os.environ['GREETER_HOME']}")
    return status


if __name__ == "__main__":
    sys.exit(main())
