# Shared by the scripts: the repository root, timed stages and Wine prefixes.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "==== $name"
    "$@"
    echo "==== $name: $((SECONDS - start)) s"
}

configure_and_build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "$jobs"
}

# A private prefix with its own persistent wineserver; wine_stop_all ends them.
wine_prefixes=()
wine_start() {
    local prefix=$1
    mkdir -p "$prefix"
    wine_prefixes+=("$prefix")
    local try
    for try in 1 2; do
        # A server left over from an earlier run would not be persistent: start afresh.
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        WINEPREFIX=$prefix WINEDEBUG=-all wineserver -p || true
        if [ ! -f "$prefix/system.reg" ]; then
            WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
                timeout 300 wineboot -i >/dev/null 2>&1 || true
        fi
        # The first process of a prefix starts its services; once they run, later starts
        # are quick. A first start that hangs is retried with a fresh server.
        if WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            timeout 120 wine cmd /c exit >/dev/null 2>&1; then
            return 0
        fi
        echo "wine: first start in $prefix did not finish; restarting its server"
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        sleep 2
    done
    return 1
}
wine_stop_all() {
    local prefix
    for prefix in "${wine_prefixes[@]}"; do
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    done
    wine_prefixes=()
}

wine_start_test_prefixes() {
    wine_start "$root/build/windows/wine-unit"
    wine_start "$root/build/windows/wine-e2e"
}
