"""The entry-point form of the CPython runtime library: what it runs in
place of a script for --entry-point MODULE:FUNCTION, as the interpreter's
-c command, after which the launch adds one line that calls the function
as a console script does, sys.exit(function()). Shared, as text, with the
library's check, which runs only _hux_parse_entry_point."""
import sys


def _hux_parse_entry_point(spec):
    """MODULE:NAME[.NAME...] split into the module's dotted name and the
    list of names to look up in it; raises ValueError with the line that
    refuses a malformed one."""
    module, colon, attributes = spec.partition(":")
    names = attributes.split(".")
    if not colon or not all(part.isidentifier() for part in module.split(".") + names):
        raise ValueError(f"--entry-point takes MODULE:FUNCTION or MODULE:OBJECT.ATTRIBUTE, "
                         f"not {spec!r}")
    return module, names


def _hux_refuse(error):
    """Ends the process with status 1 after the one line that the
    interpreter prints last for `error`."""
    import traceback
    sys.exit("".join(traceback.format_exception_only(error)).rstrip("\n"))


def _hux_load_entry_point(spec):
    """The object that `spec` names, its module imported. A malformed spec,
    a module that is not there (the named one or a package above it) or a
    name the module lacks ends the process with status 1 and one line; an
    error inside the module's own code propagates as under a console
    script."""
    try:
        module, names = _hux_parse_entry_point(spec)
    except ValueError as error:
        sys.exit(str(error))
    try:
        __import__(module)
    except ModuleNotFoundError as error:
        if error.name is None or not (module == error.name or module.startswith(error.name + ".")):
            raise
        _hux_refuse(error)
    target = sys.modules[module]
    try:
        for name in names:
            target = getattr(target, name)
    except AttributeError as error:
        _hux_refuse(error)
    return target
