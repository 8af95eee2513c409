#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v gfortran >/dev/null || need+=(gfortran)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v python3 >/dev/null || need+=(python3)
# Line editing at the terminal, and the tools of its test and of the manual pages.
[ -f /usr/include/histedit.h ] || need+=(libedit-dev)
command -v tmux >/dev/null || need+=(tmux)
command -v groff >/dev/null || need+=(groff)
command -v mandoc >/dev/null || need+=(mandoc)
command -v man >/dev/null || need+=(man-db)
# Readers of the plot files: the plot tests and the README's spot map.
command -v gs >/dev/null || need+=(ghostscript)
command -v hp2xx >/dev/null || need+=(hp2xx)
command -v tek2plot >/dev/null || need+=(plotutils)
# The SVG plot files: a headless browser renders them, Python's XML parser
# reads them, libpng reads the renderings back.
command -v chromium >/dev/null || need+=(chromium)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/png.h ] || need+=(libpng-dev)
# openPMD particle files (HDF5), the Python module and its tests.
[ -f /usr/include/hdf5/serial/hdf5.h ] || [ -f /usr/include/hdf5.h ] || need+=(libhdf5-dev)
[ -f /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
# The build takes Debian's python3 for the module (CMakeLists.txt).
py=python3; [ -x /usr/bin/python3 ] && py=/usr/bin/python3
$py -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null || need+=(python3-dev)
$py -c 'import pytest' 2>/dev/null || need+=(python3-pytest)
$py -c 'import numpy' 2>/dev/null || need+=(python3-numpy)
$py -c 'import h5py' 2>/dev/null || need+=(python3-h5py)
$py -c 'import matplotlib' 2>/dev/null || need+=(python3-matplotlib)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
