# The plug-in's resource description (resources/PiPL.h), serialised by our
# build-time tool veltrix-resources (tools/) into build/resources/:
#   Veltrix.pipl  the little-endian list, embedded into Veltrix.aex on Windows
#   Veltrix.rsrc  a resource file with the big-endian list, for the macOS bundle
# Both are written on every platform, so the tests can check them anywhere.
set(VELTRIX_RESOURCES_DIR ${CMAKE_BINARY_DIR}/resources)
set(VELTRIX_WINDOWS_PIPL ${VELTRIX_RESOURCES_DIR}/Veltrix.pipl)
set(VELTRIX_MACOS_RSRC ${VELTRIX_RESOURCES_DIR}/Veltrix.rsrc)
file(MAKE_DIRECTORY ${VELTRIX_RESOURCES_DIR})

if(CMAKE_CROSSCOMPILING)
  # The tool runs here, on the build machine: build it natively, apart from
  # the cross-compiled targets.
  include(ExternalProject)
  set(_veltrix_tools_dir ${CMAKE_BINARY_DIR}/native-tools)
  set(VELTRIX_RESOURCE_TOOL ${_veltrix_tools_dir}/veltrix-resources)
  ExternalProject_Add(veltrix_native_tools
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
    BINARY_DIR ${_veltrix_tools_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DVELTRIX_SDK_DIR=${VELTRIX_SDK_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${VELTRIX_RESOURCE_TOOL})
  set(_veltrix_tool_depends veltrix_native_tools ${VELTRIX_RESOURCE_TOOL})
else()
  add_subdirectory(${CMAKE_SOURCE_DIR}/tools ${CMAKE_BINARY_DIR}/tools)
  set(VELTRIX_RESOURCE_TOOL $<TARGET_FILE:veltrix-resources>)
  set(_veltrix_tool_depends veltrix-resources)
endif()

add_custom_command(OUTPUT ${VELTRIX_WINDOWS_PIPL} ${VELTRIX_MACOS_RSRC}
  COMMAND ${VELTRIX_RESOURCE_TOOL} ${VELTRIX_WINDOWS_PIPL} ${VELTRIX_MACOS_RSRC}
  DEPENDS ${_veltrix_tool_depends}
  COMMENT "Writing the plug-in resource description"
  VERBATIM)
add_custom_target(veltrix_resources ALL DEPENDS ${VELTRIX_WINDOWS_PIPL} ${VELTRIX_MACOS_RSRC})
add_dependencies(Veltrix veltrix_resources)

if(WIN32)
  # windres embeds the list as resource type "PiPL" (it stores type names
  # upper-cased, which the host's lookup accepts), id 16000.
  enable_language(RC)
  set(_veltrix_rc ${VELTRIX_RESOURCES_DIR}/Veltrix.rc)
  file(CONFIGURE OUTPUT ${_veltrix_rc} CONTENT "16000 PiPL \"${VELTRIX_WINDOWS_PIPL}\"\n")
  target_sources(Veltrix PRIVATE ${_veltrix_rc})
  set_source_files_properties(${_veltrix_rc} PROPERTIES OBJECT_DEPENDS ${VELTRIX_WINDOWS_PIPL})
endif()
