# The engine's sources are compiled once, into quiloHeadTrackingEngineObjects;
# each area adds its own with target_sources. The shared library is then linked
# from those objects plus one camera back end, so a test variant can put the
# simulated RealSense device behind the very same engine code.
add_library(quiloHeadTrackingEngineObjects OBJECT)
set(QUILO_ENGINE_INCLUDE_DIRS ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
target_include_directories(quiloHeadTrackingEngineObjects PUBLIC ${QUILO_ENGINE_INCLUDE_DIRS})
target_link_libraries(quiloHeadTrackingEngineObjects PUBLIC spdlog::spdlog fmt::fmt glm::glm Threads::Threads
  PRIVATE ${CMAKE_DL_LIBS} PkgConfig::stb)
target_include_directories(quiloHeadTrackingEngineObjects PRIVATE ${X11_INCLUDE_DIR} ${X11_Xrandr_INCLUDE_PATH})
target_compile_definitions(quiloHeadTrackingEngineObjects PUBLIC QUILO_BUILDING_LIBRARY)
set_target_properties(quiloHeadTrackingEngineObjects PROPERTIES
  CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# quilo_add_engine_library(<name> SOURCES <camera back end sources> [LIBRARIES <libs>]
#                          [INCLUDE_DIRS <dirs>])
function(quilo_add_engine_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;INCLUDE_DIRS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} $<TARGET_OBJECTS:quiloHeadTrackingEngineObjects>)
  target_include_directories(${name}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>
           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${ARG_INCLUDE_DIRS})
  target_link_libraries(${name} PUBLIC spdlog::spdlog fmt::fmt glm::glm
    PRIVATE Threads::Threads ${CMAKE_DL_LIBS} PkgConfig::stb ${ARG_LIBRARIES})
  target_compile_definitions(${name} PRIVATE QUILO_BUILDING_LIBRARY)
  # A host compiles the installed headers as C++17 at least.
  target_compile_features(${name} PUBLIC cxx_std_17)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_link_libraries(${name} PRIVATE shell32 setupapi)
    quilo_windows_precompile(${name} ENGINE)
  endif()
endfunction()
