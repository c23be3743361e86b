#!/usr/bin/env bash
# The main job on the bundled example repository.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
python3 -m pip install -q --no-build-isolation .
quarrix-scan examples/demo_repo
