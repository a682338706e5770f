# The install is the library folder: lib/prescora/ under the prefix holds both libraries, the C
# interface, executor.exe, the tools and Interface.ini, exactly as an installation runs. Headers go
# under include/prescora/, the CMake package under lib/cmake/Prescora/, the pkg-config files under
# lib/pkgconfig/, the manual pages under share/man/man1/.
include(CMakePackageConfigHelpers)

set(PRESCORA_FOLDER lib/prescora)
set(PRESCORA_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/include)

# Public headers as hosts include them: <prescora/Interface/CInterface.h>, no defines.
set(public_header_stamps "")
set(Interface_PUBLIC CInterface.h CPeticionDispensacion.h CRespuestaPeticion.h CExecutor.h
                     CConfig.h CFileAdmin.h CAuditor.h)
set(Initiator_PUBLIC CInitiator.h CArgument.h CPrescripciones.h CPrescripcion.h CCard.h)
foreach(pair "Interface;interface" "Initiator;initiator")
  list(GET pair 0 library)
  list(GET pair 1 folder)
  string(REPLACE ";" "," public "${${library}_PUBLIC}")
  file(GLOB_RECURSE library_headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h
       ${CMAKE_SOURCE_DIR}/common/*.h)
  set(stamp ${CMAKE_BINARY_DIR}/include/${library}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND
      ${CMAKE_COMMAND} -DLIBRARY=${library} -DFOLDER=${folder} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
      -DOUTPUT_DIR=${PRESCORA_INCLUDE_ROOT} -DCONFIG_TEMPLATE=${CMAKE_SOURCE_DIR}/cmake/Config.h.in
      -DVERSION_MAJOR=${PROJECT_VERSION_MAJOR} -DVERSION_MINOR=${PROJECT_VERSION_MINOR}
      -DSTAMP=${stamp} "-DPUBLIC=${public}" -P ${CMAKE_SOURCE_DIR}/cmake/PublicHeaders.cmake
    DEPENDS ${library_headers} ${CMAKE_SOURCE_DIR}/cmake/PublicHeaders.cmake
            ${CMAKE_SOURCE_DIR}/cmake/Config.h.in
    COMMENT "Public headers of ${library}")
  list(APPEND public_header_stamps ${stamp})
endforeach()
add_custom_target(prescora_headers ALL DEPENDS ${public_header_stamps})

install(TARGETS Interface Initiator LIBRARY DESTINATION ${PRESCORA_FOLDER})
install(PROGRAMS ${PRESCORA_BIN_DIR}/executor.exe DESTINATION ${PRESCORA_FOLDER} OPTIONAL)
if(TARGET prescora)
  install(TARGETS prescora LIBRARY DESTINATION ${PRESCORA_FOLDER})
  install(FILES ${CMAKE_SOURCE_DIR}/capi/prescora.h DESTINATION include/prescora)
endif()
install(DIRECTORY ${PRESCORA_INCLUDE_ROOT}/prescora/ DESTINATION include/prescora
        FILES_MATCHING PATTERN "*.h")

# Every program under tools/ runs from the library folder and finds the libraries beside it.
get_property(tool_targets DIRECTORY ${CMAKE_SOURCE_DIR}/tools PROPERTY BUILDSYSTEM_TARGETS)
foreach(tool ${tool_targets})
  get_target_property(type ${tool} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${tool} RUNTIME DESTINATION ${PRESCORA_FOLDER})
  endif()
endforeach()
file(GLOB manual_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*/*.1)
install(FILES ${manual_pages} DESTINATION share/man/man1)

# The sample settings: always under share/, and into the library folder only when that folder has
# none yet, so a reinstall never wipes an installation's settings.
install(FILES ${CMAKE_SOURCE_DIR}/config/Interface.ini DESTINATION share/prescora)
install(CODE "
  set(ini \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PRESCORA_FOLDER}/Interface.ini\")
  if(EXISTS \"\${ini}\")
    message(STATUS \"Kept: \${ini}\")
  else()
    # file(INSTALL) adds DESTDIR itself.
    file(INSTALL \"${CMAKE_SOURCE_DIR}/config/Interface.ini\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${PRESCORA_FOLDER}\")
  endif()")

# find_package(Prescora): Prescora::Interface, Prescora::Initiator, Prescora::C.
set(package_dir ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_SOURCE_DIR}/cmake/PrescoraConfig.cmake.in ${package_dir}/PrescoraConfig.cmake
               @ONLY)
write_basic_package_version_file(${package_dir}/PrescoraConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${package_dir}/PrescoraConfig.cmake ${package_dir}/PrescoraConfigVersion.cmake
        DESTINATION lib/cmake/Prescora)
foreach(pc prescora-interface prescora-initiator prescora)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/${pc}.pc.in ${package_dir}/${pc}.pc @ONLY)
  install(FILES ${package_dir}/${pc}.pc DESTINATION lib/pkgconfig)
endforeach()

# The Debian package: the same install under /opt/prescora, plus what puts it within reach of the
# system (see cmake/DebianLinks.cmake).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME prescora)
set(CPACK_PACKAGE_VENDOR Prescora)
set(CPACK_PACKAGE_CONTACT "Prescora <soporte@prescora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Dispensing and retrieval of e-prescriptions for pharmacy applications")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/prescora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The build keeps its debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebianLinks.cmake)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/postinst ${package_dir}/debian/postinst COPYONLY)
file(WRITE ${package_dir}/debian/conffiles "/opt/prescora/${PRESCORA_FOLDER}/Interface.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${package_dir}/debian/postinst
                                       ${package_dir}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
