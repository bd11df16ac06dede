#!/usr/bin/env bash
# IPFIX from quorvel-flows read back by a real collector (nfcapd, nfdump).
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"
need_tools nfcapd nfdump python3
exec python3 "$(dirname "$0")/ipfix_collector_check.py"
