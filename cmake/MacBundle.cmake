# The macOS deliverable: Veltrix.plugin, a bundle holding
#   Contents/Info.plist              package type "eFKT", signature "FXTC"
#   Contents/PkgInfo                 the same type and signature, for older finders
#   Contents/MacOS/Veltrix           the code
#   Contents/Resources/Veltrix.rsrc  the resource description (see Resources.cmake)
# Info.plist and PkgInfo are written into build/resources/ on every platform,
# so the tests can check them anywhere; the bundle itself is assembled on
# macOS only.
set(VELTRIX_INFO_PLIST ${VELTRIX_RESOURCES_DIR}/Info.plist)
set(VELTRIX_PKGINFO ${VELTRIX_RESOURCES_DIR}/PkgInfo)
set(VELTRIX_BUNDLE_IDENTIFIER "com.norvane.veltrix")
configure_file(${CMAKE_SOURCE_DIR}/resources/Info.plist.in ${VELTRIX_INFO_PLIST} @ONLY)
file(CONFIGURE OUTPUT ${VELTRIX_PKGINFO} CONTENT "eFKTFXTC")

if(APPLE)
  set_target_properties(Veltrix PROPERTIES
    BUNDLE TRUE
    BUNDLE_EXTENSION plugin
    MACOSX_BUNDLE_INFO_PLIST ${VELTRIX_INFO_PLIST})
  target_sources(Veltrix PRIVATE ${VELTRIX_MACOS_RSRC})
  set_source_files_properties(${VELTRIX_MACOS_RSRC} PROPERTIES
    GENERATED TRUE MACOSX_PACKAGE_LOCATION Resources)
  # The host calls one function; nothing else leaves the bundle.
  target_link_options(Veltrix PRIVATE -Wl,-exported_symbol,_EntryPointFunc)
  add_custom_command(TARGET Veltrix POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${VELTRIX_PKGINFO} $<TARGET_BUNDLE_CONTENT_DIR:Veltrix>/PkgInfo
    VERBATIM)
endif()
