#!/usr/bin/env bash
# Runs every test of the project: the native suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency stress under
# ThreadSanitizer, one valgrind memcheck pass, bounded fuzzing, both Windows
# DLL builds with their PE checks, and the end-to-end tests under Wine, the
# installer's included.
# Prints one summary line per step and fails when any step fails.
set -uo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
FUZZ_SECONDS=${FUZZ_SECONDS:-45}
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
    case "$(basename "$t")" in test_stress) continue ;; esac
    valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      "$t" --gtest_brief=1 >"build/linux/$(basename "$t").memcheck.log" 2>&1 ||
      { echo "memcheck failed: $t"; tail -n 40 "build/linux/$(basename "$t").memcheck.log"; failed=1; }
  done
  return $failed
}

fuzzing() {
  cmake --preset linux-fuzz >/dev/null && cmake --build --preset linux-fuzz -j"$JOBS" || return 1
  local failed=0 f name corpus
  for f in build/linux-fuzz/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f"); name=${name#fuzz_}
    corpus=build/linux-fuzz/corpus-$name
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    "$f" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 "$corpus" \
      >"build/linux-fuzz/$name.log" 2>&1 || { echo "fuzz finding: $name"; tail -n 40 "build/linux-fuzz/$name.log"; failed=1; }
    grep -E "stat::number_of_executed_units|stat::new_units_added" "build/linux-fuzz/$name.log" |
      sed "s/^/$name: /"
  done
  return $failed
}

windows_builds() {
  local preset
  for preset in mingw-i686 mingw-x64; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$JOBS" || return 1
  done
  tests/e2e/check-pe.sh build/mingw-i686/src/VudoZid.dll
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
step "valgrind memcheck" memcheck
step "fuzzing (${FUZZ_SECONDS}s per target)" fuzzing
step "Windows DLL builds and PE checks" windows_builds
step "Wine end-to-end tests" wine_tests
step "Windows installer (MSI under Wine)" installer_tests

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $status
