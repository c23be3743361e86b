#!/usr/bin/env bash
# The main job on the bundled example repository.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
python3 -m pip install -q --no-build-isolation .
python3 examples/describe_example.py examples/demo_repo
