# Installation and packages: the plug-in, the SDK headers, the reference host and simulator, the
# host guide and licence files; a CMake package (Tavrin::sdk, Tavrin::plugin) and tavrin.pc for
# hosts; CPack makes a Debian package on Linux and a .zip on Windows.
include(CMakePackageConfigHelpers)

set(TAVRIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavrin)

install(TARGETS Tavrin
        LIBRARY DESTINATION ${TAVRIN_PLUGIN_DIR}
        RUNTIME DESTINATION ${TAVRIN_PLUGIN_DIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)  # a MinGW import library
install(DIRECTORY include/norvane DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS tavrin_sdk EXPORT TavrinTargets)
install(EXPORT TavrinTargets NAMESPACE Tavrin:: DESTINATION ${TAVRIN_CMAKE_DIR})

if(TARGET tavrin-host)
  install(TARGETS tavrin-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tavrin-camsim AND NOT WIN32)
  install(TARGETS tavrin-camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The reference media tavrin-host's bundled simulator serves, when the build tree has them
# (scripts/make-media.sh BUILD_DIR/media, which the tests and the packaging checks run).
set(TAVRIN_MEDIA ${PROJECT_BINARY_DIR}/media)
install(FILES ${TAVRIN_MEDIA}/h264_1080p25.264 ${TAVRIN_MEDIA}/h264_1slice.264
        DESTINATION ${TAVRIN_MEDIA_DIR} OPTIONAL)
install(DIRECTORY ${TAVRIN_MEDIA}/jpeg1080p ${TAVRIN_MEDIA}/jpeg720p ${TAVRIN_MEDIA}/jpeg420
        DESTINATION ${TAVRIN_MEDIA_DIR} OPTIONAL)
file(GLOB TAVRIN_DOCS CONFIGURE_DEPENDS docs/host-guide.md LICENSE THIRD-PARTY-NOTICES.md)
install(FILES ${TAVRIN_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})

configure_package_config_file(cmake/TavrinConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/TavrinConfig.cmake
  INSTALL_DESTINATION ${TAVRIN_CMAKE_DIR}
  PATH_VARS TAVRIN_PLUGIN_PATH)
# The plug-in's word size must match the host's, so the version check compares it too.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TavrinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TavrinConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/TavrinConfigVersion.cmake
        DESTINATION ${TAVRIN_CMAKE_DIR})

# Relocatable: every path is taken from where pkg-config found the file.
file(RELATIVE_PATH TAVRIN_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(cmake/tavrin.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tavrin.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavrin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Capture-driver plug-in for Sanyo-family network cameras")
set(CPACK_PACKAGE_CONTACT "Tavrin maintainers <tavrin@localhost>")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  # Run-time libraries (libcurl, pugixml, the C++ runtime, OpenSSL for the simulator) as
  # dpkg-shlibdeps finds them in the binaries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg")  # tavrin-host's contact sheets
endif()
include(CPack)
