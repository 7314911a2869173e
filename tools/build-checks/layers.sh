#!/usr/bin/env bash
# The folders of src/ stand in one order, lowest first; a file may include headers of its own
# folder and of folders below it. Names every include that points up, or at no known folder.
set -euo pipefail
order="base res engine trust install app"
rank() { local i=0 f; for f in $order; do [ "$f" = "$1" ] && { echo $i; return; }; i=$((i + 1)); done; echo 99; }
cd "$(dirname "$0")/../../src"
bad=0
while IFS=: read -r file line text; do
  own=$(rank "${file%%/*}") target=$(sed -E 's/.*"([^/"]+)\/.*/\1/' <<<"$text")
  if [ "$own" = 99 ] || [ "$(rank "$target")" -gt "$own" ]; then
    echo "src/$file:$line: $text reaches above ${file%%/*}/ (order, lowest first: $order)"
    bad=1
  fi
done < <(grep -n -E '^#include "[^"/]+/' -- */*)
[ $bad = 0 ] && echo "layers: every include of src/ points down ($order)"
exit $bad
