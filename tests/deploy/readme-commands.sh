#!/bin/bash
# The README's two fresh-machine commands: readable by CI, free of sudo, naming scripts
# that exist; and install-deps.sh, started by a user who is not root, asks sudo when there
# is one and says what to do when there is none.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

for which in demo:tools/demo.sh test:tools/run-tests.sh; do
  name=${which%%:*} script=${which#*:}
  cmd=$("$ROOT/tools/readme-command.sh" "$name") || { fail "README has no $name command"; continue; }
  echo "$name command: $cmd"
  [[ $cmd == *sudo* ]] && fail "the $name command uses sudo, which a fresh Debian 12 lacks"
  [[ $cmd == tools/install-deps.sh\ \&\&\ * ]] || fail "the $name command does not start with tools/install-deps.sh"
  [[ " $cmd " == *" $script "* ]] || fail "the $name command does not run $script"
  for word in $cmd; do
    [[ $word == tools/* ]] && { [ -x "$ROOT/$word" ] || fail "$word in the $name command is not an executable script"; }
  done
done
grep -q 'readme-command.sh test' "$ROOT/.ci/run" || fail ".ci/run does not take its command from the README"

# Not root: run a copy as nobody, once without sudo on PATH and once with a stand-in sudo
# that records how it was called.
# (Inside the 32-bit test namespace root is mapped alone and cannot become another user.)
if [ "$(id -u)" = 0 ] && setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  mkdir "$tmp/bin" "$tmp/nosudo"
  cp "$ROOT/tools/install-deps.sh" "$tmp/install-deps.sh"
  printf '#!/bin/bash\necho "$@" > %s/sudo.args\n' "$tmp" > "$tmp/bin/sudo"
  chmod 755 "$tmp" "$tmp/bin" "$tmp/nosudo" "$tmp/install-deps.sh" "$tmp/bin/sudo"
  chmod 777 "$tmp"
  as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH="$1:/usr/bin:/bin" "$tmp/install-deps.sh" 2>&1; }
  # /usr/bin may hold a real sudo on a developer's machine: hide it by a PATH without it.
  if [ ! -e /usr/bin/sudo ] && [ ! -e /bin/sudo ]; then
    out=$(as_nobody "$tmp/nosudo"); rc=$?
    [ $rc -ne 0 ] || fail "without root and sudo, install-deps.sh exited 0"
    [[ $out == *"run this script as root"* ]] || fail "without root and sudo, install-deps.sh said: $out"
  else
    echo "skip: this machine has a sudo in /usr/bin, the no-sudo case cannot be staged"
  fi
  out=$(as_nobody "$tmp/bin"); rc=$?
  [ $rc -eq 0 ] || fail "with a sudo at hand, install-deps.sh exited $rc: $out"
  grep -q "$tmp/install-deps.sh" "$tmp/sudo.args" 2>/dev/null || fail "install-deps.sh did not raise itself through sudo"
else
  echo "skip: cannot switch to another user here; the non-root cases of install-deps.sh need one"
fi

[ $fails -eq 0 ] && echo "PASS readme commands" || exit 1
