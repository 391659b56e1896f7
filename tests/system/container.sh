# A Debian 12 root booted with systemd-nspawn and entered with nsenter (machinectl and
# systemd-run --machine need systemd-machined, which needs systemd as the host's init). Sourced
# by the scripts beside it, which set $work (a scratch folder) first.
#   boot ROOT [NSPAWN_OPTION...]   until its systemd is up (default --private-network); else
#                                  $boot_problem says what went wrong
#   inside COMMAND...              runs it in the container, as root, with a clean environment
#   stop_container                 powers the container off and waits for systemd-nspawn to end

machine=shelvo-test-$$
nspawn_pid=
leader=
boot_problem=

boot() {
  local root=$1 state deadline
  shift
  [ $# -gt 0 ] || set -- --private-network
  systemd-nspawn --quiet --directory="$root" --machine="$machine" --boot --register=no \
    --keep-unit "$@" > "$work/console.log" 2>&1 < /dev/null &
  nspawn_pid=$!
  leader=
  for _ in $(seq 600); do
    leader=$(pgrep -P "$nspawn_pid" | head -1)
    [ -n "$leader" ] && [ "$(cat "/proc/$leader/comm" 2> /dev/null)" = systemd ] && break
    kill -0 "$nspawn_pid" 2> /dev/null || break
    leader=
    sleep 0.1
  done
  boot_problem="the container did not boot with systemd-nspawn --boot"
  [ -n "$leader" ] || return 1
  # Its systemd runs; a failure from here on is nsenter's, which says why.
  if ! nsenter --target "$leader" --all -- true 2> "$work/nsenter.err"; then
    boot_problem="the container booted but could not be entered: $(head -1 "$work/nsenter.err")"
    return 1
  fi
  # Until the manager answers (its socket comes up during boot), then until it is up.
  deadline=$((SECONDS + 120))
  while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$nspawn_pid" 2> /dev/null; do
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

inside() {
  nsenter --target "$leader" --all -- /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 HOME=/root "$@"
}

stop_container() {
  [ -n "$nspawn_pid" ] || return 0
  kill "$nspawn_pid" 2> /dev/null
  for _ in $(seq 300); do kill -0 "$nspawn_pid" 2> /dev/null || break; sleep 0.1; done
  kill -9 "$nspawn_pid" 2> /dev/null
  wait "$nspawn_pid" 2> /dev/null
  nspawn_pid=
}
