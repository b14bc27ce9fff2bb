# shellcheck shell=bash
# Sourced by run and screenshot: starts the unit simulator on a pty linked as COM5 in a
# private COM folder, and stops it (removing the folder) when the calling script ends.
#
# Whatever a script starts is undone by the steps in cleanup_steps, last first, when the
# script ends for any reason: the trap is in place before anything is started, so a failed
# start cleans up too.
cleanup_steps=()
run_cleanup() {
    local i
    for ((i = ${#cleanup_steps[@]} - 1; i >= 0; i--)); do
        "${cleanup_steps[i]}" || true
    done
}
trap run_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_simulator() {
    local build="$1"
    cleanup_steps+=(stop_simulator)
    comdir="$(mktemp -d /tmp/tarvik2-com.XXXXXX)" || { echo "no temporary COM folder" >&2; exit 1; }
    export TARVIK2_COM_DIR="$comdir"
    mkdir -p "$build/sim-state" "$build/sim-recordings"
    coproc SIM { exec "$build/tarvik2-sim" --com-dir "$comdir" --com-name COM5 \
        --state-dir "$build/sim-state" --recordings "$build/sim-recordings" "${@:2}"; }
    local ready
    read -r -t 10 ready <&"${SIM[0]}" || { echo "the unit simulator did not start" >&2; exit 1; }
    echo "Unit simulator: ${ready#ready } linked as $comdir/COM5 (recordings in $build/sim-recordings)"
}

stop_simulator() {
    if [ -n "${SIM_PID:-}" ]; then
        { echo quit 1>&"${SIM[1]}"; } 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -rf "${comdir:-}"
}
