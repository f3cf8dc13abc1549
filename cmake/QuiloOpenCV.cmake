# OpenCV as Debian packages it: the module packages come without OpenCV's
# CMake package (that needs all of libopencv-dev), so the headers and the
# modules are found one by one.
#
# quilo_find_opencv(<modules>...) makes an imported target quilo::opencv_<module>
# for each module (core, imgproc, ...), with the headers as system headers.
include_guard(GLOBAL)

function(quilo_find_opencv)
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
