#!/usr/bin/env bash
# Installs the Debian 12 packages the workspace builds and tests with, when missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  colcon python3-colcon-cmake python3-colcon-ros python3-colcon-bash
  python3-colcon-library-path python3-colcon-test-result python3-colcon-output
  python3-colcon-package-information python3-colcon-package-selection
  python3-colcon-parallel-executor
  ament-cmake ament-cmake-googletest python3-ament-package libament-index-cpp-dev
  libspdlog-dev libfmt-dev libyaml-cpp-dev libsystemd-dev
  cyclonedds-dev cyclonedds-tools
  libgtest-dev libgmock-dev googletest libbenchmark-dev liblttng-ust-dev valgrind
  util-linux
  # the flow files' schema check
  python3-jsonschema python3-yaml
  # flow_monitor: its HTTP server (Boost.Beast) and JSON, and the headless browser of its page test
  libboost-dev nlohmann-json3-dev chromium chromium-driver python3-selenium
  # the fuzzer (tools/run_fuzzer.sh) and coverage (tools/run_coverage.sh)
  clang libclang-rt-14-dev lcov
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "${package}" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("${package}")
done

if [[ ${#missing[@]} -gt 0 ]]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ "$(id -u)" -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
