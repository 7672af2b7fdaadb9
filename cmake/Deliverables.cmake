# What the plug-in ships with on each platform, and the checks of it:
# the resource description (Resources.cmake), the macOS bundle
# (MacBundle.cmake) and, in a Windows build, the checks of Veltrix.aex under
# Wine (tests/windows).
include(${CMAKE_CURRENT_LIST_DIR}/Resources.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/MacBundle.cmake)

# The resource tests (tests/resources) read the generated files; once the
# tests are defined, tell them where those files are.
function(veltrix_point_resource_tests_at_resources)
  if(TARGET test_resources)
    target_compile_definitions(test_resources PRIVATE
      VELTRIX_RESOURCES_DIR="${VELTRIX_RESOURCES_DIR}")
    add_dependencies(test_resources veltrix_resources)
  endif()
endfunction()
cmake_language(DEFER CALL veltrix_point_resource_tests_at_resources)

if(WIN32)
  option(VELTRIX_WINDOWS_CHECKS "Check Veltrix.aex: exports, resource, and a run under Wine" ON)
  if(VELTRIX_WINDOWS_CHECKS)
    enable_testing()
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)
  endif()
endif()
