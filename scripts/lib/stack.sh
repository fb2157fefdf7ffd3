# Starts the service, a private bus and the center simulator for one run.
# Sourced by scripts/demo and bench/transfer.sh; expects $top and $build.

plx_pids=()

plx_stack_stop() {
  # The service first, the bus last.
  local i
  for ((i = ${#plx_pids[@]} - 1; i >= 0; i--)); do
    kill "${plx_pids[i]}" 2>/dev/null || true
    wait "${plx_pids[i]}" 2>/dev/null || true
  done
  plx_pids=()
}

# plx_wait PID COMMAND...: runs COMMAND until it succeeds; gives up when
# process PID has ended or after a ceiling only a hang reaches (150 s), so
# that a busy machine only makes it slower.
plx_wait() {
  local pid=$1 end=$((SECONDS + 150))
  shift
  until "$@"; do
    if ! kill -0 "$pid" 2>/dev/null || ((SECONDS >= end)); then
      "$@" # once more: it may have ended right after doing it
      return
    fi
    sleep 0.05
  done
}

plx_has_first_line() { [ -s "$1" ] && head -n 1 "$1" | grep -q .; }

# plx_first_line PID FILE: waits until FILE, written by PID, has a first line and prints it.
plx_first_line() {
  plx_wait "$1" plx_has_first_line "$2" && head -n 1 "$2"
}

plx_ensure_built() {
  bash "$top/scripts/install-deps"
  local targets=(plserv plxdemo PLlog "$@")
  if [ ! -x "$build/bin/plserv" ] || [ ! -x "$build/bin/plxdemo" ] || [ ! -f "$build/bin/libPLlog.so" ]; then
    local n=${#targets[@]} list
    list=$(IFS=,; echo "${targets[*]:0:n-1}" | sed 's/,/, /g')
    echo "building $list and ${targets[n-1]} (first run only)..."
  fi
  [ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja
  cmake --build "$build" --target "${targets[@]}"
}

# plx_bus_start WORK: a private bus; sets and exports PLX_BUS.
plx_bus_start() {
  local work=$1
  dbus-daemon --session --nofork --print-address > "$work/bus.address" 2>/dev/null &
  plx_pids+=("$!")
  PLX_BUS=$(plx_first_line "${plx_pids[-1]}" "$work/bus.address")
  export PLX_BUS
}

# plx_center_sim_start WORK DELIVER_FILE: the center simulator; sets CENTER_PORT.
plx_center_sim_start() {
  local work=$1 deliver=$2
  mkdir -p "$work/center"
  python3 "$top/tests/center/center_sim.py" --port 0 --store "$work/center" \
    --terminal-id 1001 --center-id 9001 --password pw --kind PF01,AK0001,7 --deliver "$deliver" --quiet \
    > "$work/center.started" &
  plx_pids+=("$!")
  local started
  started=$(plx_first_line "${plx_pids[-1]}" "$work/center.started")
  CENTER_PORT=$(printf '%s' "$started" | python3 -c 'import json,sys; print(json.load(sys.stdin)["port"])')
}

plx_service_on_bus() {
  dbus-send --bus="$PLX_BUS" --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:com.korvane.PelorinIO 2>/dev/null | grep -q true
}

# plx_service_start WORK: plconfig.ini with folders under WORK, and the
# service on PLX_BUS with WORK/tmp as its system temporary folder; sets
# SERVICE_PID once the service owns its name.
plx_service_start() {
  local work=$1
  mkdir -p "$work/home" "$work/temp" "$work/tmp" "$work/apilog" "$work/sessionlog"
  cat > "$work/home/plconfig.ini" <<INI
[tempfile]
location=$work/temp
[apilog]
location=$work/apilog
[sessionlog]
location=$work/sessionlog
INI
  TMPDIR="$work/tmp" PLX_HOME="$work/home" PLX_RUNTIME_DIR="$work/run" "$build/bin/plserv" &
  SERVICE_PID=$!
  plx_pids+=("$SERVICE_PID")
  plx_wait "$SERVICE_PID" plx_service_on_bus && return 0
  echo "the service did not start" >&2
  return 1
}

# plx_stack_start WORK DELIVER_FILE: bus, center simulator and service; sets
# PLX_BUS, CENTER_PORT, SERVICE_PID.
plx_stack_start() {
  local work=$1 deliver=$2
  plx_bus_start "$work"
  plx_center_sim_start "$work" "$deliver"
  plx_service_start "$work"
}
