# Sourced by run and screenshot: starts the unit simulator on a pty linked as COM5 in a
# private COM folder, and stops it (removing the link) when the calling script ends.
start_simulator() {
    local build="$1"
    comdir="$(mktemp -d /tmp/tarvik2-com.XXXXXX)"
    export TARVIK2_COM_DIR="$comdir"
    mkdir -p "$build/sim-state" "$build/sim-recordings"
    coproc SIM { exec "$build/tarvik2-sim" --com-dir "$comdir" --com-name COM5 \
        --state-dir "$build/sim-state" --recordings "$build/sim-recordings" "${@:2}"; }
    local ready
    read -r -t 10 ready <&"${SIM[0]}" || { echo "the unit simulator did not start" >&2; exit 1; }
    echo "Unit simulator: ${ready#ready } linked as $comdir/COM5 (recordings in $build/sim-recordings)"
    trap stop_simulator EXIT
}

stop_simulator() {
    if [ -n "${SIM_PID:-}" ]; then
        echo quit >&"${SIM[1]}" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -rf "${comdir:-}"
}
