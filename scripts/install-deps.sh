#!/usr/bin/env bash
# Installs what building and testing quarrix-core needs. Safe to run again:
# it installs only what is missing.
set -euo pipefail
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1

debian_packages=(
  g++ cmake ninja-build pkg-config git clang-format
  libpcre2-dev libcurl4-openssl-dev nlohmann-json3-dev libutf8proc-dev libsqlite3-dev libgtest-dev libyaml-cpp-dev
  python3-dev python3-pip
  ghdl verilator iverilog
  graphviz chromium chromium-driver
  time bubblewrap strace
)
python_packages=("scikit-build-core>=0.10" "nanobind>=2.0" "pytest>=7" "mypy>=1.8"
  # quarrix-batch
  "dask[distributed]>=2023.1" "PyYAML>=6" "tqdm>=4.60" "cryptography>=3.1"
  # quarrix-review and its browser tests
  "starlette>=0.27" "uvicorn>=0.20" "Jinja2>=3.1" "python-multipart>=0.0.6" "httpx>=0.24" "selenium>=4.10"
  "pyslang>=12" "Pygments>=2.15")

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for pkg in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: apt-get install ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

python3 - "${python_packages[@]}" <<'PY' || python3 -m pip install -q "${python_packages[@]}"
import re, sys
from importlib.metadata import version, PackageNotFoundError
for req in sys.argv[1:]:
    name = re.split(r"[\[>=<]", req)[0]
    try:
        version(name)
    except PackageNotFoundError:
        sys.exit(1)
PY
