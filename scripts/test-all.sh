#!/usr/bin/env bash
# Builds everything and runs every test: the C++ suites (ctest) and the Python
# binding's suite (pytest) against the installed package. Each step says its
# name first, so that a failing log tells where it failed.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
cd "$(dirname "$0")/.."

step() { printf '\n==> test-all: %s\n' "$*"; }

step "installing what the build and the tests need"
bash scripts/install-deps.sh

# No area of the core includes a higher one, and every C++ file is formatted.
step "layer check"
python3 scripts/check-layers.py
step "format check"
bash scripts/check-format.sh

# One build serves both suites: the package installed for the Python suite is
# built in build/test together with the C++ suites.
step "building and installing the package with the C++ suites"
python3 -m pip install -q --no-build-isolation -C build-dir=build/test -C cmake.build-type=Release \
  -C cmake.define.QUARRIX_BUILD_TESTS=ON .
# The installed stubs must type a host's use of the package.
step "type check of a host's use (mypy --strict)"
python3 -m mypy --strict --cache-dir=/dev/null tests/python/typed/usage.py
step "C++ tests (ctest)"
ctest --test-dir build/test --output-on-failure -j2
step "Python tests (pytest)"
python3 -m pytest -q tests/python

# The C++ suites again under AddressSanitizer and UndefinedBehaviorSanitizer.
step "C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/sanitize.sh
