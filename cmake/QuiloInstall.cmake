include(CMakePackageConfigHelpers)

install(TARGETS quiloHeadTrackingEngine EXPORT quiloHeadTrackingTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The headers a host uses. Internal ones stay behind: the OS layer, the
# *Detail.h headers, the engine's frame view, the glm formatters of the
# engine's own log lines (a host may format glm its own way), and the
# RealSense camera's frame header, which needs librealsense2's headers.
foreach(dir common headTracking)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h"
    PATTERN "platform" EXCLUDE
    PATTERN "*Detail.h" EXCLUDE
    PATTERN "engineFrame.h" EXCLUDE
    PATTERN "glmFormat.h" EXCLUDE
    PATTERN "realsenseCameraFrame.h" EXCLUDE)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/generated/common/buildInfo.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/common)

install(EXPORT quiloHeadTrackingTargets NAMESPACE quilo::
  FILE quiloHeadTrackingTargets.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quiloHeadTracking)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quiloHeadTrackingConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quiloHeadTrackingConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quiloHeadTracking)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quiloHeadTrackingConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quiloHeadTrackingConfig.cmake
  ${PROJECT_BINARY_DIR}/quiloHeadTrackingConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quiloHeadTracking)
