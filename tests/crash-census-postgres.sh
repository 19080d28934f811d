#!/usr/bin/env bash
# The long kill tests with the live database on PostgreSQL: SIGKILL the real
# executable at many instants of a run, and of a restore, and check that no
# record is lost or doubled. Starts the server when it is down.
# Usage: tests/crash-census-postgres.sh [kill points, default 100] [build dir]
set -euo pipefail
points=${1:-100}
build=${2:-build}
cd "$(dirname "${BASH_SOURCE[0]}")/.."
eval "$(bash .ci/start-postgres)"
SA_PG_CRASH_POINTS=$points "$build/sa_tests" --gtest_filter='PostgresCrash.*:PostgresRestoreCrash.*'
