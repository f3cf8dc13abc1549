# MediaPipe's face models as ONNX files for the CPU face detector: converted
# by tools/modelConverter from the npm packages scripts/setup.sh fetches, into
# the cache outside the clone, under a key of the packages' integrity and the
# converter's sources, so a machine converts them once for all its builds.
#
# quilo_face_models(<out_files> <out_dir>) adds the target quiloFaceModels
# that converts them, and sets <out_files> to the .onnx files it makes and
# <out_dir> to their folder; both are empty, with a warning that says what to
# run, when the packages or the converter's Python modules are missing.
include_guard(GLOBAL)

set(QUILO_FACE_MODEL_NAMES iris_landmark face_landmark face_detection_full_range face_detection_short_range)

function(quilo_face_models out_files out_dir)
  set(${out_files} "" PARENT_SCOPE)
  set(${out_dir} "" PARENT_SCOPE)
  if(DEFINED ENV{QUILO_CACHE_DIR})
    set(cache $ENV{QUILO_CACHE_DIR})
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(cache $ENV{XDG_CACHE_HOME}/quilo)
  else()
    set(cache $ENV{HOME}/.cache/quilo)
  endif()

  # Debian's interpreter first: the converter's modules are Debian packages,
  # which another python3 on the PATH (a virtual environment) may lack.
  set(python "")
  find_package(Python3 QUIET COMPONENTS Interpreter)
  foreach(candidate /usr/bin/python3 ${Python3_EXECUTABLE})
    if(EXISTS ${candidate})
      execute_process(COMMAND ${candidate} -c "import onnx, flatbuffers, numpy"
        RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
      if(NOT failed)
        set(python ${candidate})
        break()
      endif()
    endif()
  endforeach()
  set(QUILO_MODEL_PYTHON "${python}" CACHE INTERNAL "Python that runs the model converter")
  set(QUILO_MODEL_PACKAGE_DIR ${cache}/npm CACHE INTERNAL "Folder of the face models' npm packages")
  set(QUILO_FACE_MODEL_DIR "" CACHE INTERNAL "Folder of the converted face models")
  if(NOT python)
    message(WARNING "No python3 with the modules onnx, flatbuffers and numpy, which convert the "
      "face models: run scripts/setup.sh (python3-onnx, python3-flatbuffers, python3-numpy), then "
      "configure again. The build goes on without the MediaPipe models.")
    return()
  endif()

  # The packages, exactly as the setup fetches them: its list is the one place
  # their versions and hashes are written.
  file(STRINGS ${PROJECT_SOURCE_DIR}/scripts/setup.sh entries
    REGEX "^  \"@[^ ]+@[0-9.]+ sha512-[A-Za-z0-9+/=]+\"$")
  set(tarballs "")
  set(integrity_args "")
  set(missing "")
  foreach(entry ${entries})
    string(REGEX REPLACE "^  \"@([^ ]+)@([0-9.]+) (sha512-[^\"]+)\"$" "\\1;\\2;\\3" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 version)
    list(GET parts 2 integrity)
    string(REPLACE "/" "-" tarball "${name}-${version}.tgz")
    list(APPEND tarballs ${cache}/npm/${tarball})
    list(APPEND integrity_args --integrity ${tarball}=${integrity})
    if(NOT EXISTS ${cache}/npm/${tarball})
      list(APPEND missing ${tarball})
    endif()
  endforeach()
  if(NOT entries)
    message(FATAL_ERROR "scripts/setup.sh lists no model packages")
  endif()
  if(missing)
    message(WARNING "The face models' npm packages are not in ${cache}/npm (missing: ${missing}): "
      "run scripts/setup.sh, which fetches them, then configure again. The build goes on without "
      "the MediaPipe models.")
    return()
  endif()

  file(GLOB converter CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/modelConverter/*.py)
  list(SORT converter)
  # The key follows the converter's text: an edit configures again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${converter})
  set(key_text "${integrity_args}")
  foreach(source ${converter})
    file(SHA256 ${source} hash)
    string(APPEND key_text ";${hash}")
  endforeach()
  string(SHA256 key "${key_text}")
  string(SUBSTRING ${key} 0 16 key)
  set(dir ${cache}/models/${key})

  set(files "")
  foreach(model ${QUILO_FACE_MODEL_NAMES})
    list(APPEND files ${dir}/${model}.onnx)
  endforeach()
  add_custom_command(OUTPUT ${files}
    COMMAND ${python} ${PROJECT_SOURCE_DIR}/tools/modelConverter/convert.py ${integrity_args}
      ${cache}/npm ${dir} ${QUILO_FACE_MODEL_NAMES}
    DEPENDS ${converter} ${tarballs}
    COMMENT "Converting MediaPipe's face models into ${dir}"
    VERBATIM)
  add_custom_target(quiloFaceModels ALL DEPENDS ${files})
  set(${out_files} ${files} PARENT_SCOPE)
  set(${out_dir} ${dir} PARENT_SCOPE)
  set(QUILO_FACE_MODEL_DIR ${dir} CACHE INTERNAL "Folder of the converted face models")
endfunction()
