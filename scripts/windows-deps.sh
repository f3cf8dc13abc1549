#!/usr/bin/env bash
# Cross-builds, for 64-bit Windows with mingw-w64, the static OpenCV and dlib
# that the CPU face detector links, from Debian's own source packages, into a
# cache outside the clone, and prints where they are as two lines for a
# shell's eval:
#   OpenCV_DIR=<folder of OpenCVConfig.cmake>
#   dlib_DIR=<folder of dlibConfig.cmake>
# With --benchmark, Google Benchmark too, for the benchmarks of a cross build:
#   benchmark_DIR=<folder of benchmarkConfig.cmake>
# Each library is kept under a key of its source version, the compiler and
# its build options, so a machine builds it once; a missing or stale one is
# rebuilt. Cache: $QUILO_CACHE_DIR, else ${XDG_CACHE_HOME:-$HOME/.cache}/quilo.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=${QUILO_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quilo}
triplet=x86_64-w64-mingw32
compiler=$($triplet-g++-posix --version | head -n 1)
toolchain=$PWD/cmake/toolchain-mingw64.cmake
common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG")

# Only the modules the detector uses. Debian's source has no 3rdparty folder,
# so everything that would be built or fetched from there is off, and zlib
# comes from Debian's mingw-w64 package. OpenCV's parallel loops stay on the
# calling thread: its pthreads pool (which it looks for only on Unix) keeps
# threads running in the plugin DLL, and unloading the plugin then crashes.
opencv_options=(-DBUILD_LIST=core,imgproc,objdetect,calib3d
  -DBUILD_TESTS=OFF -DBUILD_PERF_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF -DBUILD_opencv_apps=OFF
  -DBUILD_opencv_python2=OFF -DBUILD_opencv_python3=OFF -DBUILD_JAVA=OFF -DBUILD_opencv_world=OFF
  -DBUILD_ZLIB=OFF -DZLIB_LIBRARY="/usr/$triplet/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$triplet/include"
  -DWITH_QUIRC=OFF -DWITH_CAROTENE=OFF -DWITH_OPENVX=OFF -DWITH_IPP=OFF -DWITH_ITT=OFF -DWITH_OPENCL=OFF
  -DWITH_ADE=OFF -DWITH_PROTOBUF=OFF -DWITH_EIGEN=OFF -DWITH_LAPACK=OFF -DWITH_OPENMP=OFF -DWITH_TBB=OFF
  -DWITH_JPEG=OFF -DWITH_PNG=OFF -DWITH_TIFF=OFF -DWITH_WEBP=OFF -DWITH_OPENJPEG=OFF -DWITH_JASPER=OFF
  -DWITH_OPENEXR=OFF -DWITH_IMGCODEC_HDR=OFF -DWITH_IMGCODEC_SUNRASTER=OFF -DWITH_IMGCODEC_PXM=OFF
  -DWITH_IMGCODEC_PFM=OFF -DWITH_FFMPEG=OFF -DWITH_GSTREAMER=OFF -DWITH_DSHOW=OFF -DWITH_MSMF=OFF
  -DWITH_WIN32UI=OFF -DWITH_VTK=OFF -DOPENCV_GENERATE_PKGCONFIG=OFF -DOPENCV_ENABLE_NONFREE=OFF -DCV_TRACE=OFF)
# dlib without its GUI, image codecs or BLAS: the detector only reads the
# landmark model and runs it. Debian's soname patch wants SOVERSION given.
dlib_options=(-DSOVERSION=19.24.0 -DDLIB_NO_GUI_SUPPORT=ON -DDLIB_JPEG_SUPPORT=OFF -DDLIB_PNG_SUPPORT=OFF
  -DDLIB_GIF_SUPPORT=OFF -DDLIB_WEBP_SUPPORT=OFF -DDLIB_USE_BLAS=OFF -DDLIB_USE_LAPACK=OFF -DDLIB_USE_CUDA=OFF
  -DDLIB_LINK_WITH_SQLITE3=OFF -DDLIB_USE_FFMPEG=OFF -DDLIB_USE_MKL_FFT=OFF)

# build NAME SOURCE_FOLDER OPTIONS... : prints the install prefix of NAME,
# building it first unless a complete one with the same key is there.
build() {
  local name=$1 source=$2
  shift 2
  local key prefix work started
  key=$( { basename "$source"; echo "$compiler"; printf '%s\n' "$@"; } | sha256sum | cut -c1-16)
  prefix=$cache/windows-deps/$name-$key
  if [ ! -f "$prefix/.complete" ]; then
    work=$cache/windows-deps/build-$name-$key
    rm -rf "$prefix" "$work"
    mkdir -p "$work"
    echo "Cross-building $name for Windows into $prefix (log: $work/build.log)" >&2
    started=$(date +%s)
    { cmake -S "$source" -B "$work" "${common[@]}" -DCMAKE_INSTALL_PREFIX="$prefix" "$@" &&
      cmake --build "$work" -j "$(nproc)" --target install; } > "$work/build.log" 2>&1 ||
      { tail -n 40 "$work/build.log" >&2; exit 1; }
    echo "$name: built in $(( $(date +%s) - started )) s" >&2
    rm -rf "$work"
    touch "$prefix/.complete"
  fi
  echo "$prefix"
}

benchmark_options=(-DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF
  -DBENCHMARK_ENABLE_WERROR=OFF -DBENCHMARK_ENABLE_INSTALL=ON -DBENCHMARK_INSTALL_DOCS=OFF)

opencv_source=$(./scripts/debian-source.sh opencv "$cache/src")
dlib_source=$(./scripts/debian-source.sh dlib "$cache/src")
opencv=$(build opencv "$opencv_source" "${opencv_options[@]}")
dlib=$(build dlib "$dlib_source/dlib" "${dlib_options[@]}")
# Their licences travel with the binaries built from them.
cp "$opencv_source/LICENSE" "$opencv/OpenCV-LICENSE.txt"
cp "$dlib_source/dlib/LICENSE.txt" "$dlib/dlib-LICENSE.txt"
echo "OpenCV_DIR=$opencv/lib/cmake/opencv4"
echo "dlib_DIR=$dlib/lib/cmake/dlib"
if [ "${1:-}" = --benchmark ]; then
  benchmark_source=$(./scripts/debian-source.sh benchmark "$cache/src")
  # Its version comes from Git tags, which a source package has not; Debian
  # gives it from the package's version, as here from the folder's name.
  benchmark=$(build benchmark "$benchmark_source" -DGIT_VERSION="${benchmark_source##*-}" "${benchmark_options[@]}")
  echo "benchmark_DIR=$benchmark/lib/cmake/benchmark"
fi
