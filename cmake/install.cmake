# Installation: the public headers under their project paths, the static
# libraries, pictool, a CMake package (find_package(solsys CONFIG): targets
# solsys::picture and solsys::nrutil) and pkg-config files (solsys-picture,
# solsys-nrutil). Tests, benchmarks, fuzz targets and the viewer stay out.
include(CMakePackageConfigHelpers)

set(SOLSYS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/solsys)
set(SOLSYS_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/picture/core/picture.h ${PROJECT_SOURCE_DIR}/picture/core/quantise.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/picture/core)
install(FILES ${PROJECT_SOURCE_DIR}/nrutil/nrutil.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nrutil)
install(TARGETS picture nrutil EXPORT solsysTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT solsysTargets NAMESPACE solsys:: DESTINATION ${SOLSYS_CMAKE_DIR})

# The codecs the picture library links (their imported targets are not seen
# from here), for the package's find_dependency calls and the .pc file.
get_target_property(SOLSYS_PICTURE_LINKS picture INTERFACE_LINK_LIBRARIES)
set(SOLSYS_PICTURE_DEPENDENCIES "")
set(SOLSYS_PICTURE_CODEC_LIBS "")
foreach(codec JPEG:jpeg TIFF:tiff PNG:png ZLIB:z)
  string(REPLACE ":" ";" codec ${codec})
  list(GET codec 0 package)
  list(GET codec 1 library)
  if("${package}::${package}" IN_LIST SOLSYS_PICTURE_LINKS)
    string(APPEND SOLSYS_PICTURE_DEPENDENCIES "find_dependency(${package})\n")
    string(APPEND SOLSYS_PICTURE_CODEC_LIBS " -l${library}")
  endif()
endforeach()
string(APPEND SOLSYS_PICTURE_CODEC_LIBS " -ldeflate")

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/solsysConfig.cmake.in
  ${PROJECT_BINARY_DIR}/solsysConfig.cmake INSTALL_DESTINATION ${SOLSYS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/solsysConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/solsysConfig.cmake ${PROJECT_BINARY_DIR}/solsysConfigVersion.cmake
        DESTINATION ${SOLSYS_CMAKE_DIR})

# The .pc files find the prefix from their own place, so that an install
# with another --prefix than the configured one still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(SOLSYS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH SOLSYS_PC_UP "/${SOLSYS_PKGCONFIG_DIR}" "/")
  string(REGEX REPLACE "/$" "" SOLSYS_PC_UP "${SOLSYS_PC_UP}")
  set(SOLSYS_PC_PREFIX "\${pcfiledir}/${SOLSYS_PC_UP}")
endif()
foreach(pc solsys-picture solsys-nrutil)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${SOLSYS_PKGCONFIG_DIR})
endforeach()
