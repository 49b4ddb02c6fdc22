# The whole backup and restore cycle of a host with two partitioned servers,
# driven with arkctl, and its verdict table: shared by scripts/demo (a
# simulated host on Linux) and scripts/test-windows-cycle (the Windows build
# under Wine). Sourced; the caller sets
#   work                     a scratch folder (outputs of the phases)
#   arkctl                   the arkctl program; port, the service's port
#   ini                      Windows path of srv1's notes.ini
#   data_dir, log_dir        host paths of srv1's data directory and log directory
#   log_win                  Windows path of srv1's log directory
#   rate                     transactions per second of the workload
# and defines the host's operations:
#   host_digest FILE [--content]   one "<path> <sha256>" line per database of srv1 (exit status
#                            non-zero on failure); --content: of the content alone, without the ids
#   host_server_start SEED   starts srv1's nserver writing, in the background
#   host_server_stop         stops it and waits for it
#   host_server_run SEED SECONDS   runs srv1's nserver for that long
# then calls run_cycle and print_verdicts "whole LABEL" START; $failed is 1
# when a verdict failed.

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
step() { printf '\n== %s\n' "$*"; }

# The verdict table: one row per phase.
rows=()
failed=0
verdict() { # phase seconds result ok|FAIL
  rows+=("$(printf '%-40s %7s  %-4s  %s' "$1" "$2" "$4" "$3")")
  [ "$4" = ok ] || failed=1
}
print_verdicts() { # label start
  printf '\n== verdict\n'
  printf '%-40s %7s  %-4s  %s\n' "phase" "seconds" "" "result"
  local row
  for row in "${rows[@]}"; do printf '%s\n' "$row"; done
  printf '%-40s %7s\n' "$1" "$(since "$2")"
}
abort() { # a phase that the rest depends on failed
  echo "ERROR: $*"
  print_verdicts "stopped after an error" "$cycle_start"
  exit 1
}

# Long runs of alike lines (log archiving, log copies, recovery progress)
# shown as their first line, a count and their last line.
condense() {
  awk '
    function key(l) { split(l, w, " "); return w[1] " " w[2] }
    function flush() {
      if (n > 3) { print first; printf "   ... %d more like this ...\n", n - 2; print last }
      else for (i = 1; i <= n; i++) print held[i]
      n = 0
    }
    { sub(/\r$/, "") }
    n > 0 && key($0) == k { n++; last = $0; if (n <= 3) held[n] = $0; next }
    { flush(); k = key($0); n = 1; first = $0; last = $0; held[1] = $0 }
    END { flush() }'
}

# arkctl with its output shown (condensed) and kept in $work/ctl.out.
ctl() {
  printf '$ arkctl %s\n' "$*"
  local rc=0
  "$arkctl" --host 127.0.0.1 --port "$port" "$@" >"$work/ctl.out" 2>&1 || rc=$?
  condense <"$work/ctl.out"
  [ "$rc" -eq 0 ] || printf '(exit code %d)\n' "$rc"
  return "$rc"
}

digest() { # file [--content]: one "<path> <sha256>" line per database; damaged ones say ERROR
  local rc=0
  host_digest "$@" || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "(digest exit code $rc)"
    sed 's/^/  /' "$1"
  fi
}

# Compares the digests of the named databases; prints one line per database
# and sets $equal and $compared.
compare() { # expected actual names-file
  equal=0
  compared=0
  local name want got
  while IFS= read -r name; do
    compared=$((compared + 1))
    want=$(N="$name" awk '$1 == ENVIRON["N"] { print $2 }' "$1")
    got=$(N="$name" awk '$1 == ENVIRON["N"] { print $2 }' "$2")
    if [ -n "$want" ] && [ "$want" = "$got" ]; then
      equal=$((equal + 1))
      printf '  equal      %s\n' "$name"
    else
      printf '  DIFFERENT  %s (%s)\n' "$name" "${got:-missing or damaged}"
    fi
  done <"$3"
}

