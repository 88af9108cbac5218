# Installs what the build and the tests need, asking apt only for packages
# that are absent.
ZYP_PACKAGES=(
  cmake ninja-build git python3
  clang libclang-rt-14-dev
  googletest nlohmann-json3-dev
  mingw-w64 g++-mingw-w64-x86-64-posix
  wine wine64
  zip
)

zyp_install_packages() {
  local missing=()
  local pkg
  for pkg in "${ZYP_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
