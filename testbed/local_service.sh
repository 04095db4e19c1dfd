# shellcheck shell=bash
# The local service (mQARDEXService.exe --console) for scenario files and benchmarks, sourced after
# testbed/scenario.sh (and scenario_wine_env.sh when the file sets wine_env):
#
#   service_prepare          # KeyMint's certificate set and the program in $QX_WORK/app
#   start_service            # starts it, waits for its "listening" line; $QX_SERVICE_PID is the
#                            # Wine process itself (for /proc), its output in $QX_FILES/service.*
#   stop_service             # closes its standard input and waits for it to end
#
# QX_SERVICE_APP holds ZELRootCA.pem, the trust anchor a client needs.

QX_SERVICE_PORT=${QARDEX_LOCAL_PORT:-14443}
QX_SERVICE_PID=""

service_prepare() {
  QX_SERVICE_APP=$QX_WORK/app
  mkdir -p "$QX_SERVICE_APP"
  cp "$QX_NATIVE/KeyMint" "$QX_ROOT/out/win64/mQARDEXService.exe" "$QX_SERVICE_APP/" &&
    (cd "$QX_SERVICE_APP" && ./KeyMint) >"$QX_WORK/keymint.log" 2>&1 ||
    qx_die "no certificate set: $QX_WORK/keymint.log"
}

start_service() {
  rm -f "$QX_WORK/stdin" && mkfifo "$QX_WORK/stdin"
  # exec: the process is Wine's itself; env: the file's wine_env applies (exec skips functions).
  (cd "$QX_SERVICE_APP" && exec env "${QX_WINE_ENV[@]}" wine ./mQARDEXService.exe --console \
    <"$QX_WORK/stdin" >"$QX_FILES/service.out" 2>"$QX_FILES/service.err") &
  QX_SERVICE_PID=$!
  exec 3>"$QX_WORK/stdin"
  for _ in $(seq 300); do
    grep -q listening "$QX_FILES/service.out" 2>/dev/null && return 0
    kill -0 "$QX_SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  qx_die "the service did not start: $(head -c 300 "$QX_FILES/service.err")"
}

stop_service() {
  [[ -n $QX_SERVICE_PID ]] || return 0
  exec 3>&-
  wait "$QX_SERVICE_PID"
  QX_SERVICE_PID=""
}
