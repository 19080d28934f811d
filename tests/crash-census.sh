#!/usr/bin/env bash
# The long kill test: SIGKILLs the real executable at many instants of an
# archive run, and of a restore, per journal mode and checks that no record
# is lost or doubled.
# Usage: tests/crash-census.sh [kill points per mode, default 200] [build dir]
set -euo pipefail
points=${1:-200}
build=${2:-build}
SA_CRASH_POINTS=$points "$build/sa_tests" --gtest_filter='JournalModes/CrashTest.*:JournalModes/RestoreCrashTest.*'
