# Booted Debian 12 containers, for the scripts beside it and tests/fleet: a root made once with
# debootstrap and cached, booted with systemd-nspawn and entered with nsenter (machinectl and
# systemd-run --machine need systemd-machined, which needs systemd as the host's init). Sourced
# by a script that sets $work (a scratch folder) and defines skip REASON (exit 77) first.
#   cached_root BASE PACKAGES      makes the Debian 12 minbase root BASE with PACKAGES (comma-
#                                  separated) unless it is there; concurrent runs wait for it
#   boot ROOT [NSPAWN_OPTION...]   boots ROOT as the container `main` (default --private-network)
#                                  and waits until its systemd is up; else $boot_problem says
#                                  what went wrong
#   inside COMMAND...              runs it in `main`, as root, with a clean environment
#   start_container NAME ROOT [NSPAWN_OPTION...], booted NAME, inside_container NAME COMMAND...
#                                  the same for a container of another name, several at a time
#   powered_off NAME               until NAME's systemd-nspawn has ended (after a reboot inside)
#   stop_containers                powers every container off and waits for systemd-nspawn
#   check NAME COMMAND...          one step of a test: "ok: NAME", or "FAILED: NAME" and the
#                                  command's output; $passed and $failed count them
# Each container's console goes to $work/console-NAME.log.

declare -A container_pid container_leader
boot_problem=
passed=0
failed=0

cached_root() {
  local base=$1 packages=$2 lock
  mkdir -p "$(dirname "$base")"
  exec {lock}> "$base.lock"
  flock "$lock"
  if [ ! -e "$base/.complete" ]; then
    echo "making the Debian 12 root in $base (cached for later runs)"
    rm -rf "$base.partial"
    debootstrap --variant=minbase --include="$packages" bookworm "$base.partial" \
      > "$work/debootstrap.log" 2>&1 || {
      tail -20 "$work/debootstrap.log"
      skip "debootstrap failed"
    }
    # No timers of apt's own to run during a test.
    rm -f "$base.partial"/etc/systemd/system/timers.target.wants/apt-daily*.timer
    touch "$base.partial/.complete"
    rm -rf "$base"
    mv "$base.partial" "$base"
  fi
  exec {lock}>&-
}

start_container() {
  local name=$1 root=$2
  shift 2
  [ $# -gt 0 ] || set -- --private-network
  systemd-nspawn --quiet --directory="$root" --machine="shelvo-$name-$$" --boot --register=no \
    --keep-unit "$@" > "$work/console-$name.log" 2>&1 < /dev/null &
  container_pid[$name]=$!
  container_leader[$name]=
}

booted() {
  local name=$1 pid=${container_pid[$1]} leader= state deadline
  for _ in $(seq 600); do
    leader=$(pgrep -P "$pid" | head -1)
    [ -n "$leader" ] && [ "$(cat "/proc/$leader/comm" 2> /dev/null)" = systemd ] && break
    kill -0 "$pid" 2> /dev/null || break
    leader=
    sleep 0.1
  done
  boot_problem="the container did not boot with systemd-nspawn --boot"
  [ -n "$leader" ] || return 1
  container_leader[$name]=$leader
  # Its systemd runs; a failure from here on is nsenter's, which says why.
  if ! nsenter --target "$leader" --all -- true 2> "$work/nsenter.err"; then
    boot_problem="the container booted but could not be entered: $(head -1 "$work/nsenter.err")"
    return 1
  fi
  # Until the manager answers (its socket comes up during boot), then until it is up.
  deadline=$((SECONDS + 120))
  while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$pid" 2> /dev/null; do
    state=$(timeout 120 nsenter --target "$leader" --all -- systemctl is-system-running --wait \
      2> /dev/null)
    case "$state" in
      running | degraded) return 0 ;;
      "") sleep 0.2 ;;
      *) break ;;
    esac
  done
  boot_problem="the container did not finish booting (systemd says: ${state:-nothing})"
  return 1
}

boot() {
  start_container main "$@"
  booted main
}

inside_container() {
  local leader=${container_leader[$1]}
  shift
  nsenter --target "$leader" --all -- /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 HOME=/root "$@"
}

inside() {
  inside_container main "$@"
}

powered_off() {
  local pid=${container_pid[$1]}
  for _ in $(seq 1200); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2> /dev/null && return 1
  wait "$pid" 2> /dev/null
  unset "container_pid[$1]" "container_leader[$1]"
}

stop_containers() {
  local name pid
  for pid in "${container_pid[@]}"; do kill "$pid" 2> /dev/null; done
  for name in "${!container_pid[@]}"; do
    pid=${container_pid[$name]}
    for _ in $(seq 300); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
    unset "container_pid[$name]" "container_leader[$name]"
  done
}

check() {
  local name=$1
  shift
  if "$@" > "$work/out" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    sed 's/^/    /' "$work/out"
  fi
}
