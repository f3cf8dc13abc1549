# The dependencies of a Windows build. Debian has no Windows builds of them, so
# a cross build takes the header-only libraries from the build machine's
# headers (spdlog, fmt, glm, CLI11 and nlohmann-json header-only, stb's PNG
# writer compiled into the engine) and builds GoogleTest from its sources. A native build with a
# Windows package manager (e.g. vcpkg) finds its packages' own config files
# instead, under the same target names.

# The folders of the build machine's headers cannot be searched whole: they
# hold its C library's headers too. A folder of links exposes the libraries
# alone.
set(QUILO_HOST_INCLUDE_DIR /usr/include CACHE PATH
  "Build machine's header folder that holds spdlog, fmt, glm and stb (cross builds)")
set(QUILO_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest sources to build the tests with (cross builds)")

# quilo_windows_headers(<target> <header folder names...>): an imported
# interface target with the named folders of QUILO_HOST_INCLUDE_DIR on its
# include path, named as the library's own package names it.
function(quilo_windows_headers target)
  string(REPLACE "::" "_" folder ${target})
  set(dir ${PROJECT_BINARY_DIR}/windowsInclude/${folder})
  foreach(name ${ARGN})
    if(NOT EXISTS ${QUILO_HOST_INCLUDE_DIR}/${name})
      message(FATAL_ERROR "${QUILO_HOST_INCLUDE_DIR}/${name} is missing: run scripts/setup.sh")
    endif()
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${QUILO_HOST_INCLUDE_DIR}/${name} ${dir}/${name} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${dir})
endfunction()

