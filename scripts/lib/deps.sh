# Installs what the builds and tests need, when it is missing, and makes Wine's 32-bit programs
# run. Sourced by scripts/test, scripts/demo, scripts/bench, scripts/fuzz and tests/e2e/run;
# prints what it does. ensure_dependencies returns non-zero, after naming what it could not do
# and why, when the machine cannot have it. Callers write `ensure_dependencies ... || exit 1`,
# so that the functions here behave the same with and without `set -e`.
#
# A package mirror in mid-sync is an everyday event: for a while one of its indexes does not
# match the Release file ("File has unexpected size ... Mirror sync in progress?"). apt then keeps
# the lists it had, which are usually enough to install from, except that the newer versions of
# a multi-arch library in the security suite may have no i386 twin in them. So the update is
# retried, the install goes on without the fresh index, and an install that cannot be resolved
# is tried once more with the base release's own versions.

DEPS_UPDATE_TRIES=${DEPS_UPDATE_TRIES:-3}
DEPS_RETRY_WAIT=${DEPS_RETRY_WAIT:-5}  # seconds between two updates
DEPS_OS_RELEASE=${DEPS_OS_RELEASE:-/etc/os-release}

need_packages=()

have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

want() {
  have_package "$1" || [[ " ${need_packages[*]} " == *" $1 "* ]] || need_packages+=("$1")
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The codename of the installed release ("bookworm"), or nothing.
release_codename() {
  (. "$DEPS_OS_RELEASE" 2>/dev/null && echo "${VERSION_CODENAME:-}")
}

update_indexes() {
  local try
  for ((try = 1; try <= DEPS_UPDATE_TRIES; try++)); do
    as_root apt-get update -qq && return 0
    [ "$try" -lt "$DEPS_UPDATE_TRIES" ] || break
    echo "deps: apt-get update failed (try $try of $DEPS_UPDATE_TRIES), a mirror may be in" \
      "mid-sync: trying again in ${DEPS_RETRY_WAIT}s"
    sleep "$DEPS_RETRY_WAIT"
  done
  echo "deps: an index could not be fetched after $DEPS_UPDATE_TRIES tries: installing from" \
    "the package lists apt already has"
  # Not a failure: the install goes on, also in a caller that runs under `set -e`.
  return 0
}

# apt-get install, its messages kept in $1 for the report.
apt_install() {
  local log=$1
  shift
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1
}

install_packages() {
  local log codename missing=() package
  log=$(mktemp)
  apt_install "$log" "$@" && { rm -f "$log"; return 0; }
  codename=$(release_codename)
  if [ -n "$codename" ]; then
    echo "deps: the install could not be resolved (an index may be missing or out of step):" \
      "trying once more with the versions of $codename itself (apt-get -t $codename)"
    apt_install "$log" -t "$codename" "$@" && { rm -f "$log"; return 0; }
  fi
  for package in "$@"; do
    have_package "$package" || missing+=("$package")
  done
  echo "deps: could not install: ${missing[*]:-$*}"
  grep -E '^E: |Depends: ' "$log" | head -20 | sed 's/^ */deps: apt: /'
  rm -f "$log"
  return 1
}

ensure_dependencies() {
  local with_host_tests=${1:-yes} need_update=
  need_packages=()
  if [ "$with_host_tests" = yes ]; then
    want cmake; want ninja-build; want g++; want libgtest-dev; want libgmock-dev
    want clang; want libclang-rt-14-dev; want clang-tidy; want cppcheck
  fi
  want cmake; want ninja-build; want python3
  want g++-mingw-w64-i686; want g++-mingw-w64-x86-64; want binutils-mingw-w64-i686
  # Wine runs the real exe: wine32 needs the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "deps: adding the i386 architecture for wine32"
    as_root dpkg --add-architecture i386
    need_update=1
  fi
  want wine; want wine32:i386; want wine64
  # The installer examples (msitools edits and reads the built packages), and Authenticode
  # signing of the exe.
  want nsis; want wixl; want msitools; want osslsigncode; want openssl
  if [ ${#need_packages[@]} -gt 0 ]; then
    echo "deps: installing ${need_packages[*]}"
    update_indexes
    install_packages "${need_packages[@]}" || return 1
  elif [ -n "$need_update" ]; then
    update_indexes
  fi
  echo "deps: all build and test tools present"
  ensure_i386_programs
}

# --- 32-bit programs --------------------------------------------------------------------------
# Wine runs the exe in 32-bit processes. Some kernels run no i386 program at all ("32-bit
# emulation disabled": each one fails with "Exec format error", Wine's own loader included), and
# nobody chooses which kernel a machine gets. There binfmt_misc hands every i386 ELF to
# qemu-i386, QEMU's user-mode emulator; Wine's 64-bit processes stay native. Debian 12's own
# QEMU 7.2 cannot carry Wine (its mmap ignores MAP_FIXED_NOREPLACE, so each Wine process spends
# a minute reserving its address space): version 9 or later comes from bookworm-backports,
# downloaded by apt from a sources list of our own, checked against Debian's archive key and
# unpacked into a folder of ours. The machine's apt sources, pins and packages stay as they were.
#
# PRINTER_SETUP_I386: "auto" emulates only where the kernel cannot run i386 programs, and takes
# away a registration of ours that an "emulated" run left on a kernel that can; "emulated"
# registers QEMU all the same, to run the emulated path on any machine.

DEPS_I386_MODE=${PRINTER_SETUP_I386:-auto}
DEPS_BINFMT=${DEPS_BINFMT:-/proc/sys/fs/binfmt_misc}
DEPS_QEMU_DIR=${DEPS_QEMU_DIR:-/opt/printer-setup/qemu}
DEPS_BACKPORTS_MIRROR=${DEPS_BACKPORTS_MIRROR:-http://deb.debian.org/debian}
DEPS_BACKPORTS_SUITE=${DEPS_BACKPORTS_SUITE:-bookworm-backports}
DEPS_WINE32_LOADER=${DEPS_WINE32_LOADER:-/usr/lib/wine/wine}
# A program that exits with 32 where the kernel runs i386 programs itself; made when empty.
DEPS_I386_PROBE=${DEPS_I386_PROBE:-}

I386_ENTRY=printer-setup-i386
# QEMU's own binfmt entry for i386 ELF executables and shared objects.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The smallest i386 program: exit(32). A padding byte of its ELF header is 1, where every i386
# binfmt entry (QEMU's above) asks for 0: only the kernel's own ELF loader takes it, so the
# answer holds whatever emulation is registered.
i386_probe_bytes() {
  printf '\177ELF\1\1\1\0\0\1\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0'
  printf '\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0'
  # One loadable segment, the whole file, read and execute, at 0x08048000.
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0'
  # mov ebx, 32; mov eax, 1 (exit); int 0x80
  printf '\273\40\0\0\0\270\1\0\0\0\315\200'
}

kernel_runs_i386() {
  local probe=$DEPS_I386_PROBE dir status
  if [ -z "$probe" ]; then
    dir=$(mktemp -d)
    probe=$dir/i386-probe
    i386_probe_bytes >"$probe" && chmod +x "$probe"
  fi
  "$probe" 2>/dev/null
  status=$?
  [ -z "${dir:-}" ] || rm -rf "$dir"
  [ "$status" -eq 32 ]
}

# "name interpreter" of each enabled binfmt entry for i386 ELF programs.
i386_entries() {
  local entry state interpreter magic
  for entry in "$DEPS_BINFMT"/*; do
    case ${entry##*/} in register | status | '*') continue ;; esac
    state=$(sed -n 1p "$entry" 2>/dev/null)
    interpreter=$(sed -n 's/^interpreter //p' "$entry" 2>/dev/null)
    magic=$(sed -n 's/^magic //p' "$entry" 2>/dev/null)
    [[ "$state" == enabled && "$magic" == 7f454c46010101* && "${magic:36:4}" == 0300 ]] &&
      echo "${entry##*/} $interpreter"
  done
  return 0
}

# "qemu-i386 version 10.0.2", or nothing.
qemu_version() {
  [ -x "$1" ] && "$1" --version 2>/dev/null | sed -n '1s/^\(qemu-i386 version [^ ]*\).*/\1/p'
}

qemu_is_recent() {
  local major
  major=$(qemu_version "$1" | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ -n "$major" ] && [ "$major" -ge 9 ]
}

# qemu-user of the backports suite, downloaded with apt but from a sources list, package lists
# and cache of our own, and unpacked: only its qemu-i386 (static) is kept, in $DEPS_QEMU_DIR.
fetch_qemu() {
  local work status=1
  work=$(mktemp -d)
  echo "deb [arch=$(dpkg --print-architecture)" \
    "signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
    "$DEPS_BACKPORTS_MIRROR $DEPS_BACKPORTS_SUITE main" >"$work/list"
  local own=(-qq -o Dir::Etc::SourceList="$work/list" -o Dir::Etc::SourceParts=/nonexistent
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  if as_root apt-get "${own[@]}" update >"$work/log" 2>&1 &&
    (cd "$work" && as_root apt-get "${own[@]}" download qemu-user) >>"$work/log" 2>&1 &&
    dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -xOf - ./usr/bin/qemu-i386 \
      >"$work/qemu-i386" && chmod 755 "$work/qemu-i386" && qemu_is_recent "$work/qemu-i386"; then
    # Renamed into place: a running emulator keeps the old file, and a registration holds it.
    as_root mkdir -p "$DEPS_QEMU_DIR" &&
      as_root cp "$work/qemu-i386" "$DEPS_QEMU_DIR/qemu-i386.new" &&
      as_root mv -f "$DEPS_QEMU_DIR/qemu-i386.new" "$DEPS_QEMU_DIR/qemu-i386" && status=0
  else
    grep -E '^(E|W): ' "$work/log" | head -3 | sed 's/^/deps: apt: /'
  fi
  rm -rf "$work"
  return $status
}

binfmt_write() {
  printf '%s' "$2" | as_root tee "$DEPS_BINFMT/$1" >/dev/null
}

remove_i386_entry() {
  [ ! -e "$DEPS_BINFMT/$I386_ENTRY" ] || binfmt_write "$I386_ENTRY" -1
}

# Flag F opens the emulator now, so the entry works for every user and in every mount namespace.
# The newest entry is consulted first: registered anew, ours comes before any other i386 handler.
register_i386_entry() {
  remove_i386_entry &&
    binfmt_write register ":$I386_ENTRY:M::$I386_MAGIC:$I386_MASK:$1:F"
}

cannot_run_i386() {
  echo "deps: Wine's 32-bit programs cannot run: $*"
  return 1
}

# Mounting binfmt_misc, fetching QEMU and registering it need root; a run that finds all three
# done does not.
have_root() {
  [ "$(id -u)" -eq 0 ] || sudo true ||
    cannot_run_i386 "registering an emulator with binfmt_misc needs root; run this as root or" \
      "with sudo rights"
}

# $1 says why: the kernel cannot, or PRINTER_SETUP_I386 asks for it.
emulate_i386() {
  local why=$1 qemu=$DEPS_QEMU_DIR/qemu-i386 fetched=
  if [ ! -e "$DEPS_BINFMT/register" ]; then
    have_root || return 1
    as_root mount -t binfmt_misc binfmt_misc "$DEPS_BINFMT" >/dev/null 2>&1
    [ -e "$DEPS_BINFMT/register" ] || cannot_run_i386 "this kernel has no binfmt_misc at" \
      "$DEPS_BINFMT to hand them to an emulator; use a kernel with binfmt_misc, or one that" \
      "runs i386 programs" || return 1
  fi
  if ! qemu_is_recent "$qemu"; then
    have_root || return 1
    fetch_qemu || cannot_run_i386 "qemu-user could not be downloaded from" \
      "$DEPS_BACKPORTS_SUITE ($DEPS_BACKPORTS_MIRROR); check that this machine reaches it," \
      "then run this again" || return 1
    fetched=1
  fi
  if [ -n "$fetched" ] || [ "$(i386_entries)" != "$I386_ENTRY $qemu" ]; then
    have_root || return 1
    register_i386_entry "$qemu" || cannot_run_i386 "$DEPS_BINFMT refused the entry" || return 1
    echo "deps: $why: i386 programs now run under $(qemu_version "$qemu")" \
      "($DEPS_BINFMT/$I386_ENTRY, registered until the next restart)"
  else
    echo "deps: i386 programs run under $(qemu_version "$qemu")" \
      "($DEPS_BINFMT/$I386_ENTRY)"
  fi
  "$DEPS_WINE32_LOADER" --version >/dev/null 2>&1 ||
    cannot_run_i386 "$DEPS_WINE32_LOADER does not start under $qemu"
}

# Makes Wine's 32-bit programs run as PRINTER_SETUP_I386 asks.
ensure_i386_programs() {
  case $DEPS_I386_MODE in
    auto | emulated) ;;
    *) cannot_run_i386 "PRINTER_SETUP_I386 is '$DEPS_I386_MODE'; use auto or emulated"; return 1 ;;
  esac
  if [ "$DEPS_I386_MODE" = emulated ]; then
    emulate_i386 "PRINTER_SETUP_I386=emulated"
  elif ! kernel_runs_i386; then
    emulate_i386 "this kernel runs no 32-bit programs itself"
  elif [ -e "$DEPS_BINFMT/$I386_ENTRY" ]; then
    remove_i386_entry || cannot_run_i386 "$DEPS_BINFMT/$I386_ENTRY could not be removed" ||
      return 1
    echo "deps: this kernel runs 32-bit programs itself: took away the qemu-i386 entry that an" \
      "earlier PRINTER_SETUP_I386=emulated run left"
  fi
}

# One line: how Wine's 32-bit programs run here.
describe_i386() {
  local entries entry interpreter
  entries=$(i386_entries)
  # Ours, when it is there, was registered last and so is consulted first.
  entry=$(grep "^$I386_ENTRY " <<<"$entries" || head -1 <<<"$entries")
  interpreter=${entry#* }
  if [ -n "$entry" ]; then
    echo "emulated by $(qemu_version "$interpreter") ($interpreter)"
  elif kernel_runs_i386; then
    echo "natively"
  else
    echo "not at all: this kernel runs none and no emulator is registered"
  fi
}
