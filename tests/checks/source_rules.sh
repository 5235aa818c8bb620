#!/usr/bin/env bash
# Source rules the compiler cannot see (see scripts/check_sources.py).
set -euo pipefail
cd "$(dirname "$0")/../.."

# Names the design document fixes; a clean-up must not rename them away.
missing=0
for name in CGardBoxProgress m_gardboxTask m_gardboxFinished m_gardboxIdle LoadGardboxSize SaveGardboxSize \
  LoadInstallGardbox SaveInstallGardbox m_chkGardbox m_lblGardbox GetGardBoxInstallTip GetGardboxDownloaderLink; do
  if ! grep -rqw -- "$name" src; then
    echo "source_rules: the name $name is no longer in src/" >&2
    missing=1
  fi
done
[ "$missing" -eq 0 ] || exit 1

exec python3 scripts/check_sources.py
