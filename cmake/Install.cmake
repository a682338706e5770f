# The install is the library folder: lib/prescora/ under the prefix holds both libraries, the C
# interface, executor.exe, the tools and Interface.ini, exactly as an installation runs. Headers go
# under include/prescora/, the CMake package under lib/cmake/Prescora/, the pkg-config files under
# lib/pkgconfig/, the manual pages (compressed) under share/man/, links to the tools under bin/.
#
# Components: Runtime (libraries, launcher, sample settings), Development (headers, CMake and
# pkg-config packages, section 3 pages), Tools (the tools, the simulator, their pages), Settings
# (Interface.ini into the library folder: a plain install only) and Layout (the Debian package's
# links from the library folder to /etc and /var: the package only, see cmake/DebianLayout.cmake).
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
      -DVERSION_PATCH=${PROJECT_VERSION_PATCH}
      -DSTAMP=${stamp} "-DPUBLIC=${public}" -P ${CMAKE_SOURCE_DIR}/cmake/PublicHeaders.cmake
    DEPENDS ${library_headers} ${CMAKE_SOURCE_DIR}/cmake/PublicHeaders.cmake
            ${CMAKE_SOURCE_DIR}/cmake/Config.h.in
    COMMENT "Public headers of ${library}")
  list(APPEND public_header_stamps ${stamp})
endforeach()
add_custom_target(prescora_headers ALL DEPENDS ${public_header_stamps})

install(TARGETS Interface Initiator LIBRARY DESTINATION ${PRESCORA_FOLDER} COMPONENT Runtime
        NAMELINK_COMPONENT Runtime)
install(PROGRAMS ${PRESCORA_BIN_DIR}/executor.exe DESTINATION ${PRESCORA_FOLDER} OPTIONAL
        COMPONENT Runtime)
if(TARGET prescora)
  install(TARGETS prescora LIBRARY DESTINATION ${PRESCORA_FOLDER} COMPONENT Runtime
          NAMELINK_COMPONENT Runtime)
  install(FILES ${CMAKE_SOURCE_DIR}/capi/prescora.h ${CMAKE_SOURCE_DIR}/capi/prescora_errores.h
          DESTINATION include/prescora COMPONENT Development)
endif()
install(DIRECTORY ${PRESCORA_INCLUDE_ROOT}/prescora/ DESTINATION include/prescora
        COMPONENT Development FILES_MATCHING PATTERN "*.h")

# Every program under tools/ runs from the library folder and finds the libraries beside it; a
# link under bin/ puts it on the PATH (the tool still finds its own folder through the link).
get_property(tool_targets DIRECTORY ${CMAKE_SOURCE_DIR}/tools PROPERTY BUILDSYSTEM_TARGETS)
foreach(tool ${tool_targets})
  get_target_property(type ${tool} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN")
    prescora_harden(${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${PRESCORA_FOLDER} COMPONENT Tools)
    install(CODE "
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
      file(CREATE_LINK \"../${PRESCORA_FOLDER}/${tool}\"
           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${tool}\" SYMBOLIC)"
      COMPONENT Tools)
  endif()
endforeach()

# Manual pages, compressed as Debian ships them (man reads them so everywhere): section 1 for the
# tools, 3 for the C interface, 5 for Interface.ini.
file(GLOB manual_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*/*.1
     ${CMAKE_SOURCE_DIR}/capi/*.3 ${CMAKE_SOURCE_DIR}/config/*.5)
set(compressed_pages "")
foreach(page ${manual_pages})
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${name})
  set(out ${CMAKE_BINARY_DIR}/man/man${section}/${name}.gz)
  add_custom_command(OUTPUT ${out} COMMAND ${CMAKE_COMMAND} -E make_directory
                     ${CMAKE_BINARY_DIR}/man/man${section}
                     COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${page} ${out}
                     DEPENDS ${page} VERBATIM)
  list(APPEND compressed_pages ${out})
  if(section STREQUAL "1")
    set(component Tools)
  elseif(section STREQUAL "3")
    set(component Development)
  else()
    set(component Runtime)
  endif()
  install(FILES ${out} DESTINATION share/man/man${section} COMPONENT ${component})
endforeach()
add_custom_target(prescora_manual_pages ALL DEPENDS ${compressed_pages})

# The sample settings: always under share/, and into the library folder only when that folder has
# none yet, so a reinstall never wipes an installation's settings.
install(FILES ${CMAKE_SOURCE_DIR}/config/Interface.ini DESTINATION share/prescora COMPONENT Runtime)
install(CODE "
  set(ini \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PRESCORA_FOLDER}/Interface.ini\")
  if(EXISTS \"\${ini}\")
    message(STATUS \"Kept: \${ini}\")
  else()
    # file(INSTALL) adds DESTDIR itself.
    file(INSTALL \"${CMAKE_SOURCE_DIR}/config/Interface.ini\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${PRESCORA_FOLDER}\")
  endif()" COMPONENT Settings)

# find_package(Prescora): Prescora::Interface, Prescora::Initiator, Prescora::C.
set(package_dir ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_SOURCE_DIR}/cmake/PrescoraConfig.cmake.in ${package_dir}/PrescoraConfig.cmake
               @ONLY)
write_basic_package_version_file(${package_dir}/PrescoraConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${package_dir}/PrescoraConfig.cmake ${package_dir}/PrescoraConfigVersion.cmake
        DESTINATION lib/cmake/Prescora COMPONENT Development)
foreach(pc prescora-interface prescora-initiator prescora)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/${pc}.pc.in ${package_dir}/${pc}.pc @ONLY)
  install(FILES ${package_dir}/${pc}.pc DESTINATION lib/pkgconfig COMPONENT Development)
endforeach()

include(${CMAKE_SOURCE_DIR}/cmake/DebianPackages.cmake)
