#!/usr/bin/env bash
# Prints the Debian archive that this machine's apt sources name for its own release, and on
# a second line the security archive they name for it (empty when they name none). Prints
# nothing and exits 1 when the sources name no archive for the release.
set -euo pipefail
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
shopt -s nullglob
# One "URI SUITE..." line per source, from one-line lists and deb822 files alike.
sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -E 's/#.*//; s/\[[^]]*\]//' "$f" | awk '$1 == "deb" {print $2, $3}'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    awk 'BEGIN {RS = ""} {
           uris = ""; suites = ""; on = 1
           n = split($0, lines, "\n")
           for (i = 1; i <= n; i++) {
             line = lines[i]; sub(/#.*/, "", line)
             if (line ~ /^Types:/ && line !~ /[ \t]deb([ \t]|$)/) on = 0
             if (line ~ /^Enabled:[ \t]*no/) on = 0
             if (line ~ /^URIs:/) { sub(/^URIs:[ \t]*/, "", line); uris = line }
             if (line ~ /^Suites:/) { sub(/^Suites:[ \t]*/, "", line); suites = line }
           }
           if (on) { m = split(uris, u, /[ \t]+/); for (j = 1; j <= m; j++) if (u[j] != "") print u[j], suites }
         }' "$f"
  done
}
archive=$(sources | awk -v want="$release" '{for (i = 2; i <= NF; i++) if ($i == want) {print $1; exit}}')
security=$(sources | awk -v want="$release-security" '{for (i = 2; i <= NF; i++) if ($i == want) {print $1; exit}}')
[ -n "$archive" ] || exit 1
echo "${archive%/}"
echo "${security%/}"
