#!/usr/bin/env bash
# IPFIX from quorvel-flows read back by a real collector (nfcapd, nfdump).
set -euo pipefail
for tool in nfcapd nfdump python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
exec python3 "$(dirname "$0")/ipfix_collector_check.py"
