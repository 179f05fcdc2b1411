#!/bin/bash
# Prints one of the README's two fresh-machine commands, the fenced block that follows
# its marker line, so that CI and the checks run exactly what the README tells a user.
#   tools/readme-command.sh demo|test
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
case ${1:-} in
  demo | test) marker="<!-- $1-command -->" ;;
  *) echo "usage: tools/readme-command.sh demo|test" >&2; exit 2 ;;
esac
# The marker, then a ```sh line, then exactly one command line, then the closing fence.
awk -v marker="$marker" '
  $0 == marker { state = 1; next }
  state == 1 { if ($0 == "```sh") { state = 2; next } else exit 3 }
  state == 2 { if ($0 == "```") { exit (n == 1 ? 0 : 3) } cmd = $0; n++; next }
  END { if (n == 1 && state == 2) print cmd; else exit 3 }
' "$ROOT/README.md" || { echo "readme-command: no single $1 command after '$marker' in README.md" >&2; exit 3; }
