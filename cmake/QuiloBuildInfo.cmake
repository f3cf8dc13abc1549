# The source-control reference and commit the library was built from, taken
# from git when the source tree is a checkout.
set(QUILO_GIT_REF "unknown")
set(QUILO_GIT_COMMIT "0000000000000000000000000000000000000000")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --abbrev-ref HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE _ref
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _ref_rc)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE _commit
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _commit_rc)
  if(_ref_rc EQUAL 0 AND _ref)
    set(QUILO_GIT_REF "${_ref}")
  endif()
  if(_commit_rc EQUAL 0 AND _commit MATCHES "^[0-9a-f]+$")
    set(QUILO_GIT_COMMIT "${_commit}")
  endif()
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/buildInfo.h.in
  ${PROJECT_BINARY_DIR}/generated/common/buildInfo.h @ONLY)
