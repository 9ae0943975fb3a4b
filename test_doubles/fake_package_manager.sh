#!/bin/sh
# Stands in for rpm or dpkg (by the name it is installed under). Appends its
# name, its argument count and each argument, NUL-terminated, to
# $TEST_RECORDS/commands, then answers from FAKE_<QUERY>_OUT (printed as is)
# and FAKE_<QUERY>_STATUS (default 1), or prints the file FAKE_<QUERY>_FILE
# names instead, after sleeping FAKE_<QUERY>_SLEEP seconds when set, where
# QUERY is RPM_QUERY (rpm -qf),
# RPM_LIST (rpm -ql), DPKG_SEARCH (dpkg -S) or DPKG_LIST (dpkg -L).
tool=${0##*/}
printf '%s\0' "$tool" "$#" "$@" >> "$TEST_RECORDS/commands"
case "$tool:$1" in
  rpm:--queryformat) query=RPM_QUERY ;;
  rpm:-ql) query=RPM_LIST ;;
  dpkg:-S) query=DPKG_SEARCH ;;
  dpkg:-L) query=DPKG_LIST ;;
  *) exit 2 ;;
esac
eval "out=\${FAKE_${query}_OUT-} status=\${FAKE_${query}_STATUS-1}"
eval "file=\${FAKE_${query}_FILE-} pause=\${FAKE_${query}_SLEEP-}"
[ -z "$pause" ] || /bin/sleep "$pause"
if [ -n "$file" ]; then
  /bin/cat "$file"
else
  printf '%s' "$out"
fi
exit "$status"
