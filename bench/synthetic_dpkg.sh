#!/bin/sh
# Writes a private dpkg administrative directory holding COUNT installed
# packages modelled on the ones of a real one (default /var/lib/dpkg),
# which it only reads. Usage: synthetic_dpkg.sh ADMINDIR COUNT [SOURCE_ADMINDIR]
#
# The source's file lists (info/*.list), ranked by their number of lines,
# give the distribution: COUNT below the source's number of lists takes
# evenly spaced ranks, so the sample has the source's spread of list sizes;
# a larger COUNT takes every list as often as it fits, then evenly spaced
# ranks for the rest. Each package gets its model's status stanza (without
# Multi-Arch) and its model's list. A second, third... copy of a model is
# named <model>-c<copy>, and every path of its list that is no directory of
# the list gets the same suffix, so that its files are its own while its
# directories are shared, as real packages share /usr/share/doc. Prints
# "COUNT packages, LINES list lines, BYTES bytes of lists".
set -eu
[ $# -ge 2 ] || {
    echo "usage: $0 ADMINDIR COUNT [SOURCE_ADMINDIR]" >&2
    exit 2
}
out=$1
count=$2
source=${3:-/var/lib/dpkg}
if [ ! -f "$source/status" ] || [ ! -d "$source/info" ]; then
    echo "$0: $source holds no dpkg database" >&2
    exit 1
fi
mkdir -p "$out/info" "$out/updates" "$out/triggers"
: >"$out/available"
ranked=$out/ranked-lists
find "$source/info" -maxdepth 1 -name '*.list' -type f -exec wc -l {} + |
    awk '$2 != "total"' | sort -n -k1,1 -k2,2 >"$ranked"
[ -s "$ranked" ] || {
    echo "$0: no file lists in $source/info" >&2
    exit 1
}

awk -v count="$count" -v out="$out" -v status="$source/status" -v ranked="$ranked" '
function modelName(path, base) {
    base = path
    sub(/.*\//, "", base)
    sub(/\.list$/, "", base)
    sub(/:.*/, "", base)
    return base
}
# The stanza of `model` as package `name`: its Package line renamed, no
# Multi-Arch (the list is then info/NAME.list); a minimal one when the
# source has none.
function stanza(model, name, text, lines, i, k, result) {
    if (!(model in stanzas)) {
        return "Package: " name "\nStatus: install ok installed\nPriority: optional\n" \
            "Maintainer: synthetic <synthetic@localhost>\nArchitecture: all\n" \
            "Version: 1.0\nDescription: synthetic package\n"
    }
    text = stanzas[model]
    k = split(text, lines, "\n")
    result = ""
    for (i = 1; i <= k; i++) {
        if (lines[i] ~ /^Package:/) {
            result = result "Package: " name "\n"
        } else if (lines[i] !~ /^Multi-Arch:/ && lines[i] != "") {
            result = result lines[i] "\n"
        }
    }
    return result
}
# Writes the list of `path` as info/NAME.list, leaves suffixed with `tag`.
function writeList(path, name, tag, n, line, i, j, parts, depth, prefix, dir, target) {
    n = 0
    split("", dir)
    while ((getline line < path) > 0) {
        lines[++n] = line
        depth = split(line, parts, "/")
        prefix = ""
        for (j = 2; j < depth; j++) {
            prefix = prefix "/" parts[j]
            dir[prefix] = 1
        }
    }
    close(path)
    target = out "/info/" name ".list"
    for (i = 1; i <= n; i++) {
        line = lines[i]
        if (tag != "" && !(line in dir) && line != "/.") {
            line = line tag
        }
        print line > target
        listLines++
        listBytes += length(line) + 1
    }
    close(target)
}
BEGIN {
    RS = ""
    while ((getline text < status) > 0) {
        if (text ~ /\nStatus: install ok installed/ && match(text, /^Package: [^\n]+/)) {
            stanzas[substr(text, 10, RLENGTH - 9)] = text
        }
    }
    close(status)
    RS = "\n"
    models = 0
    while ((getline line < ranked) > 0) {
        sub(/^ *[0-9]+ /, "", line)
        model[++models] = line
    }
    close(ranked)
    cycles = int(count / models)
    rest = count - cycles * models
    for (k = 0; k < count; k++) {
        if (k < cycles * models) {
            rank = k % models + 1
            copy = int(k / models)
        } else {
            rank = int((k - cycles * models + 0.5) * models / rest) + 1
            copy = cycles
        }
        path = model[rank]
        name = modelName(path)
        tag = copy == 0 ? "" : "-c" copy
        printf "%s\n", stanza(name, name tag) > (out "/status")
        writeList(path, name tag, tag)
    }
    close(out "/status")
    printf "%d packages, %d list lines, %d bytes of lists\n", count, listLines, listBytes
}'
rm -f "$ranked"
