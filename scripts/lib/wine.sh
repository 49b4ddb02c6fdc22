# A fresh Wine session and the service control manager in it, for
# scripts/test-windows and scripts/test-windows-cycle. Sourced; the caller
# exports WINEPREFIX. The functions print what went wrong on standard error
# and return non-zero; the caller decides how the leg ends.

export WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# The Wine processes of the moment, with their age in seconds.
wine_processes() {
  ps -eo pid,ppid,etimes,stat,args | awk 'NR == 1 || (/wine|\.exe/ && !/ awk /)'
}

# The state of a service as `sc query` shows it (RUNNING, STOPPED, ...);
# empty while the service control manager does not answer.
service_state() { wine sc query "$1" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'; }

# Waits until the service is in the state and prints the seconds it took; after
# the guard it says which state the service is in and fails.
wait_for_state() {  # service state guard-seconds
  local started state
  started=$(date +%s.%N)
  while state=$(service_state "$1"); [ "$state" != "$2" ]; do
    if awk -v a="$started" -v b="$(date +%s.%N)" -v g="$3" 'BEGIN { exit !(b - a > g) }'; then
      echo "$1 is not $2 after $3 s (state: ${state:-no answer from the service control manager})" >&2
      return 1
    fi
    sleep 0.2
  done
  awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f\n", b - a }'
}

# wine sc ARGUMENTS, keeping its evidence in DIR/sc-LABEL.*: its output, its
# exit status, Wine's log of the call and the Wine processes before and after.
# sc reports a failure only in Wine's log (the channels of sc, of the service
# control calls and of RPC), never in its output; on failure all of it is
# printed.
sc_checked() {  # label dir sc-arguments...
  local label=$1 dir=$2 rc=0
  shift 2
  wine_processes >"$dir/sc-$label.ps"
  WINEDEBUG=err+all,warn+all,+sc,+service,+rpc wine sc "$@" >"$dir/sc-$label.out" 2>"$dir/sc-$label.wine.log" || rc=$?
  echo "exit status $rc" >>"$dir/sc-$label.out"
  wine_processes >>"$dir/sc-$label.ps"
  [ "$rc" -eq 0 ] && return 0
  {
    echo "sc $* exited with $rc; its output ($dir/sc-$label.out):"
    tr -d '\r' <"$dir/sc-$label.out" | sed 's/^/  /'
    echo "Wine's log of the call ($dir/sc-$label.wine.log), its failures:"
    grep -aE 'err:|trace:sc|fail' "$dir/sc-$label.wine.log" | tail -40 | sed 's/^/  /'
    echo "the Wine processes before and after ($dir/sc-$label.ps):"
    sed 's/^/  /' "$dir/sc-$label.ps"
  } >&2
  return 1
}

# A fresh prefix at $WINEPREFIX with a persistent wineserver (stop it with
# `wineserver -k`), its logs in DIR, and the session's services ready.
wine_session_start() {  # dir
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  wine wineboot -i >"$1/wine-boot.log" 2>&1 || { echo "wineboot failed, see $1/wine-boot.log" >&2; return 1; }
  wineserver -w
  wineserver -p
  # The first command starts the session's services, which keep its output
  # open: a file, never a pipe. They log their errors there.
  WINEDEBUG=err+all wine cmd /c echo session >"$1/wine-session.log" 2>&1
  wine_session_services "$1"
}

# Waits until the session's service control manager answers, then has RpcSs
# running. COM starts RpcSs on its first use (regsvr32, a COM test), in the
# background of whatever step uses it; while one service is starting the
# manager holds its start-up lock, and any other start waits 3 s for it and
# then fails with 1055 (ERROR_SERVICE_DATABASE_LOCKED). Started here, no start
# is pending behind a later step's back.
#
# A start that sc reports as done can still end with RpcSs stopped (seen once
# on a fresh, loaded machine, with no evidence kept), and a start that COM
# began can fail the same way; so RpcSs is started again each time it is seen
# stopped, at most once every 10 s, each start keeping its evidence, and every
# state seen is written to DIR/rpcss-states.log.
wine_session_services() {  # dir
  local started state last_start=0 starts=0 now
  started=$(date +%s)
  : >"$1/rpcss-states.log"
  : >"$1/rpcss-starts.log"
  while state=$(service_state RpcSs); [ "$state" != RUNNING ]; do
    now=$(date +%s)
    echo "$((now - started)) s: ${state:-no answer}" >>"$1/rpcss-states.log"
    if [ $((now - started)) -gt 120 ]; then
      {
        echo "RpcSs is not RUNNING after 120 s (state: ${state:-no answer from the service control manager}; $starts starts)"
        echo "the states seen ($1/rpcss-states.log):"
        uniq -c -f 2 "$1/rpcss-states.log" | tail -20 | sed 's/^/  /'
        echo "the starts that failed ($1/rpcss-starts.log):"
        tail -40 "$1/rpcss-starts.log" | sed 's/^/  /'
        echo "what each start printed, and its errors (DIR/sc-rpcss-N.*):"
        for f in "$1"/sc-rpcss-*.out; do
          [ -e "$f" ] || continue
          echo "  $f: $(tr -d '\r' <"$f" | awk '$1 == "STATE" { s = $4 } /^exit status/ { e = $0 } END { print s ", " e }')"
          grep -a 'err:' "${f%.out}.wine.log" | tail -5 | sed 's/^/    /'
        done
        echo "the session's errors ($1/wine-session.log):"
        grep -a 'err:' "$1/wine-session.log" | tail -20 | sed 's/^/  /'
        echo "the Wine processes:"
        wine_processes | sed 's/^/  /'
      } >&2
      return 1
    fi
    if [ "$state" = STOPPED ] && [ $((now - last_start)) -ge 10 ]; then
      starts=$((starts + 1))
      last_start=$now
      # A start that fails (the lock of another start, or RpcSs started by
      # COM in between) is looked at again on the next turn.
      sc_checked "rpcss-$starts" "$1" start RpcSs 2>>"$1/rpcss-starts.log" || true
    fi
    sleep 0.2
  done
}