run_cycle() {
  cycle_start=${cycle_start:-$(now)}
  local t found deleted snapshot_b restorable seconds ok copied recovered logs complete report mailbox

  step "discovery"
  t=$(now)
  ctl discover || abort "discovery failed"
  found=$(grep -c '^partition [0-9]*: ' "$work/ctl.out" || true)
  if [ "$found" -eq 2 ]; then verdict "discovery" "$(since "$t")" "2 partitioned servers" ok
  else verdict "discovery" "$(since "$t")" "$found servers found, 2 expected" FAIL; fi

  step "backup A: srv1 idle"
  t=$(now)
  ctl backup srv1 || abort "backup A failed"
  verdict "backup A (idle)" "$(since "$t")" "snapshot taken" ok
  sleep 1 # snapshot names carry the second of their creation

  step "workload on srv1 (nserver, $rate transactions/s) and backup B while it writes"
  host_server_start 11 || abort "nserver did not start"
  t=$(now)
  ctl backup srv1 || abort "backup B failed"
  verdict "backup B (nserver writing)" "$(since "$t")" "$(grep -c '^Archiving ' "$work/ctl.out" || true) logs archived" ok
  grep -o 'Database .* is disabled for logging' "$work/ctl.out" | sed 's/^Database \(.*\) is disabled for logging$/\1/' \
    >"$work/unlogged.txt" || true
  echo "more workload for 2 seconds..."
  sleep 2
  host_server_stop

  step "backup C with retention (--keep 2), srv1 stopped"
  digest "$work/digest-C.txt"
  t=$(now)
  ctl backup srv1 --keep 2 || abort "backup C failed"
  deleted=$(tr -d '\r' <"$work/ctl.out" | sed -n 's/.*: Deleted \([0-9]*\) snapshots$/\1/p')
  if [ "$deleted" = 1 ]; then verdict "backup C --keep 2 (stopped)" "$(since "$t")" "1 old snapshot deleted" ok
  else verdict "backup C --keep 2 (stopped)" "$(since "$t")" "deleted ${deleted:-?} snapshots, 1 expected" FAIL; fi
  ctl snapshots srv1
  "$arkctl" --host 127.0.0.1 --port "$port" --json snapshots srv1 >"$work/snapshots.json"
  snapshot_b=$(grep -o '"name": "[^"]*"' "$work/snapshots.json" | sed 's/"name": "\(.*\)"/\1/' | grep -vi '__recent$' | head -1)
  [ -n "$snapshot_b" ] || abort "backup B's snapshot is not listed"
  echo "backup B is snapshot $snapshot_b; backup C is the recent one"
  t=$(now)
  ctl verify srv1 || true
  restorable=$(grep -c ': restorable up to the minute' "$work/ctl.out" || true)
  if [ "$restorable" -eq 2 ]; then verdict "verify" "$(since "$t")" "both snapshots restorable up to the minute" ok
  else verdict "verify" "$(since "$t")" "$restorable of 2 snapshots restorable up to the minute" FAIL; fi

  step "point-in-time restore of backup C after deleting names.nsf"
  rm -f "$data_dir/names.nsf"
  awk '{ print $1 }' "$work/digest-C.txt" >"$work/compare-pit.txt"
  t=$(now)
  if ctl restore srv1 recent --point-in-time --yes; then
    seconds=$(since "$t")
    digest "$work/digest-pit.txt"
    echo "every database against its digest taken before backup C (srv1 was stopped):"
    compare "$work/digest-C.txt" "$work/digest-pit.txt" "$work/compare-pit.txt"
    [ "$equal" -eq "$compared" ] && ok=ok || ok=FAIL
    verdict "restore C point in time" "$seconds" "$equal/$compared databases equal (all)" "$ok"
  else
    verdict "restore C point in time" "$(since "$t")" "restore failed" FAIL
  fi

  step "more workload on srv1 (3 seconds), then damage"
  t=$(now)
  host_server_run 12 3 || abort "nserver failed"
  digest "$work/digest-live.txt"
  ls "$log_dir" >"$work/logs-before.txt"
  echo "log directory $log_win: $(grep -c . "$work/logs-before.txt") files"
  rm -f "$data_dir/names.nsf"
  mailbox="$data_dir/mail.box"
  printf 'this page was overwritten' | dd of="$mailbox" bs=1 seek=$((4096 * 2 + 100)) conv=notrunc status=none
  echo "deleted names.nsf, overwrote part of a page of mail.box; the digest now says:"
  digest "$work/digest-damaged.txt"
  if grep -q 'mail.box ERROR' "$work/digest-damaged.txt"; then
    verdict "workload, then damage" "$(since "$t")" "names.nsf deleted, mail.box damaged" ok
  else
    verdict "workload, then damage" "$(since "$t")" "the damage to mail.box is not seen" FAIL
  fi

  step "up-to-the-minute restore of backup B"
  # Logged databases roll forward to the live state; templates, log.nsf and
  # databases without logging stay at the snapshot's state.
  awk '{ print $1 }' "$work/digest-live.txt" | grep -viE '\.ntf$|\\log\.nsf$' | grep -vxFf "$work/unlogged.txt" \
    >"$work/compare-uttm.txt" || true
  t=$(now)
  if ctl restore srv1 "$snapshot_b" --yes; then
    seconds=$(since "$t")
    copied=$(grep -c '^Copying log file : ' "$work/ctl.out" || true)
    # Recovery's own progress, read from its standard output by the capture.
    recovered=$(tr -d '\r' <"$work/ctl.out" | grep -c '^Recovering database ' || true)
    digest "$work/digest-uttm.txt"
    echo "logged databases (not templates, not log.nsf) against their digests before the damage:"
    compare "$work/digest-live.txt" "$work/digest-uttm.txt" "$work/compare-uttm.txt"
    ls "$log_dir" >"$work/logs-after.txt"
    if cmp -s "$work/logs-before.txt" "$work/logs-after.txt"; then logs="log directory as before"
    else logs="log directory CHANGED"; diff "$work/logs-before.txt" "$work/logs-after.txt" | head -5 || true; fi
    echo "$copied logs were copied from the ArkLedger for the recovery; $logs"
    echo "$recovered lines of recovery's own output reached the client"
    [ "$equal" -eq "$compared" ] && [ "$compared" -gt 0 ] && [ "$logs" = "log directory as before" ] &&
      [ "$recovered" -gt 0 ] && ok=ok || ok=FAIL
    verdict "restore B up to the minute" "$seconds" "$equal/$compared logged databases equal; $copied logs copied, $logs; $recovered recovery lines" "$ok"
  else
    verdict "restore B up to the minute" "$(since "$t")" "restore failed" FAIL
  fi

  step "reports"
  t=$(now)
  ctl reports list backup || true
  ctl reports list delete-snapshot || true
  ctl reports list restore || true
  complete=0
  for report in $(tr -d '\r' <"$work/ctl.out"); do
    "$arkctl" --host 127.0.0.1 --port "$port" reports show restore "$report" |
      grep -q 'SNAPSHOT RESTORE AND RECOVERY COMPLETE\.' && complete=$((complete + 1))
  done
  echo "$complete restore reports say SNAPSHOT RESTORE AND RECOVERY COMPLETE."
  if [ "$complete" -eq 2 ]; then verdict "reports" "$(since "$t")" "2 restore reports, both complete" ok
  else verdict "reports" "$(since "$t")" "$complete of 2 restore reports complete" FAIL; fi

  restore_db_step
  drill_step
}

