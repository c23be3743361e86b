#!/usr/bin/env bash
# Builds everything and runs every test: the C++ suites (ctest) and the Python
# binding's suite (pytest) against the installed package.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# No area of the core includes a higher one, and every C++ file is formatted.
python3 scripts/check-layers.py
bash scripts/check-format.sh

# One build serves both suites: the package installed for the Python suite is
# built in build/test together with the C++ suites.
python3 -m pip install -q --no-build-isolation -C build-dir=build/test -C cmake.build-type=Release \
  -C cmake.define.QUARRIX_BUILD_TESTS=ON .
# The installed stubs must type a host's use of the package.
python3 -m mypy --strict --cache-dir=/dev/null tests/python/typed/usage.py
ctest --test-dir build/test --output-on-failure -j2
python3 -m pytest -q tests/python

# The C++ suites again under AddressSanitizer and UndefinedBehaviorSanitizer.
bash scripts/sanitize.sh
