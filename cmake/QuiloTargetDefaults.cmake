# The settings every target of the project shares, applied to the targets
# themselves rather than through directory-wide variables, so that a host
# that takes the project in with add_subdirectory keeps its own.
#
# quilo_apply_target_defaults(<dir>) walks <dir> and its subdirectories and
# gives each target made there:
#   - C++17 without extensions, C99, position-independent code;
#   - warnings (-Wall -Wextra, /W4 with MSVC) and, with GCC and Clang,
#     source locations relative to the repository root;
#   - with QUILO_THREAD_SAFETY_ANALYSIS, clang's lock checks as errors;
#   - the sanitizers of QUILO_SANITIZE;
#   - the output folder bin/ (lib/ for archives) of the project's build
#     folder, unless the target chose its own: plugins, assets and the engine
#     library lie side by side as they do when installed;
#   - $ORIGIN as its run path, in the build and installed, unless the
#     target chose its own.

function(_quilo_target_defaults target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY" OR type STREQUAL "UTILITY")
    return()
  endif()
  set_target_properties(${target} PROPERTIES
    CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF
    C_STANDARD 99
    POSITION_INDEPENDENT_CODE ON
    BUILD_RPATH_USE_ORIGIN ON)
  foreach(kind BUILD INSTALL)
    get_target_property(path ${target} ${kind}_RPATH)
    if(NOT path)
      set_target_properties(${target} PROPERTIES ${kind}_RPATH "$ORIGIN")
    endif()
  endforeach()
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 /EHsc)
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra
      # Source locations in exceptions and log lines are relative to the repository root.
      -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
    if(QUILO_THREAD_SAFETY_ANALYSIS)
      target_compile_options(${target} PRIVATE -Wthread-safety -Werror=thread-safety)
    endif()
    if(QUILO_SANITIZE)
      target_compile_options(${target} PRIVATE
        -fsanitize=${QUILO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
      if(NOT type STREQUAL "OBJECT_LIBRARY" AND NOT type STREQUAL "STATIC_LIBRARY")
        target_link_options(${target} PRIVATE -fsanitize=${QUILO_SANITIZE})
      endif()
    endif()
  endif()
  foreach(kind RUNTIME LIBRARY ARCHIVE)
    get_target_property(folder ${target} ${kind}_OUTPUT_DIRECTORY)
    if(NOT folder)
      if(kind STREQUAL "ARCHIVE")
        set_target_properties(${target} PROPERTIES ${kind}_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
      else()
        set_target_properties(${target} PROPERTIES ${kind}_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
      endif()
    endif()
  endforeach()
endfunction()

function(quilo_apply_target_defaults dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    _quilo_target_defaults(${target})
  endforeach()
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    quilo_apply_target_defaults(${subdirectory})
  endforeach()
endfunction()
