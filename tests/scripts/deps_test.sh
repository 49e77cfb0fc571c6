#!/usr/bin/env bash
# The set-up logic of scripts/lib/deps.sh against stand-ins for apt-get, dpkg and dpkg-query that
# fail as a mirror in mid-sync makes them fail: the calls in their order, the messages, the exit
# code, and that scripts/test and scripts/demo stop before anything else when the install fails
# for good. Last line: "deps: N passed, N failed".
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Stand-ins. State lives in $DEPS_TEST_STATE: "calls" logs apt-get's requests, "installed" the
# packages dpkg-query reports. The first $FAIL_UPDATES updates and the first $FAIL_INSTALLS
# installs fail the way apt fails during a mirror sync.
mkdir -p "$scratch/bin"
cat >"$scratch/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
state=$DEPS_TEST_STATE
count() { local n; n=$(grep -c "^$1" "$state/calls"); echo "$n"; }
case " $* " in
  *" update "*)
    echo update >>"$state/calls"
    if [ "$(count update)" -le "$FAIL_UPDATES" ]; then
      echo "E: Failed to fetch http://deb.example/Packages.xz  File has unexpected size" \
        "(374820 != 376004). Mirror sync in progress?" >&2
      exit 100
    fi ;;
  *" install "*)
    release=""
    [[ " $* " == *" -t "* ]] && release=" -t $(sed 's/.* -t \([^ ]*\).*/\1/' <<<"$*")"
    echo "install$release" >>"$state/calls"
    if [ "$(count install)" -le "$FAIL_INSTALLS" ]; then
      echo " libglib2.0-0:i386 : Depends: zlib1g:i386 (>= 1:1.2.2) but it is not going to be" \
        "installed" >&2
      echo "E: Unable to correct problems, you have held broken packages." >&2
      exit 100
    fi
    for word in "$@"; do
      [[ "$word" == -* || "$word" == install || "$word" == "${release# -t }" ]] ||
        echo "$word" >>"$state/installed"
    done ;;
esac
EOF
# dash, not bash: these two run for every package, and the test must stay quick.
cat >"$scratch/bin/dpkg-query" <<'EOF'
#!/bin/sh
for package; do :; done
while read -r installed; do
  [ "$installed" = "$package" ] && echo "install ok installed" && exit 0
done <"$DEPS_TEST_STATE/installed"
exit 1
EOF
cat >"$scratch/bin/dpkg" <<'EOF'
#!/bin/sh
case "$1" in
  --print-foreign-architectures) cat "$DEPS_TEST_STATE/architectures" ;;
  --add-architecture) echo "$2" >>"$DEPS_TEST_STATE/architectures" ;;
esac
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$scratch/bin/sudo"
chmod +x "$scratch/bin"/*
printf 'ID=debian\nVERSION_CODENAME=testrelease\n' >"$scratch/os-release"

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "deps: FAILED: $what"
    echo "  calls: $(paste -sd, "$DEPS_TEST_STATE/calls")"
    sed 's/^/  output: /' "$scratch/output"
  fi
}

# Runs `command...` against fresh stand-ins; its output lands in $scratch/output, its exit code
# in $status.
run() {
  local updates=$1 installs=$2
  shift 2
  export DEPS_TEST_STATE=$scratch/state
  rm -rf "$DEPS_TEST_STATE"
  mkdir -p "$DEPS_TEST_STATE"
  : >"$DEPS_TEST_STATE/calls"
  : >"$DEPS_TEST_STATE/installed"
  : >"$DEPS_TEST_STATE/architectures"
  PATH="$scratch/bin:$PATH" FAIL_UPDATES=$updates FAIL_INSTALLS=$installs DEPS_RETRY_WAIT=0 \
    DEPS_OS_RELEASE="$scratch/os-release" "$@" >"$scratch/output" 2>&1
  status=$?
}

ensure() { bash -c 'source "$1"/scripts/lib/deps.sh && ensure_dependencies yes' _ "$repo"; }
calls_are() { [ "$(paste -sd, "$DEPS_TEST_STATE/calls")" = "$1" ]; }
said() { grep -qF -- "$1" "$scratch/output"; }
did_not_say() { ! said "$1"; }
succeeded() { [ "$status" -eq 0 ]; }
stopped() { [ "$status" -ne 0 ]; }
installed() { grep -qx -- "$1" "$DEPS_TEST_STATE/installed"; }

run 1 0 ensure
check "an update that fails once is retried" calls_are "update,update,install"
check "the retry says why" said "apt-get update failed (try 1 of 3), a mirror may be in mid-sync"
check "one failed update is no failure" succeeded
check "the i386 architecture is added for wine32" installed "wine32:i386"

run 0 1 ensure
check "an unresolved install is tried with the base release" \
  calls_are "update,install,install -t testrelease"
check "the second install says why" said "trying once more with the versions of testrelease"
check "the second install's success is success" succeeded

run 3 0 ensure
check "a broken index does not stop the install" calls_are "update,update,update,install"
check "going on without the index is said" said "installing from the package lists apt already"
check "the install from the old lists succeeds" succeeded

run 99 99 ensure
check "failing for good: three updates, two installs" \
  calls_are "update,update,update,install,install -t testrelease"
check "failing for good fails" stopped
check "the missing packages are named" said "deps: could not install: cmake ninja-build g++"
check "apt's reason is given" said "deps: apt: E: Unable to correct problems"
check "no success is claimed" did_not_say "all build and test tools present"

run 99 99 "$repo/scripts/test"
check "scripts/test stops at the set-up" stopped
check "scripts/test runs no suite without its tools" did_not_say "==> unit tests"
run 99 99 "$repo/scripts/demo"
check "scripts/demo stops at the set-up" stopped
check "scripts/demo builds nothing without its tools" did_not_say "==> building"

echo "deps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
