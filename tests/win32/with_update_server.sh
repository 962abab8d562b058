#!/usr/bin/env bash
# Runs a command (a Windows test under Wine) beside the update-check tests'
# local HTTPS server, with a certificate made for this run:
#   with_update_server.sh <server script> <command> [args...]
# The command finds the server in FV_UPDATE_PORT and FV_UPDATE_SILENT_PORT,
# its certificate in FV_UPDATE_CA.
set -euo pipefail
server=$1
shift
dir=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1
exec 3< <(exec python3 "$server" "$dir/cert.pem" "$dir/key.pem")
pid=$!
read -r FV_UPDATE_PORT FV_UPDATE_SILENT_PORT <&3
FV_UPDATE_CA=$dir/cert.pem
export FV_UPDATE_PORT FV_UPDATE_SILENT_PORT FV_UPDATE_CA
"$@"
