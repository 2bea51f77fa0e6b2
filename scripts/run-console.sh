#!/usr/bin/env bash
# Builds the console and starts it. With no tracker attached (no USB CDC ACM port), a virtual
# tracker is started first and ended together with the console. Without a display the console
# runs on a virtual one (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target tracker-console tracker-sim

console=(build/dev/app/tracker-console)
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display: running on a virtual one (xvfb-run)."
  console=(xvfb-run -a -s "-screen 0 1600x1000x24" "${console[@]}")
fi

sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

if ! compgen -G "/dev/ttyACM*" >/dev/null; then
  echo "No tracker attached: starting the virtual tracker."
  build/dev/tools/sim/tracker-sim --glonass &
  sim_pid=$!
  sleep 0.3
fi

"${console[@]}"
