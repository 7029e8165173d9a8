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
    # The Windows builds compile SQLite in.
    case $1 in *windows*) "$root/scripts/sqlite-amalgamation" ;; esac
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "$jobs"
}

# A private prefix with its own persistent wineserver, started here in the foreground of a
# background job so that its process id is ours; wine_stop_all ends them.
wine_prefixes=()
wine_server_pids=()
wine_server_start() {
    local prefix=$1
    # A server of this prefix left over from an earlier run would not be persistent.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix WINEDEBUG=-all wineserver -f -p &
    wine_prefixes+=("$prefix")
    wine_server_pids+=($!)
}
# Asks the server of the prefix to end itself and the Windows processes it runs (services
# and device hosts outlive a server that is only killed), then makes sure by its pid.
wine_server_stop() {
    local prefix=$1 pid=$2
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
wine_start() {
    local prefix=$1
    mkdir -p "$prefix"
    local try
    for try in 1 2; do
        wine_server_start "$prefix"
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
        wine_server_stop "$prefix" "${wine_server_pids[-1]}"
        unset 'wine_prefixes[-1]' 'wine_server_pids[-1]'
    done
    return 1
}
wine_stop_all() {
    local i
    for i in "${!wine_prefixes[@]}"; do
        wine_server_stop "${wine_prefixes[$i]}" "${wine_server_pids[$i]}"
    done
    wine_prefixes=()
    wine_server_pids=()
}

wine_start_test_prefixes() {
    wine_start "$root/build/windows/wine-unit"
    wine_start "$root/build/windows/wine-e2e"
}

# A private JACK server on the dummy back end, for the tests, the soak and the demo. Its
# name is this script's own (the caller passes one with $$ in it), so that runs in other
# worktrees never meet it; jack_stop ends it by its process id and removes what it left.
#   jack_start BUILD NAME RATE PERIOD [jackd options...]
# Waits until a client can open on it (korvane-jack-card --wait polls, bounded).
jack_server_pid=
jack_server_name=
jack_server_log=
jack_start() {
    local build=$1 name=$2 rate=$3 period=$4
    shift 4
    local log=$build/jackd-$name.log
    jack_server_log=$log
    # Its first megabyte of output is kept: a server in trouble may repeat itself fast.
    JACK_NO_AUDIO_RESERVATION=1 jackd "$@" -n "$name" -d dummy -r "$rate" -p "$period" \
        > >(head -c 1048576 >"$log"; cat >/dev/null) 2>&1 &
    jack_server_pid=$!
    jack_server_name=$name
    if ! "$build/korvane-jack-card" --wait --server "$name" --timeout 30 2>/dev/null; then
        echo "jackd $name did not start:" >&2
        cat "$log" >&2
        jack_stop
        return 1
    fi
}
jack_stop() {
    jack_card_stop
    [ -n "$jack_server_pid" ] || return 0
    kill "$jack_server_pid" 2>/dev/null || true
    wait "$jack_server_pid" 2>/dev/null || true
    # A client's semaphores outlive a server stopped under it.
    rm -f /dev/shm/jack_sem."$(id -u)"_"$jack_server_name"_* /dev/shm/jack_"$jack_server_name"_* \
        "$jack_server_log"
    jack_server_pid=
    jack_server_name=
}

# jackd's scheduling: real-time where the system grants it, as JACK users run it; else
# none, and a busy machine then costs xruns, which korvane reports with code 16.
jack_scheduling() {
    if chrt -f 10 true 2>/dev/null; then
        echo "-R -P 70"
    else
        echo "--no-realtime"
    fi
}

# The tests' stand-in card on that server, as a program; its "ready" line is awaited.
#   jack_card_start BUILD [korvane-jack-card options...]
# Sets jack_card_capture, jack_card_playback (Korvane JACK's patterns) and jack_card_delay.
jack_card_pid=
jack_card_start() {
    local build=$1 fifo line
    shift
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/korvane-card.XXXXXX")
    mkfifo "$fifo"
    "$build/korvane-jack-card" --server "$jack_server_name" "$@" >"$fifo" &
    jack_card_pid=$!
    exec {jack_card_fd}<"$fifo"
    rm -f "$fifo"
    if ! read -r -t 30 -u "$jack_card_fd" line || [ "${line%% *}" != ready ]; then
        echo "the stand-in card did not start" >&2
        jack_card_stop
        return 1
    fi
    read -r _ jack_card_capture jack_card_playback jack_card_delay <<<"$line"
}
jack_card_stop() {
    [ -n "$jack_card_pid" ] || return 0
    kill "$jack_card_pid" 2>/dev/null || true
    wait "$jack_card_pid" 2>/dev/null || true
    exec {jack_card_fd}<&-
    jack_card_pid=
}

# A private PostgreSQL server for the records' tests: its own data folder, listening on a
# Unix socket in that folder only (no TCP port), as an unprivileged user when we are root
# (PostgreSQL refuses to run as root). pg_stop ends it by its process id: the one it started
# with and the one its data folder names now (a test may have restarted it).
#   pg_start   exports KORVANE_TEST_POSTGRES_HOST (the socket's folder), _USER, _DATA, _BIN
#              and _AS (the command prefix that runs a server command as its user)
pg_dir=
pg_pid=
pg_start() {
    local bin
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
    if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
        echo "==== (no PostgreSQL server binaries: the records' server tests skip)"
        return 0
    fi
    pg_dir=$(mktemp -d "${TMPDIR:-/tmp}/korvane-pg.XXXXXX")
    local as=()
    if [ "$(id -u)" -eq 0 ]; then
        as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        chown nobody:nogroup "$pg_dir"
    fi
    "${as[@]}" "$bin/initdb" -D "$pg_dir/data" -U korvane --auth=trust -E UTF8 --no-locale \
        >"$pg_dir/initdb.log" 2>&1 || { cat "$pg_dir/initdb.log" >&2; return 1; }
    # In its configuration, so that a test that stops it can start it again alike; in a zone
    # 14 hours from UTC, where a time read in the server's zone is a day off.
    printf "%s\n" "unix_socket_directories = '$pg_dir/data'" "listen_addresses = ''" \
        "fsync = off" "max_connections = 60" "timezone = 'Pacific/Kiritimati'" \
        >>"$pg_dir/data/postgresql.auto.conf"
    "${as[@]}" "$bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/data/server.log" -w -t 60 start \
        >/dev/null || { cat "$pg_dir/data/server.log" >&2; return 1; }
    pg_pid=$(head -1 "$pg_dir/data/postmaster.pid")
    export KORVANE_TEST_POSTGRES_HOST=$pg_dir/data KORVANE_TEST_POSTGRES_USER=korvane \
        KORVANE_TEST_POSTGRES_DATA=$pg_dir/data KORVANE_TEST_POSTGRES_BIN=$bin \
        KORVANE_TEST_POSTGRES_AS="${as[*]}"
}
pg_stop() {
    [ -n "$pg_dir" ] || return 0
    local pid
    for pid in "$pg_pid" "$(head -1 "$pg_dir/data/postmaster.pid" 2>/dev/null)"; do
        [ -n "$pid" ] || continue
        # SIGINT: a fast shutdown; the server's own children end with it.
        kill -INT "$pid" 2>/dev/null || true
        while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    done
    rm -rf "$pg_dir"
    pg_dir=
    pg_pid=
    unset KORVANE_TEST_POSTGRES_HOST KORVANE_TEST_POSTGRES_USER KORVANE_TEST_POSTGRES_DATA \
        KORVANE_TEST_POSTGRES_BIN KORVANE_TEST_POSTGRES_AS
}
