# Shared by wine-run, scripts/run and scripts/test: the build tree's own Wine
# prefix, created on first use with the null display driver, and a wineserver
# whose output never reaches a caller that captures ours.

zyp_wine_env() { # $1 = build folder
    export WINEPREFIX="$1/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEARCH=win64
}

zyp_wine_server() {
    # A second start while one runs is refused by wineserver itself.
    wineserver -p"${ZYP_WINESERVER_PERSIST:-30}" </dev/null >/dev/null 2>&1 || true
}

zyp_wine_prefix() {
    [ -f "$WINEPREFIX/.zyp-ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -f "$WINEPREFIX/.zyp-ready" ] && exit 0
        zyp_wine_server
        wineboot -i </dev/null >/dev/null 2>&1
        # Without X, windows exist only with the null driver; the key must be
        # in place before any program that creates a window starts.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
        wineserver -k </dev/null >/dev/null 2>&1 || true
        wineserver -w </dev/null >/dev/null 2>&1 || true
        touch "$WINEPREFIX/.zyp-ready"
    ) 9>"$WINEPREFIX.lock"
}
