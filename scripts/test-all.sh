#!/usr/bin/env bash
# Runs every test of the project: the native suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency stress under
# ThreadSanitizer, one valgrind memcheck pass, a real Prometheus scraping
# qvperf's exporter, a provider process that breaks the shared-memory protocol
# against a sampling collector under the sanitizers, bounded fuzzing, both
# Windows DLL builds with their PE checks, the provider SDK built from its
# installed package on every target, and the end-to-end tests under Wine, the
# installer's included.
# Prints one summary line per step and fails when any step fails.
set -uo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
FUZZ_SECONDS=${FUZZ_SECONDS:-40}          # per target: ten targets, about 7 minutes
PROTOCOL_SECONDS=${PROTOCOL_SECONDS:-24}
declare -a summary=()
status=0

step() {  # step NAME COMMAND...
  local name=$1; shift
  local start=$SECONDS
  echo "=== $name"
  if "$@"; then
    summary+=("PASS  $name ($((SECONDS - start))s)")
  else
    summary+=("FAIL  $name ($((SECONDS - start))s)")
    status=1
  fi
}

native() {
  cmake --preset linux >/dev/null && cmake --build --preset linux -j"$JOBS" &&
    ctest --test-dir build/linux -j"$JOBS" --output-on-failure
}

sanitized() {
  cmake --preset linux-asan >/dev/null && cmake --build --preset linux-asan -j"$JOBS" &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build/linux-asan -j"$JOBS" --output-on-failure
}

thread_sanitized() {
  cmake -S . -B build/linux-tsan -DCMAKE_BUILD_TYPE=Debug -DVZ_SANITIZE=thread >/dev/null &&
    cmake --build build/linux-tsan -j"$JOBS" --target test_stress &&
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/linux-tsan -R '^Stress' --output-on-failure
}

memcheck() {
  local failed=0 t
  for t in build/linux/tests/test_*; do
    [ -x "$t" ] || continue
    # The stress and protocol tests are timed runs, checked by the sanitizer steps.
    case "$(basename "$t")" in test_stress | test_protocol) continue ;; esac
    valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      "$t" --gtest_brief=1 >"build/linux/$(basename "$t").memcheck.log" 2>&1 ||
      { echo "memcheck failed: $t"; tail -n 40 "build/linux/$(basename "$t").memcheck.log"; failed=1; }
  done
  return $failed
}

protocol_breaking() {
  cmake --preset linux-asan >/dev/null && cmake --build --preset linux-asan -j"$JOBS" --target test_protocol || return 1
  local log=build/linux-asan/protocol.log
  VUDOZID_PROTOCOL_SECONDS=$PROTOCOL_SECONDS ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    timeout $((PROTOCOL_SECONDS + 120)) build/linux-asan/tests/test_protocol >"$log" 2>&1
  local rc=$?
  grep '^protocol:' "$log"
  [ $rc -eq 0 ] || tail -n 40 "$log"
  return $rc
}

# Each target first runs its regression inputs (fuzz/regressions/<target>), then
# fuzzes from its seed corpus for FUZZ_SECONDS. One line per target: executions,
# coverage at the end, corpus size and findings. LLVM 14's entropic scheduling
# spent most of the time of the shared-memory targets updating feature
# frequencies, so it is off.
fuzzing() {
  cmake --preset linux-fuzz >/dev/null && cmake --build --preset linux-fuzz -j"$JOBS" || return 1
  local failed=0 f name corpus log findings execs cov ub
  for f in build/linux-fuzz/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f"); name=${name#fuzz_}
    corpus=build/linux-fuzz/corpus-$name
    log=build/linux-fuzz/$name.log
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    findings=0
    rm -f "build/linux-fuzz/$name.regressions.log"
    if [ -d "fuzz/regressions/$name" ]; then
      "$f" fuzz/regressions/"$name"/* >"build/linux-fuzz/$name.regressions.log" 2>&1 ||
        { echo "regression input fails: $name"; tail -n 20 "build/linux-fuzz/$name.regressions.log"; findings=1; }
    fi
    "$f" -max_total_time="$FUZZ_SECONDS" -entropic=0 -print_final_stats=1 \
      -artifact_prefix="build/linux-fuzz/$name-" "$corpus" >"$log" 2>&1 ||
      { echo "fuzz finding: $name"; tail -n 40 "$log"; findings=$((findings + 1)); }
    # UndefinedBehaviorSanitizer reports and goes on: each distinct report is a finding.
    ub=$(grep -h 'runtime error:' "$log" "build/linux-fuzz/$name.regressions.log" 2>/dev/null | sort -u)
    if [ -n "$ub" ]; then
      echo "$ub"
      findings=$((findings + $(printf '%s\n' "$ub" | wc -l)))
    fi
    [ $findings -eq 0 ] || failed=1
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+' | cut -d' ' -f2)
    echo "$name: ${execs:-0} executions, cov ${cov:-?}, corpus $(find "$corpus" -type f | wc -l) inputs, $findings finding(s)"
  done
  return $failed
}

windows_builds() {
  local preset
  for preset in mingw-i686 mingw-x64; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$JOBS" || return 1
  done
  local b=build/mingw-i686
  tests/e2e/check-pe.sh $b/src/VudoZid.dll $b/provider/vudozid_provider.dll $b/tools/qvperf.exe \
    $b/tools/qvreg.exe $b/provider/qvsim.exe
}

provider_package() {
  local preset
  for preset in linux mingw-i686 mingw-x64; do
    scripts/check-provider-package.sh "$preset" || return 1
  done
}

prometheus_scrape() {
  tests/e2e/prometheus-scrape.sh build/linux
}

wine_tests() {
  tests/e2e/run-wine-tests.sh
}

installer_tests() {
  tests/e2e/msi-wine-test.sh
}

step "native build and tests" native
step "sanitizers (address, undefined)" sanitized
step "thread sanitizer stress" thread_sanitized
step "Prometheus scrapes the exporter" prometheus_scrape
step "valgrind memcheck" memcheck
step "protocol-breaking provider (${PROTOCOL_SECONDS}s, address sanitizer)" protocol_breaking
step "fuzzing (${FUZZ_SECONDS}s per target)" fuzzing
step "Windows DLL builds and PE checks" windows_builds
step "provider SDK from the installed package" provider_package
step "Wine end-to-end tests" wine_tests
step "Windows installer (MSI under Wine)" installer_tests

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $status
