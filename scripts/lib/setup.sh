# Installs what the build and the tests need, asking apt only for packages
# that are absent.
ZYP_PACKAGES=(
  cmake ninja-build git python3
  clang libclang-rt-14-dev
  googletest nlohmann-json3-dev
  mingw-w64 g++-mingw-w64-x86-64-posix
  wine wine64
  zip
  # The Windows Installer packages: wixl builds them, libmsi's Python
  # bindings make them reproducible, msitools' msidump names what differs.
  wixl msitools python3-gi gir1.2-libmsi-1.0
)

# Node.js makes the browser extension's archives and runs its checks and
# tests: Debian's when the machine has none.
ZYP_NODE_PACKAGES=()
command -v node >/dev/null 2>&1 || ZYP_NODE_PACKAGES=(nodejs npm)
# The browser families the tests drive, and their German interface; an X
# display of the tests' own with a person's keys and pointer (xdotool) and
# what the screen shows (xwd), for what answers only to those.
ZYP_BROWSER_PACKAGES=(chromium firefox-esr chromium-l10n firefox-esr-l10n-de xvfb xdotool x11-apps)

zyp_install_packages() { # [more packages...]
  local missing=()
  local pkg
  for pkg in "${ZYP_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The npm packages pinned in package-lock.json (linter, type checker,
# browser automation), installed into node_modules only when it does not
# hold them yet, so that a run without the registry works once they are in
# place. No install script runs and no package fetches a browser: the tests
# drive Debian's.
zyp_npm_install() { # $1 = the checkout
  local stamp="$1/node_modules/.zyp-package-lock.sha256" want
  want=$(sha256sum "$1/package-lock.json" | cut -d' ' -f1)
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && return 0
  (cd "$1" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) || return 1
  echo "$want" >"$stamp"
}
