#!/usr/bin/env bash
# The long power-loss test: cuts the power on a simulated disk at every sync
# point of an archive run and at random writes between them, per journal
# mode, reboots into what survived and checks that no record is lost or
# doubled and no database damaged.
# Usage: tests/power-loss.sh [power cuts per mode, default 600] [build dir]
set -euo pipefail
cuts=${1:-600}
build=${2:-build}
SA_POWER_CUTS=$cuts "$build/sa_tests" --gtest_filter='JournalModes/PowerLossTest.*'
