# Installs what the builds and tests need, when it is missing. Sourced by scripts/test,
# scripts/demo and scripts/fuzz; prints what it does. ensure_dependencies returns non-zero, after
# naming the packages it could not install and apt's reason, when the machine cannot have them.
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
  return 1
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
  # The installer examples, and Authenticode signing of the exe.
  want nsis; want wixl; want osslsigncode; want openssl
  if [ ${#need_packages[@]} -gt 0 ]; then
    echo "deps: installing ${need_packages[*]}"
    update_indexes
    install_packages "${need_packages[@]}" || return 1
  elif [ -n "$need_update" ]; then
    update_indexes
  fi
  echo "deps: all build and test tools present"
}
