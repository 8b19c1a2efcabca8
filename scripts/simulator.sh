# Sourced by the scripts and the tools' tests that run the simulator in the
# background: its process id goes in $sim; stop_simulator stops it and may be
# called any number of times (from an EXIT trap too).
sim=
stop_simulator() {
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    sim=
  fi
  return 0
}
