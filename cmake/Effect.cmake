# The effect: one set of sources, built twice. `veltrix_effect` is a static
# library for unit tests; `Veltrix` is the plug-in the host loads, exporting
# nothing but EntryPointFunc.
file(GLOB VELTRIX_EFFECT_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/host/*.cpp
  ${CMAKE_SOURCE_DIR}/scene/*.cpp
  ${CMAKE_SOURCE_DIR}/tracer/*.cpp
  ${CMAKE_SOURCE_DIR}/imaging/*.cpp)
if(NOT VELTRIX_EFFECT_SOURCES)
  # A tree checked out before any effect source exists still configures.
  file(WRITE ${CMAKE_BINARY_DIR}/effect_placeholder.cpp "")
  set(VELTRIX_EFFECT_SOURCES ${CMAKE_BINARY_DIR}/effect_placeholder.cpp)
endif()

add_library(veltrix_effect_objects OBJECT ${VELTRIX_EFFECT_SOURCES})
target_include_directories(veltrix_effect_objects PUBLIC
  ${VELTRIX_SDK_DIR} ${CMAKE_SOURCE_DIR})
set_target_properties(veltrix_effect_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# The pixel passes are the frame time: optimised builds go a step further than
# the default -O2 (same IEEE arithmetic, so the same output values).
target_compile_options(veltrix_effect_objects PRIVATE ${VELTRIX_HOT_PATH_FLAGS})
# On x86-64 the coverage pass's corner lanes and the runs' hit, light and footprint lanes are
# also built for x86-64-v3 and for x86-64-v4, and the widest the processor has
# is picked at run time (same IEEE operations, no contraction, so the same
# bits). The x86-64-v4 build takes 512-bit vectors: a lane step over eight
# doubles is one instruction, and the processor holds twice as many steps in
# flight (3-4 % off the peer frame where it runs). Not for Windows, where the
# compiler cannot keep the stack aligned for spilled 512-bit registers.
# The hit, light and footprint lanes' branches are selects between values every lane works
# out; -fno-trapping-math lets the compiler turn them into vector blends
# (floating-point exceptions are masked and never read: the values are the
# same).
set(_veltrix_footprint_flags)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(_veltrix_footprint_flags -fno-trapping-math)
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/tracer/FootprintLanes.cpp
  ${CMAKE_SOURCE_DIR}/tracer/HitLanes.cpp ${CMAKE_SOURCE_DIR}/tracer/LightLanes.cpp
  PROPERTIES COMPILE_OPTIONS "${_veltrix_footprint_flags}")
if(VELTRIX_HOT_PATH_X86)
  target_compile_definitions(veltrix_effect_objects PRIVATE VELTRIX_CORNER_LANES_V3=1)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/tracer/CornerLanesV3.cpp
    PROPERTIES COMPILE_OPTIONS "-march=x86-64-v3")
  set_source_files_properties(${CMAKE_SOURCE_DIR}/tracer/FootprintLanesV3.cpp
    ${CMAKE_SOURCE_DIR}/tracer/HitLanesV3.cpp ${CMAKE_SOURCE_DIR}/tracer/LightLanesV3.cpp PROPERTIES COMPILE_OPTIONS "-march=x86-64-v3;${_veltrix_footprint_flags}")
  if(NOT WIN32)
    target_compile_definitions(veltrix_effect_objects PRIVATE VELTRIX_LANES_V4=1)
    set(_veltrix_v4_flags -march=x86-64-v4 -mprefer-vector-width=512)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/tracer/CornerLanesV4.cpp
      PROPERTIES COMPILE_OPTIONS "${_veltrix_v4_flags}")
    set_source_files_properties(${CMAKE_SOURCE_DIR}/tracer/FootprintLanesV4.cpp
      ${CMAKE_SOURCE_DIR}/tracer/HitLanesV4.cpp ${CMAKE_SOURCE_DIR}/tracer/LightLanesV4.cpp
      PROPERTIES COMPILE_OPTIONS "${_veltrix_v4_flags};${_veltrix_footprint_flags}")
  endif()
endif()
# The plug-in is optimised across its sources at link time (the shading
# helpers are small and called per hit). The objects stay fat, so the static
# library the tests link is ordinary code.
set(_veltrix_lto $<$<AND:$<CONFIG:Release,RelWithDebInfo>,$<CXX_COMPILER_ID:GNU>,$<PLATFORM_ID:Linux>,$<STREQUAL:${VELTRIX_SANITIZE},>>:-flto=auto>)
target_compile_options(veltrix_effect_objects PRIVATE ${_veltrix_lto}
  $<$<BOOL:${_veltrix_lto}>:-ffat-lto-objects>)

add_library(veltrix_effect STATIC $<TARGET_OBJECTS:veltrix_effect_objects>)
target_include_directories(veltrix_effect PUBLIC ${VELTRIX_SDK_DIR} ${CMAKE_SOURCE_DIR})

add_library(Veltrix MODULE $<TARGET_OBJECTS:veltrix_effect_objects>)
target_link_options(Veltrix PRIVATE ${_veltrix_lto} ${VELTRIX_HOT_PATH_FLAGS} ${VELTRIX_LTO_DEBUG_FLAGS})
set_target_properties(Veltrix PROPERTIES PREFIX "" OUTPUT_NAME Veltrix)
if(WIN32)
  set_target_properties(Veltrix PROPERTIES SUFFIX ".aex")
elseif(NOT APPLE)
  target_link_options(Veltrix PRIVATE
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/exports.map -Wl,--no-undefined)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Deliverables.cmake)
