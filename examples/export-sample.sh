#!/usr/bin/env bash
# Exports the sample mail store into build/sample-export and shows the result.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build/sample-export
echo '$ build/plenvar /S:examples/mailstore /T:build/sample-export /M:*.msg'
build/plenvar /S:examples/mailstore /T:build/sample-export '/M:*.msg'
echo
echo "== the source tree"
find examples/mailstore -type f | sort
echo
echo "== the exported tree"
find build/sample-export | sort
echo
echo "== build/sample-export/anna/sent/000000000000000001.MAI (CR LF shown as line ends)"
tr -d '\r' < build/sample-export/anna/sent/000000000000000001.MAI
