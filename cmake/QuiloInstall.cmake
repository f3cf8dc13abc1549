include(CMakePackageConfigHelpers)

install(TARGETS quiloHeadTrackingEngine EXPORT quiloHeadTrackingTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The headers of the interface; the OS layer and the internal *Detail.h
# headers stay behind, and so does the RealSense camera's frame header, which
# needs librealsense2's headers.
foreach(dir common headTracking)
  install(DIRECTORY ${dir} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h"
    PATTERN "platform" EXCLUDE
    PATTERN "*Detail.h" EXCLUDE
    PATTERN "realsenseCameraFrame.h" EXCLUDE)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/generated/common/buildInfo.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/common)

install(EXPORT quiloHeadTrackingTargets NAMESPACE quilo::
  FILE quiloHeadTrackingTargets.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quiloHeadTracking)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/quiloHeadTrackingConfig.cmake.in
  ${CMAKE_BINARY_DIR}/quiloHeadTrackingConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quiloHeadTracking)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quiloHeadTrackingConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/quiloHeadTrackingConfig.cmake
  ${CMAKE_BINARY_DIR}/quiloHeadTrackingConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quiloHeadTracking)
