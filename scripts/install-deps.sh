#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests and the
# default archivers need and this machine lacks. Run as root.
set -euo pipefail

source "$(dirname "$0")/need.sh"

need cmake cmake
need g++ g++
need make make
need python3 python3
need /usr/include/gtest/gtest.h libgtest-dev
need /usr/include/nlohmann/json.hpp nlohmann-json3-dev  # JSON of the report
need /usr/include/archive.h libarchive-dev  # Verify reads archives in the process
# The archivers of the default archivers file and of the tests.
need 7zz 7zip  # packs and tests the target kind
need bsdtar libarchive-tools  # extracts every kind but arj
need 7z p7zip-full
need zip zip
need unzip unzip
need unar unar  # extracts zoo, lzx and sit; the tests read rar sets with it
need nomarch nomarch  # extracts arc and pak
need unace unace  # extracts ace
need arc arc  # the tests make arc archives with it
need lzip lzip  # the tests make tar.lz archives with it
need compress ncompress  # the tests make tar.Z archives with it
need jlha jlha-utils  # the tests make lha archives with it (lha packer)
need zstd zstd
need cpio cpio
need gcab gcab  # the tests make cab archives with it
need strace strace  # a reliability test kills zavo at exact system calls
need arj arj  # extracts arj; the tests make arj archives with it
need cabextract cabextract
need clang-format-14 clang-format  # scripts/check-format.sh
need mandoc mandoc  # the man page is checked with mandoc -T lint
need dpkg-shlibdeps dpkg-dev  # cpack -G DEB finds the library dependencies
need lintian lintian  # scripts/check-package.sh has lintian judge the package
need bzip2 bzip2
need xz xz-utils
# tests/test_cluster.py starts a one-node Slurm cluster (munged, slurmctld,
# slurmd) and runs the man page's GNU parallel recipe.
need munged munge
need slurmctld slurm-wlm  # slurmctld, slurmd and the clients (sbatch...)
need parallel parallel
if [[ "${ZAVO_WITH_FUZZ:-1}" == 1 ]]; then
  need clang++ clang
  need /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev
fi

install_needed