if(CMAKE_CROSSCOMPILING)
  quilo_windows_headers(fmt::fmt fmt)
  set_target_properties(fmt::fmt PROPERTIES INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY)
  # spdlog as one DLL shared by the engine, its plugins and the host: header
  # only, each of them would keep a logger registry of its own, and the
  # engine's log lines would never reach the logger a host installs.
  quilo_windows_headers(quiloSpdlogHeaders spdlog)
  add_library(quiloSpdlog SHARED ${PROJECT_SOURCE_DIR}/cmake/windows/spdlog.cpp)
  set_target_properties(quiloSpdlog PROPERTIES OUTPUT_NAME spdlog DEFINE_SYMBOL spdlog_EXPORTS)
  target_link_libraries(quiloSpdlog PUBLIC $<BUILD_INTERFACE:quiloSpdlogHeaders> fmt::fmt)
  target_compile_definitions(quiloSpdlog PUBLIC SPDLOG_COMPILED_LIB SPDLOG_SHARED_LIB SPDLOG_FMT_EXTERNAL)
  add_library(spdlog::spdlog ALIAS quiloSpdlog)
  install(TARGETS quiloSpdlog EXPORT quiloHeadTrackingTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  quilo_windows_headers(glm::glm glm)
  # The tools' command lines and sequence files.
  quilo_windows_headers(CLI11::CLI11 CLI)
  quilo_windows_headers(nlohmann_json::nlohmann_json nlohmann)

  if(QUILO_BUILD_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${QUILO_GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()

  set(stbDir ${PROJECT_BINARY_DIR}/windowsInclude/stb)
  file(MAKE_DIRECTORY ${stbDir})
  foreach(header stb_image_write.h stb_image.h)
    file(CREATE_LINK ${QUILO_HOST_INCLUDE_DIR}/stb/${header} ${stbDir}/${header} SYMBOLIC)
  endforeach()
  set(QUILO_STB_INCLUDE_DIR ${stbDir})
else()
  find_package(fmt REQUIRED)
  find_package(spdlog REQUIRED)
  find_package(glm REQUIRED)
  find_path(QUILO_STB_INCLUDE_DIR stb_image_write.h PATH_SUFFIXES stb REQUIRED)
endif()

# stb's headers, and their implementations compiled once into a static
# library linked by the engine (and by the tests that read images).
file(WRITE ${PROJECT_BINARY_DIR}/windowsInclude/stbImplementation.c
  "#define STB_IMAGE_WRITE_IMPLEMENTATION\n#include <stb_image_write.h>\n"
  "#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n")
add_library(quiloStb STATIC ${PROJECT_BINARY_DIR}/windowsInclude/stbImplementation.c)
target_include_directories(quiloStb SYSTEM PUBLIC ${QUILO_STB_INCLUDE_DIR})
add_library(PkgConfig::stb ALIAS quiloStb)

# Header-only spdlog and fmt make every file that logs compile both libraries
# anew; with mingw a precompiled header of them (and of GoogleTest in the
# tests) saves most of that. quilo_windows_precompile(<target> ENGINE|TEST)
# gives the target the engine's or the tests' shared precompiled header.
if(CMAKE_CROSSCOMPILING AND MINGW)
  set(QUILO_WINDOWS_PRECOMPILE ON)
endif()
function(quilo_windows_precompile target kind)
  if(NOT QUILO_WINDOWS_PRECOMPILE)
    return()
  endif()
  if(kind STREQUAL "ENGINE")
    if(NOT target STREQUAL "quiloHeadTrackingEngineObjects")
      target_precompile_headers(${target} REUSE_FROM quiloHeadTrackingEngineObjects)
    else()
      target_precompile_headers(${target} PRIVATE <spdlog/spdlog.h> <fmt/format.h> <glm/glm.hpp>)
    endif()
  else()
    if(NOT TARGET quiloTestPrecompiled)
      file(WRITE ${PROJECT_BINARY_DIR}/windowsInclude/testPrecompiled.cpp "")
      add_library(quiloTestPrecompiled STATIC ${PROJECT_BINARY_DIR}/windowsInclude/testPrecompiled.cpp)
      target_link_libraries(quiloTestPrecompiled PRIVATE GTest::gmock spdlog::spdlog glm::glm)
      target_precompile_headers(quiloTestPrecompiled PRIVATE
        <gmock/gmock.h> <gtest/gtest.h> <spdlog/spdlog.h> <fmt/format.h> <glm/glm.hpp>)
    endif()
    target_precompile_headers(${target} REUSE_FROM quiloTestPrecompiled)
  endif()
endfunction()

# Programs and libraries are named as on any Windows system: no "lib" prefix.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")

# Neither the face detector plugin nor the tools can be built without OpenCV
# and dlib for Windows, nor the benchmarks of a cross build without Google
# Benchmark for Windows (scripts/windows-deps.sh builds all three).
find_package(OpenCV QUIET)
find_package(dlib QUIET)
if(QUILO_BUILD_TOOLS AND NOT (OpenCV_FOUND AND dlib_FOUND))
  message(STATUS "Face detector plugin and tools: not built (OpenCV and dlib for Windows not found)")
  set(QUILO_BUILD_TOOLS OFF)
endif()
if(QUILO_BUILD_BENCHMARKS AND CMAKE_CROSSCOMPILING)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(STATUS "Benchmarks: not built (Google Benchmark for Windows not found)")
    set(QUILO_BUILD_BENCHMARKS OFF)
  endif()
endif()

# Paths handed to Windows programs carry their drive: Wine shows the build
# machine's root as Z:.
# quilo_windows_path(<var> <path>)
function(quilo_windows_path var path)
  if(CMAKE_CROSSCOMPILING)
    set(${var} "Z:${path}" PARENT_SCOPE)
  else()
    set(${var} "${path}" PARENT_SCOPE)
  endif()
endfunction()

# quilo_windows_paths(<var> <paths>...): the list of the paths as Windows
# programs name them (quilo_windows_path of each).
function(quilo_windows_paths var)
  set(native "")
  foreach(path ${ARGN})
    quilo_windows_path(path ${path})
    list(APPEND native ${path})
  endforeach()
  set(${var} "${native}" PARENT_SCOPE)
endfunction()

# The folders of the C++ runtime DLLs of a cross build. The DLLs themselves
# are installed beside the engine's: a Windows machine has none of them.
set(QUILO_WINDOWS_RUNTIME_DIRS "")
if(CMAKE_CROSSCOMPILING AND MINGW)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${found}")
      install(FILES ${found} DESTINATION ${CMAKE_INSTALL_BINDIR})
      get_filename_component(found ${found} DIRECTORY)
      list(APPEND QUILO_WINDOWS_RUNTIME_DIRS ${found})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES QUILO_WINDOWS_RUNTIME_DIRS)
endif()

# quilo_windows_test(<test> [<folders>...]): Windows finds the DLLs a program
# links against beside it or through PATH (WINEPATH under Wine), so the test
# runs with these folders on it: the runtime, the program folder, the simulated
# RealSense and the test plugins' folders, and the given folders (a sandbox
# test's engine). Folders may be generator expressions.
function(quilo_windows_test test)
  quilo_windows_paths(native ${QUILO_WINDOWS_RUNTIME_DIRS} ${PROJECT_BINARY_DIR}/bin ${PROJECT_BINARY_DIR}/simbin
    ${PROJECT_BINARY_DIR}/testPlugins ${ARGN})
  # One variable holding a Windows path list: its semicolons are escaped so
  # that ctest does not split it into several variables.
  string(REPLACE ";" "\\;" native "${native}")
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "WINEPATH=${native}")
  else()
    set(path "$ENV{PATH}")
    string(REPLACE ";" "\\;" path "${path}")
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "PATH=${native}\\;${path}")
  endif()
endfunction()

# quilo_windows_test_skip(<test> <gtest patterns>): leaves out the cases that
# Wine cannot run (named in the test's CMakeLists.txt), through GoogleTest's
# GTEST_FILTER; on Windows itself they run.
function(quilo_windows_test_skip test patterns)
  if(CMAKE_CROSSCOMPILING)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-${patterns}")
  endif()
endfunction()
