#!/bin/bash
# Usage: pack_desktop_test.sh APPLAUNCHER_PACK LAUNCHER REFERENCE_AUX PYTHON_RUNTIME
# applauncher-pack puts an application on the desktop. The built program
# packs a Python application (APPLAUNCHER_PACK_FILES naming links to the
# build tree's launcher and libraries) as an app-image, for each case of
# two tables:
#   1. packing cases: the desktop files under the tree's share/ are exactly
#      the expected ones; every .desktop passes desktop-file-validate with
#      no error, warning or hint; every metainfo passes `appstreamcli
#      validate --no-net --strict` with no issue even at the pedantic level;
#      the shared-mime-info XML is read by update-mime-database, which then
#      finds each glob; each icon is the given file, a PNG at its own size;
#      the same options give the same bytes; and the entry's Exec=, quoted
#      for a prefix holding a space and a '$', starts the program with the
#      files it is given, once the tree is at its prefix;
#   2. refusals: each exits 1 with one line naming the option at fault and
#      leaves nothing in --dest.
# Exits 77 with the reason when a validator or python3 is missing.
set -u
# shellcheck source=tests/private_install.sh
. "$(dirname "$0")/private_install.sh"

[ $# -eq 4 ] || {
    echo "usage: $0 APPLAUNCHER_PACK LAUNCHER REFERENCE_AUX PYTHON_RUNTIME" >&2
    exit 2
}
pack=$1
for tool in desktop-file-validate appstreamcli update-mime-database python3; do
    command -v "$tool" >/dev/null ||
        skip "$tool not found (Debian: desktop-file-utils, appstream, shared-mime-info, python3)"
done
work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-pack-desktop-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM

mkdir "$work/files" "$work/input" "$work/images" "$work/empty-path"
ln -s "$(realpath "$2")" "$work/files/applauncher"
ln -s "$(realpath "$3")" "$work/files/libapplauncher.so"
ln -s "$(realpath "$4")" "$work/files/libhux_python.so"
export APPLAUNCHER_PACK_FILES=$work/files SOURCE_DATE_EPOCH=1700000000
cat >"$work/input/hello.py" <<'EOF'
import sys
print("hello", " ".join(sys.argv[1:]))
EOF

