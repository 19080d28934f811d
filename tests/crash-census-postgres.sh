#!/usr/bin/env bash
# The long kill tests with the live database on a server: SIGKILL the real
# executable at many instants of a run (PostgreSQL and MariaDB), and of a
# restore (PostgreSQL), and check that no record is lost or doubled. Starts
# the servers when they are down.
# Usage: tests/crash-census-postgres.sh [kill points, default 100] [build dir]
set -euo pipefail
points=${1:-100}
build=${2:-build}
cd "$(dirname "${BASH_SOURCE[0]}")/.."
eval "$(bash .ci/start-postgres)"
eval "$(bash .ci/start-mariadb)"
SA_PG_CRASH_POINTS=$points "$build/sa_tests" --gtest_filter='OdbcCrash/*:PostgresRestoreCrash.*'
