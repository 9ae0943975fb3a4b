#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/.

received_record/: an 8-byte child address, then a record block laid out as
the launcher's auxiliary library lays it out: the 40-byte record at offset
0, the argument, name and value pointer arrays after it, the strings after
those.
line_reader/: one byte choosing the line callback (0 rpm owner query,
1 dpkg owner search, 2 file list), then a package manager's output.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def record_block(base, runtime, args, env):
    """The frame input for a sound block built at `base`."""
    texts = [runtime] + args + [t for pair in env for t in pair]
    arrays = 40
    strings = arrays + 8 * (len(args) + 2 * len(env))
    offsets = []
    blob = b""
    for text in texts:
        offsets.append(strings + len(blob))
        blob += text.encode() + b"\0"
    arg_array = arrays
    name_array = arg_array + 8 * len(args)
    value_array = name_array + 8 * len(env)
    block = struct.pack("<QiiQQQ", base + offsets[0], len(args), len(env),
                        base + arg_array, base + name_array, base + value_array)
    for i in range(len(args)):
        block += struct.pack("<Q", base + offsets[1 + i])
    for i in range(len(env)):
        block += struct.pack("<Q", base + offsets[1 + len(args) + 2 * i])
    for i in range(len(env)):
        block += struct.pack("<Q", base + offsets[2 + len(args) + 2 * i])
    block += blob
    return struct.pack("<Q", base) + block


RECORDS = {
    "sample": record_block(0x7f0000010000, "/rt/libruntime.so",
                           ["--from-record", "", "two words"],
                           [("NAME", "value"), ("EMPTY", "")]),
    "path_only": record_block(0x55d4c0a3b2a0, "/opt/hello/lib/libruntime.so", [], []),
    "args_only": record_block(0x1000, "/rt.so", ["-x", "two words", "--greeting"], []),
    "env_only": record_block(0x7ffff7a00010, "/rt.so", [],
                             [("HELLO_MODE", "sample"), ("LANG", "C.UTF-8")]),
    "base_zero": record_block(0, "r", ["a"], [("N", "v")]),
}

LINES = {
    "rpm_name": b"\x00hello\n",
    "rpm_no_newline": b"\x00hello",
    "deb_owner": b"\x01hello: /opt/hello/bin/hello\n",
    "deb_owner_arch": b"\x01hello:amd64: /opt/hello/bin/hello\n",
    "deb_blank_lines": b"\x01\n\nhello: /opt/hello/bin/hello\nother: /x\n",
    "file_list": b"\x02/.\n/opt\n/opt/hello\n/opt/hello/bin\n/opt/hello/bin/hello\n"
                 b"/opt/hello/lib\n/opt/hello/lib/libapplauncher.so\n/opt/hello/lib/libruntime.so\n",
    "file_list_without_library": b"\x02/opt/hello/bin/hello\n/opt/hello/lib/libapplauncher.so.1\n",
}

# Configurations for the reference auxiliary library: the text of
# /app/lib/applauncher.cfg, then sections "@@ env" (NAME=VALUE lines) and
# "@@ FILE" (a file under /app/lib/, or at FILE when it starts with '/').
CONFIGS = {
    "hello": open(os.path.join(HERE, "..", "samples", "hello", "applauncher.cfg"), "rb").read()
             + b"@@ env\nHOME=/home/u\nHELLO_OPTIONS=--exit 3 'Mary Ann'\n"
             b"@@ /home/u/.config/hello/applauncher.cfg\narg=--from-user\nenv=HELLO_GREETING=Hi\n",
    "relative_crlf": b"runtime=rt.so\narg=$APPDIR/x\r\nenv=A=$APPDIR${APPDIR}\n# c\n\n"
                     b"  arg =  spaced \n",
    "bad_env": b"runtime=/rt.so\nenv==x\nenv= PYTHONPATH=x\n",
    "unknown_key": b"runtime=/rt.so\nunknown=1\n",
    "expansion": b"\xef\xbb\xbfruntime=${RT:-/rt.so}\narg=${UNSET:-${EMPTY:-${HOME}/deep}}\n"
                 b"arg=$$HOME $CONFIGDIR ${CONFIGDIR}\nenv=V=${TRICKY}\n"
                 b"@@ env\nHOME=/home/u\nEMPTY=\nTRICKY=a$b ${HOME} 'q\" =\\nz\n",
    "args_words": b"runtime=/rt.so\nargs=${OPTS} \"a \\\"b\\\\\" 'c d' e\\f\n"
                  b"@@ env\nOPTS=--name 'Mary Ann' -Dx=\"a b\" *.txt\n",
    "args_open_quote": b"runtime=/rt.so\nargs=${Q}\n@@ env\nQ=it's\n",
    "includes": b"runtime=rt.so\nenv=A=1\ninclude=applauncher.d/*.cfg\n"
                b"include-optional=${XDG_CONFIG_HOME:-${HOME}/.config}/app.cfg\n"
                b"@@ applauncher.d/10-a.cfg\narg=a\nenv=A=2\ninclude=sub/x.cfg\n"
                b"@@ applauncher.d/20-b.cfg\narg=b\ninclude-optional=missing/*\n"
                b"@@ applauncher.d/sub/x.cfg\narg=x $CONFIGDIR\n"
                b"@@ env\nHOME=/h*\n@@ /h*/.config/app.cfg\nenv=A=user\n",
    "include_cycle": b"runtime=/rt.so\ninclude=a.cfg\n@@ a.cfg\ninclude=$CONFIGDIR/applauncher.cfg\n",
}


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as out:
            out.write(data)


write("received_record", RECORDS)
write("line_reader", LINES)
write("config_parser", CONFIGS)
