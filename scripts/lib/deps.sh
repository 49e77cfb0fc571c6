# Installs what the builds and tests need, when it is missing. Sourced by scripts/test and
# scripts/demo; prints what it does.

need_packages=()

have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

want() { have_package "$1" || need_packages+=("$1"); }

ensure_dependencies() {
  local with_host_tests=${1:-yes}
  if [ "$with_host_tests" = yes ]; then
    want cmake; want ninja-build; want g++; want libgtest-dev; want libgmock-dev
    want clang; want libclang-rt-14-dev; want clang-tidy; want cppcheck
  fi
  want cmake; want ninja-build; want python3
  want g++-mingw-w64-i686; want g++-mingw-w64-x86-64; want binutils-mingw-w64-i686
  # Wine runs the real exe: wine32 needs the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "deps: adding the i386 architecture for wine32"
    dpkg --add-architecture i386
    need_update=1
  fi
  want wine; want wine32:i386; want wine64
  # The installer examples, and Authenticode signing of the exe.
  want nsis; want wixl; want osslsigncode; want openssl
  if [ ${#need_packages[@]} -gt 0 ]; then
    echo "deps: installing ${need_packages[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need_packages[@]}" >/dev/null
  elif [ -n "${need_update:-}" ]; then
    apt-get update -qq
  fi
  echo "deps: all build and test tools present"
}
