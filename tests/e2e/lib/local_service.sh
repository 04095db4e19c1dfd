# shellcheck shell=bash
# The local service seen from outside, for scenario files that install it (installer.sh,
# local_install.sh): GET /v1/version from an approved origin over TLS, within time limits.
# Uses the name of /etc/hosts (the namespace's own) and writes curl's messages to
# $service_probe_dir/curl.err.
service_host=${QARDEX_LOCAL_HOST:-local.qardex.example}
service_port=${QARDEX_LOCAL_PORT:-14443}
service_origin="https://www.${service_host#*.}"

# service_status CURL ARGS...: the status code (000: no answer); the body in
# $service_probe_dir/body.
service_status() {
  curl -sS --max-time 3 -o "$service_probe_dir/body" -w '%{http_code}' -H "Origin: $service_origin" \
    "$@" "https://$service_host:$service_port/v1/version" 2>"$service_probe_dir/curl.err"
}

# service_answers CAFILE: within 15 s, 200 and the version, over TLS trusting CAFILE only.
service_answers() {
  local deadline=$((SECONDS + 15))
  until [[ $(service_status --cacert "$1") == 200 && $(cat "$service_probe_dir/body") == '{"version":"0001",'* ]]; do
    [[ $SECONDS -lt $deadline ]] || { qx_say "    $(head -c 300 "$service_probe_dir/curl.err")"; return 1; }
    sleep 0.3
  done
}

# service_refused: within 10 s, nothing accepts connections on the service's port.
service_refused() {
  local deadline=$((SECONDS + 10))
  until [[ $(service_status --insecure) == 000 ]]; do
    [[ $SECONDS -lt $deadline ]] || { qx_say "    the port still answers"; return 1; }
    sleep 0.3
  done
}

# system_and_administrators_only SDDL: owner and access list (installer_probe dacl) grant SYSTEM,
# Administrators and the (administrator) owner only; Wine shows a list made from Unix modes.
system_and_administrators_only() {
  [[ $1 =~ ^O:([^:]+)D:P?(\(.+\))$ ]] || { qx_say "    $1"; return 1; }
  local owner=${BASH_REMATCH[1]} aces=${BASH_REMATCH[2]}
  while [[ $aces =~ ^\(A\;[^\;]*\;[^\;]*\;[^\;]*\;[^\;]*\;(SY|BA|$owner)\)(.*)$ ]]; do
    aces=${BASH_REMATCH[2]}
  done
  [[ -z $aces ]] || { qx_say "    $1"; false; }
}