# One database restored to the snapshot's time, into restore\, while nserver
# writes: the copy's content must be the database's content when the backup
# took it (srv1 stopped, so also at the snapshot's time), the live database
# stays the same file and online, and no temporary copy remains.
restore_db_step() {
  local db='mail\user1.nsf' live="$data_dir/mail/user1.nsf" data_win inode t seconds want got problems=()
  data_win=${ini%notes.ini} # srv1's data directory, Windows path ending in a backslash
  step "backup D (srv1 stopped), then restore-db $db while nserver writes"
  digest "$work/digest-D.txt" --content
  ctl backup srv1 || abort "backup D failed"
  sleep 1 # the snapshot's time is to the second: the workload's transactions come after it
  (cd "$data_dir" && find . -type f | sort) >"$work/files-before-restore-db.txt"
  inode=$(stat -c %i "$live")
  host_server_start 13 || abort "nserver did not start"
  t=$(now)
  ctl restore-db srv1 "$db" --yes || problems+=("restore-db failed")
  seconds=$(since "$t")
  host_server_stop
  grep -qF "$db -> ${data_win}restore\\$db" "$work/ctl.out" || problems+=("no line naming the copy")
  grep -q '^DATABASE RESTORE COMPLETE: 1 databases restored\.' "$work/ctl.out" || problems+=("not complete")
  digest "$work/digest-restore-db.txt" --content
  want=$(N="$data_win$db" awk '$1 == ENVIRON["N"] { print $2 }' "$work/digest-D.txt")
  got=$(N="${data_win}restore\\$db" awk '$1 == ENVIRON["N"] { print $2 }' "$work/digest-restore-db.txt")
  echo "content of $db in backup D: ${want:-missing}; of the restored copy: ${got:-missing}"
  [ -n "$want" ] && [ "$want" = "$got" ] || problems+=("copy's content differs")
  # The live database: the same file, still readable, never taken offline under the server.
  [ "$(stat -c %i "$live")" = "$inode" ] || problems+=("live database replaced")
  N="$data_win$db" awk '$1 == ENVIRON["N"] && $2 ~ /^[0-9a-f]+$/ { found = 1 } END { exit !found }' \
    "$work/digest-restore-db.txt" || problems+=("live database unreadable")
  ! grep -q 'is offline\|failed' "$work/nserver1.err" || problems+=("nserver saw a database offline or a failed write")
  # Nothing came or went in the data directory but the copy (no temporary file left).
  (cd "$data_dir" && find . -type f | sort) >"$work/files-after-restore-db.txt"
  if ! diff "$work/files-before-restore-db.txt" "$work/files-after-restore-db.txt" >"$work/files-restore-db.diff"; then
    sed 's/^/  /' "$work/files-restore-db.diff"
  fi
  [ "$(grep '^[<>]' "$work/files-restore-db.diff")" = "> ./restore/mail/user1.nsf" ] ||
    problems+=("files other than the copy came or went")
  if [ "${#problems[@]}" -eq 0 ]; then
    verdict "restore-db (nserver writing)" "$seconds" "copy's content = backup D's; live database kept; no temporary file" ok
  else
    verdict "restore-db (nserver writing)" "$seconds" "$(IFS=';'; echo "${problems[*]}")" FAIL
  fi
}

