# Sourced by the build scripts: makes sure the build dependencies are there.
# As root, missing Debian packages are installed with apt-get; otherwise the
# script stops and names the package to install.

# need_package PACKAGE CHECK-COMMAND...
need_package() {
    local package=$1
    shift
    if "$@" >/dev/null 2>&1; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing build dependency: please install the Debian package '$package' (apt-get install $package)" >&2
        exit 1
    fi
    if [ -z "${VIMSOR_APT_UPDATED:-}" ]; then
        apt-get update -q >&2
        VIMSOR_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package" >&2
}

need_build_tools() {
    need_package cmake command -v cmake
    need_package g++ command -v g++
    need_package make command -v make
    # nvinfo, nvconvert and nvplot: libmseed to build them, gnuplot to draw
    need_package libmseed-dev test -f /usr/include/libmseed.h
    need_package gnuplot-nox command -v gnuplot
}

need_test_tools() {
    need_build_tools
    need_package libgtest-dev test -f /usr/include/gtest/gtest.h
    # the picture checks of the nvplot tests
    need_package libpng-dev test -f /usr/include/png.h
    need_package parallel command -v parallel
    need_package dpkg-dev command -v dpkg-shlibdeps
    # The localhost Slurm of the batch test runs as root only; without root
    # that test skips, so a developer needs no Slurm.
    if [ "$(id -u)" -eq 0 ]; then
        need_package slurm-wlm command -v slurmd
        need_package slurm-wlm command -v slurmctld
        need_package munge command -v munged
    fi
}
