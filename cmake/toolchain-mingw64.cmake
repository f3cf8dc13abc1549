# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (the POSIX
# thread model, which std::thread and std::mutex need), run under Wine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILO_MINGW_TRIPLET}-windres)

# Libraries and headers for Windows only from the cross compiler's own tree;
# programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows programs through Wine.
find_program(QUILO_WINE_PROGRAM NAMES wine wine64)
if(QUILO_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILO_WINE_PROGRAM})
endif()
