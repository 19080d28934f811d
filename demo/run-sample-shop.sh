#!/usr/bin/env bash
# Generates a sample shop, launches the archiver on it the way the host does
# (a `fifo` beside the executable, no arguments), and shows what the run
# archived and what stayed live.
# Usage: demo/run-sample-shop.sh [build folder] [make-sample-shop options...]
set -euo pipefail
build=${1:-build}
shift || true
shop=$(mktemp -d "${TMPDIR:-/tmp}/sample-shop.XXXXXX")
"$build/make-sample-shop" "$shop" --months 6 "$@"
cp "$build/sales-archiver" "$shop/"
echo
echo "== running $shop/sales-archiver =="
status=0
"$shop/sales-archiver" || status=$?
echo "exit status: $status"
echo
"$build/make-sample-shop" report "$shop"
echo
echo "The shop stays in $shop"
exit "$status"