# image KIND WIDTH HEIGHT FILE: a PNG of that size (whole or cut short).
image() {
    python3 - "$@" <<'EOF'
import struct, sys, zlib
kind, width, height, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
def chunk(name, data):
    return struct.pack(">I", len(data)) + name + data + struct.pack(">I", zlib.crc32(name + data))
rows = b"".join(b"\0" + b"\x30\x60\xc0\xff" * width for _ in range(height))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
open(path, "wb").write(png if kind == "whole" else png[:len(png) // 2])
EOF
}
img=$work/images
image whole 48 48 "$img/48.png"
image whole 256 256 "$img/256.png"
image whole 48 32 "$img/48x32.png"
image whole 100 100 "$img/100.png"
image cut 48 48 "$img/cut.png"
printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' '<!-- an icon -->' \
    '<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64">' \
    '<rect width="64" height="64" fill="#36c"/></svg>' >"$img/icon.svg"
echo "not an image" >"$img/notes.png"
printf '%s\n' '<html><body><svg width="1" height="1"></svg></body></html>' >"$img/page.svg"

# pack_into NAME DEST [OPTION...]: runs applauncher-pack for the Python
# program NAME, its standard output and error in DEST.log; the status in
# $status.
pack_into() {
    local app=$1 dest=$2
    shift 2
    mkdir -p "$dest"
    "$pack" --name "$app" --app-version 1.0 --input "$work/input" --script hello.py \
        --dest "$dest" "$@" >"$dest.log" 2>&1
    status=$?
}

# The words of TEXT, separated by one space.
squeeze() {
    local words
    read -ra words <<<"$1"
    echo "${words[*]}"
}

# The files under SHARE that are the desktop's, sorted.
desktop_files() {
    (cd "$1" && find applications icons mime metainfo -type f 2>/dev/null | sort)
}

# check_desktop_entry FILE: the validator says nothing, not even a hint.
check_desktop_entry() {
    local said
    said=$(desktop-file-validate "$1" 2>&1)
    [ -z "$said" ] || fail "desktop-file-validate $(basename "$1"): $said"
}

# check_metainfo FILE: valid with no issue of any level.
check_metainfo() {
    local said
    said=$(appstreamcli validate --no-net --strict --pedantic "$1" 2>&1) ||
        fail "appstreamcli refuses $(basename "$1"): $said"
    ! grep -qE '^[EWIP]: ' <<<"$said" || fail "appstreamcli on $(basename "$1"): $said"
}

# check_mime SHARE: update-mime-database reads each package and finds
# each of its globs.
check_mime() {
    local xml copy said glob
    for xml in "$1"/mime/packages/*.xml; do
        [ -e "$xml" ] || return 0
        copy=$work/mime-$casename
        rm -rf "$copy"
        mkdir -p "$copy/mime/packages"
        cp "$xml" "$copy/mime/packages/"
        said=$(XDG_DATA_HOME=$copy update-mime-database "$copy/mime" 2>&1)
        [ -z "$said" ] || fail "update-mime-database on $(basename "$xml"): $said"
        while read -r glob; do
            awk -F: -v glob="$glob" '$3 == glob { found = 1 } END { exit !found }' \
                "$copy/mime/globs2" ||
                fail "update-mime-database does not know $glob from $(basename "$xml")"
        done < <(sed -n 's/.*<glob pattern="\([^"]*\)".*/\1/p' "$xml")
    done
}

# check_icons SHARE: each PNG lies under the size its header gives, each
# icon is one of the given images byte for byte.
check_icons() {
    local icon size
    while read -r icon; do
        case $icon in
        */scalable/apps/*.svg) cmp -s "$1/$icon" "$img/icon.svg" || fail "$icon is not icon.svg" ;;
        */apps/*.png)
            size=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24);
w,h=struct.unpack(">II",d[16:24]); print("%dx%d" % (w,h))' "$1/$icon")
            [ "icons/hicolor/$size/apps/$(basename "$icon")" = "$icon" ] ||
                fail "$icon is $size pixels"
            cmp -s "$1/$icon" "$img/${size%x*}.png" || fail "$icon is not ${size%x*}.png"
            ;;
        *) fail "$icon is no icon place" ;;
        esac
    done < <(cd "$1" && find icons -type f 2>/dev/null)
}

# expect_line FILE LINE: FILE has the line LINE.
expect_line() {
    grep -qxF -- "$2" "$1" || fail "$(basename "$1") lacks the line: $2"
}

hp="https://www.example.org/two"
a=applications
ic=icons/hicolor
desc="The types application opens notes and logs of its own kinds, and says hello to each file it is given.

A second paragraph: fish & chips <with> \"quotes\"."
appstream=(--appstream --summary "Opens notes and logs" --description "$desc" --license MIT
    --vendor "Example Makers" --homepage https://example.org/types)
# name | desktop files expected under share/ | options
while IFS='|' read -r name expected options; do
    casename=$(squeeze "$name")
    eval "set -- $options"
    pack_into "$casename" "$work/out-$casename" "$@"
    if [ "$status" -ne 0 ]; then
        fail "applauncher-pack exited with $status: $(cat "$work/out-$casename.log")"
        continue
    fi
    share=$work/out-$casename/$casename-1.0/share
    seen=$(desktop_files "$share" | tr '\n' ' ')
    [ "$(squeeze "$seen")" = "$(squeeze "$expected")" ] ||
        fail "desktop files: expected [$(squeeze "$expected")], made [$(squeeze "$seen")]"
    for entry in "$share"/applications/*.desktop; do
        [ -e "$entry" ] || continue
        check_desktop_entry "$entry"
        program=/opt/$casename/bin/$(sed -n 's/^TryExec=.*\/bin\///p' "$entry")
        if grep -q '^MimeType=' "$entry"; then
            expect_line "$entry" "Exec=$program %F"
        else
            expect_line "$entry" "Exec=$program"
        fi
    done
    for meta in "$share"/metainfo/*.xml; do
        [ -e "$meta" ] && check_metainfo "$meta"
    done
    check_mime "$share"
    check_icons "$share"
done <<EOF
one | $a/org.example.one.desktop $ic/48x48/apps/org.example.one.png | --app-id org.example.one --desktop-entry --icon $img/48.png
two | $a/org.example.two.desktop $a/org.example.two.two_admin.desktop $ic/256x256/apps/org.example.two.png $ic/scalable/apps/org.example.two.svg | --homepage $hp --desktop-entry --categories 'Development;IDE' --icon $img/256.png --icon $img/icon.svg --launcher two-admin --script hello.py --desktop-entry --terminal --display-name 'Two admin' --comment 'Runs the admin tasks'
types | $a/org.example.types.desktop $ic/256x256/apps/org.example.types.png $ic/48x48/apps/org.example.types.png $ic/scalable/apps/org.example.types.svg metainfo/org.example.types.metainfo.xml mime/packages/org.example.types.xml | --app-id org.example.types --desktop-entry --categories Office --file-type 'application/x-types-note=*.tnote,*.tn:Types note' --file-type 'text/x-types-log=*.tlog' --icon $img/48.png --icon $img/256.png --icon $img/icon.svg "\${appstream[@]}"
helper | $a/org.example.helper.tool.desktop metainfo/org.example.helper.metainfo.xml | --app-id org.example.helper --launcher tool --script hello.py --desktop-entry --wm-class HelperTool "\${appstream[@]}"
plain | | --summary 'No desktop'
EOF

casename=types
share=$work/out-types/types-1.0/share
expect_line "$share/applications/org.example.types.desktop" \
    "MimeType=application/x-types-note;text/x-types-log;"
expect_line "$share/applications/org.example.types.desktop" "Icon=org.example.types"
expect_line "$share/applications/org.example.types.desktop" "Categories=Office;"
expect_line "$share/applications/org.example.types.desktop" "Comment=Opens notes and logs"
meta=$share/metainfo/org.example.types.metainfo.xml
for line in '<release version="1.0" date="2023-11-14"/>' \
    '<launchable type="desktop-id">org.example.types.desktop</launchable>' \
    '<mediatype>text/x-types-log</mediatype>' '<project_license>MIT</project_license>' \
    '<developer_name>Example Makers</developer_name>' \
    '<p>A second paragraph: fish &amp; chips &lt;with&gt; &quot;quotes&quot;.</p>'; do
    grep -qF -- "$line" "$meta" || fail "the metainfo lacks $line"
done
grep -qF '<comment>types file</comment>' "$share/mime/packages/org.example.types.xml" ||
    fail "text/x-types-log has not the default comment"
for glob in application/x-types-note:*.tnote application/x-types-note:*.tn text/x-types-log:*.tlog; do
    grep -qxF "50:$glob" "$work/mime-types/mime/globs2" || fail "update-mime-database lacks $glob"
done
pack_into types "$work/again" --app-id org.example.types --desktop-entry --categories Office \
    --file-type 'application/x-types-note=*.tnote,*.tn:Types note' \
    --file-type 'text/x-types-log=*.tlog' --icon "$img/48.png" --icon "$img/256.png" \
    --icon "$img/icon.svg" "${appstream[@]}"
diff -r "$share" "$work/again/types-1.0/share" >/dev/null ||
    fail "the same options gave other desktop files"

casename=two
share=$work/out-two/two-1.0/share
expect_line "$share/applications/org.example.two.two_admin.desktop" "Name=Two admin"
expect_line "$share/applications/org.example.two.two_admin.desktop" "Terminal=true"
expect_line "$share/applications/org.example.two.two_admin.desktop" "Categories=Utility;"
expect_line "$share/applications/org.example.two.desktop" "Categories=Development;IDE;"
expect_line "$share/applications/org.example.two.desktop" "Terminal=false"
casename=helper
expect_line "$work/out-helper/helper-1.0/share/applications/org.example.helper.tool.desktop" \
    "StartupWMClass=HelperTool"

# The entry of a tree whose prefix holds a space and a '$' starts the
# program, once the tree is there, with the files it is given.
casename="exec"
prefix="$work/opt/my \$app"
pack_into exec "$work/out-exec" --prefix "$prefix" --app-id org.example.exec --desktop-entry \
    --file-type 'application/x-exec-note=*.enote'
entry=$work/out-exec/exec-1.0/share/applications/org.example.exec.desktop
if [ "$status" -ne 0 ]; then
    fail "applauncher-pack exited with $status: $(cat "$work/out-exec.log")"
else
    check_desktop_entry "$entry"
    expect_line "$entry" "Exec=\"$work/opt/my \\\\\$app/bin/exec\" %F"
    mkdir -p "$work/opt"
    mv "$work/out-exec/exec-1.0" "$prefix"
    ran=$(python3 - "$prefix/share/applications/org.example.exec.desktop" "$work/a note.enote" \
        "$work/empty-path" "$work" <<'EOF'
import subprocess, sys
line = next(l for l in open(sys.argv[1]).read().splitlines() if l.startswith("Exec="))
value, words, word, quoted, started, i = line[5:].replace("\\\\", "\\"), [], "", False, False, 0
while i < len(value):
    if quoted and value[i] == "\\" and value[i + 1:i + 2] in ('"', "`", "$", "\\"):
        word, i = word + value[i + 1], i + 2
        continue
    if value[i] == '"':
        quoted, started = not quoted, True
    elif value[i] == " " and not quoted:
        words, word, started = words + [word] if word or started else words, "", False
    else:
        word += value[i]
    i += 1
words += [word] if word or started else []
argv = [sys.argv[2] if w == "%F" else w.replace("%%", "%") for w in words]
env = {"PATH": sys.argv[3], "HOME": sys.argv[4]}
done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
print(done.returncode, done.stdout.decode().strip())
EOF
    )
    [ "$ran" = "0 hello $work/a note.enote" ] || fail "the entry's Exec= ran: $ran"
fi

# option at fault | options
while IFS='|' read -r option options; do
    option=$(squeeze "$option")
    casename="refusal $option:$options"
    eval "set -- $options"
    dest=$work/refused
    rm -rf "$dest" "$dest.log"
    pack_into refused "$dest" "$@"
    [ "$status" -eq 1 ] || fail "exit status $status, not 1"
    [ "$(wc -l <"$dest.log")" -eq 1 ] || fail "not one line: $(cat "$dest.log")"
    grep -qe "$option" "$dest.log" || fail "the line does not name $option: $(cat "$dest.log")"
    [ -z "$(ls -A "$dest")" ] || fail "left in --dest: $(ls -A "$dest")"
done <<EOF
--icon | --app-id org.example.refused --desktop-entry --icon $img/notes.png
--icon | --app-id org.example.refused --desktop-entry --icon $img/page.svg
--icon | --app-id org.example.refused --desktop-entry --icon $img/48x32.png
--icon | --app-id org.example.refused --desktop-entry --icon $img/100.png
--icon | --app-id org.example.refused --desktop-entry --icon $img/cut.png
--icon | --app-id org.example.refused --desktop-entry --icon $img/48.png --icon $img/48.png
--icon | --app-id org.example.refused --desktop-entry --icon $img/missing.png
--icon | --icon $img/48.png
--file-type | --app-id org.example.refused --desktop-entry --file-type 'notamime=*.x'
--file-type | --app-id org.example.refused --desktop-entry --file-type 'Application/X-R=*.x'
--file-type | --app-id org.example.refused --desktop-entry --file-type 'inode/x-r=*.x'
--file-type | --app-id org.example.refused --desktop-entry --file-type 'application/x-r=dir/*.x'
--file-type | --app-id org.example.refused --desktop-entry --file-type $'application/x-r=*.x\n*.y'
--file-type | --app-id org.example.refused --file-type 'application/x-r=*.x'
--file-type | --app-id org.example.refused --desktop-entry --file-type 'application/x-r=*.x' --launcher refused2 --script hello.py --desktop-entry --file-type 'application/x-r=*.y'
--app-id | --app-id hello --desktop-entry
--app-id | --app-id org.example --desktop-entry
--app-id | --app-id org.example.1refused --desktop-entry
--app-id | --app-id 'org.example.refused s' --desktop-entry
--app-id | --desktop-entry
--app-id | --homepage http://192.168.1.1/refused --desktop-entry
--categories | --app-id org.example.refused --desktop-entry --categories 'Building;Development'
--categories | --app-id org.example.refused --desktop-entry --categories 'Utility;Foo'
--categories | --app-id org.example.refused --desktop-entry --categories 'AudioVideo;Video;Player;Video'
--categories | --app-id org.example.refused --desktop-entry --categories 'Audio;Player'
--categories | --app-id org.example.refused --desktop-entry --categories 'Utility;Screensaver'
--comment | --app-id org.example.refused --comment 'no entry'
--comment | --app-id org.example.refused --desktop-entry --comment $'\xff\xfe'
--terminal | --app-id org.example.refused --terminal
--appstream | --app-id org.example.refused --appstream --summary s --description d
--summary | --app-id org.example.refused --desktop-entry --appstream --description d
--description | --app-id org.example.refused --desktop-entry --appstream --summary s
--homepage | --app-id org.example.refused --desktop-entry --appstream --summary s --description d --homepage ftp://example.org/r
EOF

casename=end
echo "$failures failed"
[ "$failures" -eq 0 ]
