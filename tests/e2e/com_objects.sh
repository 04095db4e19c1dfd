#!/usr/bin/env bash
# The in-process server's COM behaviour under Wine: class object, aggregation,
# lock count, null out-parameters, type library, registration entries, and the
# safety answers of the site lock for scripted hosting pages.
source "$(dirname "${BASH_SOURCE[0]}")/../../testbed/scenario.sh"
scenario_init "$@"
prepare_wine

# run_check PROGRAM: runs a Windows check program on the library and counts
# its "N passed, M failed" line into this file's summary.
run_check() {
  local program=$1 output="$QX_WORK/${1%.exe}.out"
  wine "$(winepath -w "$QX_ROOT/out/win64/$program")" "$(winepath -w "$QX_DLL")" \
    >"$output" 2>&1
  local status=$? summary
  summary=$(tr -d '\r' <"$output" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1)
  grep -E '^FAILED|^  ' "$output" | sed 's/^/    /'
  if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    QX_PASSED=$((QX_PASSED + BASH_REMATCH[1]))
    QX_FAILED=$((QX_FAILED + BASH_REMATCH[2]))
    [[ $status -eq 0 || ${BASH_REMATCH[2]} -gt 0 ]] || fail "$program exited with $status"
  else
    fail "$program printed no summary (status $status): $(tail -n 3 "$output")"
  fi
}

scenario "class object, lifetime, dispatch and registration"
run_check com_behaviour_check.exe

scenario "safety options for hosting pages"
run_check site_lock_check.exe

scenario "regsvr32 leaves the control registered"
check "regsvr32 registers the control" wine regsvr32 /s "$(winepath -w "$QX_DLL")"
check "the class is implemented as safe for scripting" \
  wine reg query 'HKCR\CLSID\{F6885F44-A5ED-4F29-897A-52DFD31A5999}\Implemented Categories\{7DD95801-9882-11CF-9FA9-00AA006C42C4}'

finish
