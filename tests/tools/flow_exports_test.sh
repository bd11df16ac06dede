#!/usr/bin/env bash
# quorvel-flows' CSV file and Prometheus endpoint, read by Python's csv
# module and promtool.
set -euo pipefail
for tool in promtool python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
exec python3 "$(dirname "$0")/flow_exports_check.py"
