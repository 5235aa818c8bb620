#!/usr/bin/env bash
# Source rules the compiler cannot see (see scripts/check_sources.py).
set -euo pipefail
cd "$(dirname "$0")/../.."
exec python3 scripts/check_sources.py
