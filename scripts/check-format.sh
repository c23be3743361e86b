#!/usr/bin/env bash
# Fails when a tracked C++ file is not formatted per the repository's .clang-format.
# Usage: check-format.sh [repo dir]   (default: the git top level of the current directory)
# CLANG_FORMAT may name the binary (default: clang-format; the config is written for version 14).
set -euo pipefail
cd "${1:-$(git rev-parse --show-toplevel)}"
cf="${CLANG_FORMAT:-clang-format}"
if git ls-files -z -- '*.cpp' '*.hpp' '*.h' | xargs -0 -r "$cf" --dry-run --Werror --style=file; then
  echo "format-check: all C++ files formatted"
else
  echo "format-check: unformatted files above; fix with: git ls-files -z '*.cpp' '*.hpp' '*.h' | xargs -0 $cf -i" >&2
  exit 1
fi
