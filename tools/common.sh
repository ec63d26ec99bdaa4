# The opening every script in tools/ shares: sourced, never run.
#   repo        the repository root
#   build_root  where builds go: KESTRUNE_BUILD_ROOT, default <repo>/.build, one folder per kind
# It puts Debian's interpreter first on PATH and drops pyenv's folders from it: colcon and
# ament need Debian's ament_package, and ROS 2's Python generators would otherwise pick up
# pyenv's python3.X shims. Then it installs whatever tools/install_deps.sh lists and is missing.
#
#   kestrune_colcon_build DIR [ARG...]   colcon build of the workspace into DIR/{build,install,log}
#   use_loopback_dds                     keeps DDS on loopback unless CYCLONEDDS_URI is set
#   use_cross_build_check                for checks between the ros and standalone builds

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_root="${KESTRUNE_BUILD_ROOT:-${repo}/.build}"
PATH="$(tr ':' '\n' <<<"/usr/bin:/bin:${PATH}" | grep -v '/\.pyenv/' | paste -s -d: -)"
export PATH

"${repo}/tools/install_deps.sh"

kestrune_colcon_build() {
  local dir="$1"
  shift
  mkdir -p "${dir}"
  (cd "${repo}" && colcon --log-base "${dir}/log" build \
    --build-base "${dir}/build" --install-base "${dir}/install" --parallel-workers 1 "$@")
}

# ROS_LOCALHOST_ONLY=1 chooses the loopback interface, in ROS 2 and in the standalone layer
# alike; the file adds unicast discovery, since lo carries no multicast. A file that chose the
# interface too would be refused whenever the user's shell exports ROS_LOCALHOST_ONLY=1.
use_loopback_dds() {
  if [[ -z "${CYCLONEDDS_URI:-}" ]]; then
    export CYCLONEDDS_URI="file://${repo}/tools/cyclonedds_loopback.xml"
    export ROS_LOCALHOST_ONLY=1
  fi
}

# The install spaces of build_and_test.sh's ros and standalone modes, and DDS on
# loopback in a domain drawn for this check, so other runs on the machine are not heard.
use_cross_build_check() {
  ros_install="${build_root}/ros/install"
  standalone_install="${build_root}/standalone/install"
  use_loopback_dds
  export ROS_DOMAIN_ID="$((RANDOM % 200 + 20))"
}
