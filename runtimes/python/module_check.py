"""What the CPython runtime library's check runs, after the text of
entry_point.py, in an interpreter started as the launch would start it but
without the site module: it finds what the launch would run without running
any of it (no module of the application is imported, no .pth file's import
line, sitecustomize or usercustomize runs)."""
import os
import sys

_HUX_SCRIPT_REMEDY = "install the script or correct its path in the launch data"
_HUX_MODULE_REMEDY = ("install the module where the interpreter finds it (the system's "
                      "site-packages, the virtual environment of HUX_PYTHON_VENV) or correct "
                      "its name in the launch data")


def _hux_site_path(add_site):
    """Adds to sys.path what the site module adds at start-up (the virtual
    environment's or the system's site-packages, the user's when enabled, the
    directories .pth files name) when `add_site`, by the site module's own
    functions with its exec of .pth import lines replaced by a no-op."""
    if not add_site:
        return
    import site
    site.exec = lambda line: None
    known = site.removeduppaths()
    known = site.venv(known)
    if site.ENABLE_USER_SITE is None:
        site.ENABLE_USER_SITE = site.check_enableusersite()
    known = site.addusersitepackages(known)
    site.addsitepackages(known)


def _hux_find_top_level(name, path0):
    """The ModuleSpec of the top-level package or module of `name` on sys.path,
    with path0 in front when it is not None; None when not found."""
    import importlib.machinery
    import importlib.util
    top = name.partition(".")[0]
    if top in sys.builtin_module_names or importlib.machinery.FrozenImporter.find_spec(top):
        return importlib.util.find_spec(top)
    path = ([path0] if path0 is not None else []) + sys.path
    return importlib.machinery.PathFinder.find_spec(top, path)


def _hux_check(kind, target, program, argv0, safe_path, add_site):
    """Checks what the launch would run: kind "script" (target its file),
    "module" (-m target) or "entry point" (--entry-point target); `program`
    is the interpreter's program name (None: argv0, as the interpreter
    names itself), argv0 the launch data's argv[0]. The
    launch's sys.path has what the site module adds when `add_site`, and
    without `safe_path` the directory python3 puts in front. Returns
    (True, what would run) or (False, the line the launch would print)."""
    if kind == "script":
        program = program if program is not None else argv0
        try:
            with open(target, "rb"):
                pass
        except IsADirectoryError:
            pass
        except OSError as error:
            return False, (f"{program}: can't open file {target!r}: "
                           f"[Errno {error.errno}] {error.strerror}: {_HUX_SCRIPT_REMEDY}")
        return True, f"script {target}"
    module = target
    if kind == "entry point":
        try:
            module = _hux_parse_entry_point(target)[0]
        except ValueError as error:
            return False, f"{error}: write it as MODULE:FUNCTION in the launch data"
    _hux_site_path(add_site)
    path0 = None
    if not safe_path:
        path0 = os.getcwd() if kind == "module" else os.path.dirname(os.path.realpath(argv0))
    found = _hux_find_top_level(module, path0)
    top = module.partition(".")[0]
    if found is not None:
        where = found.origin if found.origin is not None else "a namespace package"
        return True, f"{kind} {target}, {top} from {where}"
    if kind == "entry point":
        said = f"ModuleNotFoundError: No module named {top!r}"
    elif top == module:
        said = f"{sys.executable}: No module named {module}"
    else:
        said = (f"{sys.executable}: Error while finding module specification for "
                f"{module!r} (ModuleNotFoundError: No module named {top!r})")
    return False, f"{said}: {_HUX_MODULE_REMEDY}"
