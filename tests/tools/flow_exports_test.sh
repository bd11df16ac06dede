#!/usr/bin/env bash
# quorvel-flows' CSV file and Prometheus endpoint, read by Python's csv
# module and promtool.
set -euo pipefail
source "$(dirname "$0")/../support/live_checks.sh"
need_tools promtool python3
exec python3 "$(dirname "$0")/flow_exports_check.py"