# A drill of backup D's snapshot while nserver writes: it must pass and count
# every database of srv1, and leave the data directory as it found it.
drill_step() {
  local t seconds passed problems=()
  step "drill of srv1's newest snapshot while nserver writes"
  (cd "$data_dir" && find . -type f | sort) >"$work/files-before-drill.txt"
  host_server_start 17 || abort "nserver did not start"
  t=$(now)
  ctl drill srv1 || problems+=("drill failed")
  seconds=$(since "$t")
  host_server_stop
  passed=$(sed -n 's/^DRILL PASSED: \([0-9]*\) of \1 databases restored and sound.*/\1/p' "$work/ctl.out" | tr -d '\r')
  [ -n "$passed" ] || problems+=("no DRILL PASSED line")
  (cd "$data_dir" && find . -type f | sort) >"$work/files-after-drill.txt"
  diff -q "$work/files-before-drill.txt" "$work/files-after-drill.txt" >/dev/null || problems+=("files of the data directory came or went")
  if [ "${#problems[@]}" -eq 0 ]; then
    verdict "drill (nserver writing)" "$seconds" "$passed of $passed databases restored and sound; nothing left" ok
  else
    verdict "drill (nserver writing)" "$seconds" "$(IFS=';'; echo "${problems[*]}")" FAIL
  fi
}
