#!/bin/sh
# The administrator's guide has a row for every key of the [Service] section that the host
# reads, and no row for a key it does not read. Prints what differs and fails.
#
# usage: admin_guide_keys_test.sh <ini_keys.h> <admin-guide.md>
set -eu
[ $# -eq 2 ] || { echo "usage: $0 <ini_keys.h> <admin-guide.md>" >&2; exit 2; }
read_keys=$(sed -n 's/^ *{"\([A-Za-z]*\)", IniValue::.*/\1/p' "$1" | sort)
[ -n "$read_keys" ] || { echo "no keys found in $1" >&2; exit 1; }
# The INI table: the rows after its header "| Key | Default | Macros | What it is |".
guide_keys=$(awk '/^\| Key \| Default \|/ { table = 1; next }
                  table && !/^\|/ { exit }
                  table && /^\| `/ { sub(/^\| `/, ""); sub(/`.*/, ""); print }' "$2" | sort)
if [ "$read_keys" != "$guide_keys" ]; then
  echo "keys read (<) and keys in the guide's INI table (>) differ:"
  printf '%s\n' "$read_keys" > /tmp/keys.$$; printf '%s\n' "$guide_keys" | diff /tmp/keys.$$ - || true
  rm -f /tmp/keys.$$
  exit 1
fi
echo "admin guide: all $(printf '%s\n' "$read_keys" | wc -l) keys of the [Service] section documented"
