#!/usr/bin/env bash
# The set-up logic of scripts/lib/deps.sh against stand-ins for apt-get, dpkg and dpkg-query that
# fail as a mirror in mid-sync makes them fail, and for the kernel (i386 probe, binfmt_misc as a
# folder, mount): the calls in their order, the messages, the exit code, and that scripts/test,
# demo and bench build (a cmake stand-in) or stop before it. Last: "deps: N passed, N failed".
set -uo pipefail
# scripts/test, run below, runs this test again: that run has nothing to add.
[ -z "${DEPS_TEST_STATE:-}" ] || { echo "deps: 0 passed, 0 failed (inside its own run)"; exit 0; }
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
if [[ " $* " == *Dir::Etc::SourceList* ]]; then   # the backports list of the 32-bit step
  case " $* " in
    *" update "*) echo "backports update" >>"$state/calls" ;;
    *" download "*) echo "backports download" >>"$state/calls"
      [ -z "${FAIL_DOWNLOAD:-}" ] || { echo "E: Unable to fetch" >&2; exit 100; }
      : >qemu-user_10.0.2_amd64.deb ;;
  esac
  exit 0
fi
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
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$DEPS_TEST_STATE/architectures" ;;
  --add-architecture) echo "$2" >>"$DEPS_TEST_STATE/architectures" ;;
esac
EOF
printf '#!/bin/sh\n[ -z "$NO_SUDO" ] || exit 1\nexec "$@"\n' >"$scratch/bin/sudo"
printf '#!/bin/sh\n[ -n "$NOT_ROOT" ] && echo 1000 || /usr/bin/id "$@"\n' >"$scratch/bin/id"
printf '#!/bin/sh\necho cmake >>"$DEPS_TEST_STATE/calls"\nexit 1\n' >"$scratch/bin/cmake"
for quiet in clang-tidy cppcheck; do printf '#!/bin/sh\n' >"$scratch/bin/$quiet"; done
# The kernel: runs i386 programs itself with NATIVE=1; mounts binfmt_misc unless NO_BINFMT.
printf '#!/bin/sh\n[ "$NATIVE" = 1 ] && exit 32 || exit 126\n' >"$scratch/bin/i386-probe"
printf '#!/bin/sh\n[ -z "$NO_BINFMT" ] && : >"$DEPS_BINFMT/register"\n' >"$scratch/bin/mount"
# The backports package: a qemu-i386 that names its version.
printf '#!/bin/sh\necho "qemu-i386 version 10.0.2 (Debian)"\n' |
  install -D -m 755 /dev/stdin "$scratch/deb/usr/bin/qemu-i386"
printf '#!/bin/sh\ntar -C "%s/deb" -cf - ./usr/bin/qemu-i386\n' "$scratch" >"$scratch/bin/dpkg-deb"
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
# in $status. `again` runs on the machine as the last run left it, binfmt_misc included.
export DEPS_TEST_STATE=$scratch/state DEPS_BINFMT=$scratch/state/binfmt NATIVE=1
export DEPS_QEMU_DIR=$scratch/state/qemu DEPS_I386_PROBE=$scratch/bin/i386-probe
export DEPS_WINE32_LOADER=true
run() {
  local updates=$1 installs=$2
  shift 2
  rm -rf "$DEPS_TEST_STATE"
  mkdir -p "$DEPS_TEST_STATE" "$DEPS_BINFMT"
  : >"$DEPS_TEST_STATE/calls"
  : >"$DEPS_TEST_STATE/installed"
  : >"$DEPS_TEST_STATE/architectures"
  FAIL_UPDATES=$updates FAIL_INSTALLS=$installs again "$@"
}
again() {
  : >"$DEPS_TEST_STATE/calls"
  PATH="$scratch/bin:$PATH" DEPS_RETRY_WAIT=0 DEPS_OS_RELEASE="$scratch/os-release" "$@" \
    >"$scratch/output" 2>&1
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

# The real entry points, with their own shell options: past every fallback to the build, and
# never past a set-up that failed for good.
went_on() { grep -qx cmake "$DEPS_TEST_STATE/calls"; }
for script in test demo bench; do
  for fails in "3 0" "0 1" "99 99"; do
    # shellcheck disable=SC2086 # two numbers
    run $fails "$repo/scripts/$script"
    if [ "$fails" = "99 99" ]; then
      check "scripts/$script fails before building, set-up failed" eval 'stopped && ! went_on'
    else
      check "scripts/$script goes on to build after failures $fails" went_on
    fi
  done
done

# The 32-bit step. A kernel that runs i386 programs itself needs nothing.
run 0 0 ensure
check "a native kernel fetches and registers nothing" \
  eval '[ "$(ls "$DEPS_BINFMT")" = "" ] && ! grep -q backports "$DEPS_TEST_STATE/calls"'
registered() { grep -q "^:printer-setup-i386:M::\\\\x7fELF.*:$DEPS_QEMU_DIR/qemu-i386:F$" \
  "$DEPS_BINFMT/register"; }
# What the kernel shows of an enabled entry, as binfmt_misc lists it.
kernel_lists() {
  printf 'enabled\ninterpreter %s\nmagic 7f454c4601010100000000000000000002000300\n' "$2" \
    >"$DEPS_BINFMT/$1"
}
NATIVE=0 again ensure
check "without i386 support qemu-user comes from backports" \
  calls_are "backports update,backports download"
check "and is registered for i386 ELF, opened at once" registered
check "the registration is said in one line" \
  said "runs no 32-bit programs itself: i386 programs now run under qemu-i386 version 10.0.2"
kernel_lists printer-setup-i386 "$DEPS_QEMU_DIR/qemu-i386"
: >"$DEPS_BINFMT/register"
NATIVE=0 again ensure
check "a second run downloads and registers nothing" \
  eval 'calls_are "" && [ ! -s "$DEPS_BINFMT/register" ] && succeeded'
kernel_lists qemu-i386 /usr/libexec/qemu-binfmt/i386-binfmt-P
printf '#!/bin/sh\necho "qemu-i386 version 7.2.0"\n' >"$DEPS_QEMU_DIR/qemu-i386"
NATIVE=0 again ensure
check "a foreign handler: ours is registered anew, so that it comes first" registered
check "an older qemu is downloaded again" calls_are "backports update,backports download"
rm "$DEPS_BINFMT/qemu-i386"
kernel_lists printer-setup-i386 "$DEPS_QEMU_DIR/qemu-i386"
again ensure
check "a native kernel takes our entry away" \
  eval 'grep -qx -- -1 "$DEPS_BINFMT/printer-setup-i386" && succeeded'
PRINTER_SETUP_I386=emulated run 0 0 ensure
check "PRINTER_SETUP_I386=emulated registers qemu on a native kernel" registered
for row in "NO_BINFMT=1|no binfmt_misc" "FAIL_DOWNLOAD=1|could not be downloaded" \
  "NOT_ROOT=1 NO_SUDO=1|needs root" "PRINTER_SETUP_I386=x|use auto or emulated"; do
  run 0 0 ensure
  # shellcheck disable=SC2086 # the row's variables, a word each
  again env NATIVE=0 ${row%|*} "$repo/scripts/demo"
  check "${row#*|}: scripts/demo stops before building, saying why" \
    eval 'stopped && ! went_on && said "${row#*|}"'
done

echo "deps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
