#!/usr/bin/env bash
# Builds everything and runs every test: the C++ suites (ctest) and the Python
# binding's suite (pytest) against the installed package.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build/test -G Ninja -DQUARRIX_BUILD_TESTS=ON >/dev/null
cmake --build build/test -j2
ctest --test-dir build/test --output-on-failure -j2

python3 -m pip install -q --no-build-isolation .
python3 -m pytest -q tests/python

# The C++ suites again under AddressSanitizer and UndefinedBehaviorSanitizer.
bash scripts/sanitize.sh
