# Shared by wine-run, scripts/run, scripts/test and the benchmarks: the Wine
# programs, found once here; the build tree's own Wine prefix, created on first
# use with the null display driver; and a wineserver whose output never reaches
# a caller that captures ours.

# Sets ZYP_WINE64, the command that runs every Windows program here, and
# ZYP_WINESERVER. ZYP_WINE_LOADER (the 64-bit loader; not the `wine` wrapper,
# which would say each time that wine32 is missing) and ZYP_WINESERVER may be
# set beforehand to use another Wine.
#
# Debian's wine64 comes without Wine's preloader, which keeps the addresses
# every Windows process needs free before anything else is mapped. With
# address-space randomisation the loader's heap then lands on the shared user
# data page (0x7ffe0000) about once in a few thousand starts, and the program
# dies at once with exit code 1, saying why only with WINEDEBUG=err ("failed to
# map the shared user data"). Without randomisation the heap starts right
# after the loader, far below that page, and the programs Wine starts inherit
# the layout. Where randomisation cannot be switched off, Wine runs as it is.
zyp_wine_programs() {
    local here fixed
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    fixed="$here/wine64-fixed-layout"
    if [ -z "${ZYP_WINE_LOADER:-}" ]; then
        local candidate
        for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
            [ -x "$candidate" ] && ZYP_WINE_LOADER=$candidate && break
        done
    fi
    ZYP_WINESERVER=${ZYP_WINESERVER:-$(command -v wineserver || true)}
    if [ -z "${ZYP_WINE_LOADER:-}" ] || [ -z "$ZYP_WINESERVER" ]; then
        echo "wine-env: no 64-bit Wine (looked for /usr/lib/wine/wine64, wine64 and wineserver): install wine64" >&2
        return 1
    fi
    if [ "${ZYP_WINE64:-}" != "$fixed" ]; then
        ZYP_WINE64=$ZYP_WINE_LOADER
        setarch "$(uname -m)" -R true 2>/dev/null && ZYP_WINE64=$fixed
    fi
    export ZYP_WINE_LOADER ZYP_WINE64 ZYP_WINESERVER
}

zyp_wine_env() { # $1 = build folder
    zyp_wine_programs || return 1
    export WINEPREFIX="$1/wineprefix"
    # Quiet by default; ZYP_WINEDEBUG (say err+all) shows Wine's own errors
    # in a scratch run, such as a program that dies before it prints.
    export WINEDEBUG=${ZYP_WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEARCH=win64
}

zyp_wine_server() {
    # Wine's own services (services.exe, winedevice.exe ...) inherit the
    # output of the program that happens to start them and outlive it; a
    # caller that reads that output through a pipe would wait for them. So a
    # fresh server gets its services started here, with no output attached.
    # ZYP_WINESERVER_PERSIST: seconds the server outlives its last program
    # (empty: until it is stopped).
    (
        flock 8
        # The server and the services outlive this call: they must not keep
        # the lock's descriptor open.
        # What the server says goes to a log beside the prefix: it kills a
        # client it finds at fault with exit code 1, and says why only there.
        if "$ZYP_WINESERVER" -p"${ZYP_WINESERVER_PERSIST-30}" </dev/null >>"$WINEPREFIX.server.log" 2>&1 8>&-; then
            "$ZYP_WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1 8>&- || true
        fi
    ) 8>"$WINEPREFIX.server.lock"
}

# The wineserver's log (see zyp_wine_server): a mark of how much it holds,
# and the first lines it gained after a mark; the latter fails when it
# gained none.
zyp_server_log_mark() { stat -c %s "$WINEPREFIX.server.log" 2>/dev/null || echo 0; }
zyp_server_said_since() { # $1 = a mark
    [ "$(zyp_server_log_mark)" -gt "$1" ] || return 1
    tail -c +$(($1 + 1)) "$WINEPREFIX.server.log" | head -n 20 || true
}

zyp_wine_prefix() {
    [ -f "$WINEPREFIX/.zyp-ready" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -f "$WINEPREFIX/.zyp-ready" ] && exit 0
        # What the steps print is kept beside the prefix and shown when one
        # fails: a prefix that cannot be made must say why.
        log="$WINEPREFIX.setup.log"
        : >"$log"
        step() {
            "$@" </dev/null >>"$log" 2>&1 9>&- && return 0
            local rc=$?
            echo "wine-env: making the Wine prefix $WINEPREFIX: '$*' failed with exit code $rc; its output ($log):" >&2
            tail -n 30 "$log" >&2
            exit 1
        }
        "$ZYP_WINESERVER" -p5 </dev/null >>"$log" 2>&1 9>&- || true
        step "$ZYP_WINE64" wineboot.exe -i
        # Without X, windows exist only with the null driver; the key must be
        # in place before any program that creates a window starts.
        step "$ZYP_WINE64" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        # wineboot returns while the first boot still goes on: it restarts the
        # services, and the desktop it started knows nothing of the key. Killing
        # the server here would cut that work off, and the first test would
        # meet its remains. Instead the server ends by itself once the last
        # program is gone: it stops the services, the desktop ends, the
        # registry is saved.
        "$ZYP_WINESERVER" -w </dev/null >>"$log" 2>&1 9>&- || true
        touch "$WINEPREFIX/.zyp-ready"
    ) 9>"$WINEPREFIX.lock"
}

# True for a command line of Wine's own processes in a prefix (the server, its
# services, the desktop): they come and go by themselves, apart from ours.
zyp_wine_own_process() { # $1 = command line
    case "$1" in
        *wineserver* | *'\services.exe'* | *'\winedevice.exe'* | *'\plugplay.exe'* | *'\svchost.exe'* | \
            *'\rpcss.exe'* | *'\explorer.exe'* | *'\conhost.exe'* | '') return 0 ;;
    esac
    return 1
}

# Prints the Windows path of a Unix path (or the Unix path of a Windows one,
# with -u) in the prefix.
zyp_winepath() { # [-u] path
    "$ZYP_WINE64" winepath.exe "$@" </dev/null 2>/dev/null
}
