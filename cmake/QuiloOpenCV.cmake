# OpenCV as Debian packages it: the module packages come without OpenCV's
# CMake package (that needs all of libopencv-dev), so the headers and the
# modules are found one by one. Where OpenCV's own package is found (a static
# build for Windows, OpenCV_DIR), its targets are used, since they carry what
# static modules need at link time.
#
# quilo_find_opencv(<modules>...) makes a target quilo::opencv_<module> for
# each module (core, imgproc, ...), with the headers as system headers.
include_guard(GLOBAL)

function(quilo_find_opencv)
  find_package(OpenCV QUIET CONFIG COMPONENTS ${ARGN})
  if(OpenCV_FOUND)
    foreach(module ${ARGN})
      if(NOT TARGET quilo::opencv_${module})
        add_library(quilo::opencv_${module} INTERFACE IMPORTED GLOBAL)
        set_target_properties(quilo::opencv_${module} PROPERTIES INTERFACE_LINK_LIBRARIES opencv_${module})
      endif()
    endforeach()
    return()
  endif()
  find_path(QUILO_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
  foreach(module ${ARGN})
    if(TARGET quilo::opencv_${module})
      continue()
    endif()
    find_library(QUILO_OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
    add_library(quilo::opencv_${module} UNKNOWN IMPORTED GLOBAL)
    set_target_properties(quilo::opencv_${module} PROPERTIES
      IMPORTED_LOCATION ${QUILO_OPENCV_${module}_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${QUILO_OPENCV_INCLUDE_DIR})
  endforeach()
endfunction()

# Sets <out> to whether the CPU face detector's libraries are all there: dlib
# and OpenCV's core, imgproc, objdetect and calib3d.
function(quilo_cpu_detector_dependencies out)
  find_package(dlib QUIET)
  find_package(OpenCV QUIET CONFIG COMPONENTS core imgproc objdetect calib3d)
  set(found ${dlib_FOUND})
  if(NOT OpenCV_FOUND)
    find_path(QUILO_OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
    foreach(module core imgproc objdetect calib3d)
      find_library(QUILO_OPENCV_${module}_LIBRARY opencv_${module})
      if(NOT QUILO_OPENCV_${module}_LIBRARY)
        set(found FALSE)
      endif()
    endforeach()
    if(NOT QUILO_OPENCV_INCLUDE_DIR)
      set(found FALSE)
    endif()
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
