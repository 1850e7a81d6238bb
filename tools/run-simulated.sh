#!/usr/bin/env bash
# Installs what is missing, builds, and runs the updater against a simulated Z-PORT (HDMI,
# firmware older than the images the updater carries). Plug, unplug or power-cycle the
# simulated device from another terminal with build/sim/zport-sim (see sim/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."

extra=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    extra=(xvfb xauth)
fi
tools/install-build-deps.sh "${extra[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

export ZPORT_SIM_VARIANT="${ZPORT_SIM_VARIANT:-hdmi}"
export ZPORT_SIM_CPU_VERSION="${ZPORT_SIM_CPU_VERSION:-1.8}"
export ZPORT_SIM_FPGA_VERSION="${ZPORT_SIM_FPGA_VERSION:-1.12}"
export ZPORT_SIM_SERIAL="${ZPORT_SIM_SERIAL:-00K1000001}"
export ZPORT_SIM_LOG_LINES="${ZPORT_SIM_LOG_LINES:-Z-PORT boot ok|HDMI input 1920x1080p60|Audio 48 kHz stereo}"
export ZPORT_SIM_ERASE_BUSY_MS="${ZPORT_SIM_ERASE_BUSY_MS:-30}"
export ZPORT_SIM_PROGRAM_BUSY_US="${ZPORT_SIM_PROGRAM_BUSY_US:-300}"
export ZPORT_SIM_CONTROL="${ZPORT_SIM_CONTROL:-/tmp/zport-sim.control}"
preload="$PWD/build/sim/libzport-sim-preload.so"

echo "Simulated Z-PORT: $ZPORT_SIM_VARIANT, CPU $ZPORT_SIM_CPU_VERSION, FPGA $ZPORT_SIM_FPGA_VERSION"
echo "Control it from another terminal: $PWD/build/sim/zport-sim unplug|plug|plug-second|power-cycle|status"
if [ ${#extra[@]} -gt 0 ]; then
    echo "No display found: running under a virtual X server (xvfb-run)."
    exec xvfb-run -a env LD_PRELOAD="$preload" build/app/zport-updater "$@"
fi
LD_PRELOAD="$preload" exec build/app/zport-updater "$@"
