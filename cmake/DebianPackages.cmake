# The Debian packages, made by CPack from the install's components:
#   prescora        Runtime + Layout: the libraries, executor.exe, the sample settings, the
#                   Interface.ini page, the links from the library folder to /etc and /var, the
#                   logrotate file; its maintainer scripts make the group, settings and folders
#   prescora-dev    Development: headers, CMake and pkg-config packages, the C interface's page
#   prescora-tools  Tools: the command-line tools and the simulator, their pages
# plus one -dbgsym package of each with the debugging information the binaries are stripped of.
#
# The library folder is /usr/lib/prescora: code only, owned by root and written by no one else.
# What the libraries write "in their folder" lives where the FHS puts it, reached through links
# the package itself ships (owned by root like every file of it):
#   Interface.ini                       -> /etc/prescora/Interface.ini
#   defrespo.xml                        -> /etc/prescora/defrespo.xml (when the site writes one)
#   Enviados, Recibidos, Retrasados,
#   EnCurso, EnCurso.lock               -> /var/spool/prescora/...
#   Auditoria                           -> /var/lib/prescora/Auditoria
#   Interface.log, Interface.txt,
#   Initiator.log, Initiator.txt        -> /var/log/prescora/...
set(PRESCORA_LAYOUT_LINKS
    "Interface.ini=/etc/prescora/Interface.ini"
    "defrespo.xml=/etc/prescora/defrespo.xml"
    "Enviados=/var/spool/prescora/Enviados"
    "Recibidos=/var/spool/prescora/Recibidos"
    "Retrasados=/var/spool/prescora/Retrasados"
    "EnCurso=/var/spool/prescora/EnCurso"
    "EnCurso.lock=/var/spool/prescora/EnCurso.lock"
    "Auditoria=/var/lib/prescora/Auditoria"
    "Interface.log=/var/log/prescora/Interface.log"
    "Interface.txt=/var/log/prescora/Interface.txt"
    "Initiator.log=/var/log/prescora/Initiator.log"
    "Initiator.txt=/var/log/prescora/Initiator.txt")
set(layout_code "set(folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PRESCORA_FOLDER}\")\n")
foreach(link ${PRESCORA_LAYOUT_LINKS})
  string(REPLACE "=" ";" pair "${link}")
  list(GET pair 0 name)
  list(GET pair 1 target)
  string(APPEND layout_code "file(CREATE_LINK \"${target}\" \"\${folder}/${name}\" SYMBOLIC)\n")
endforeach()
install(CODE "${layout_code}" COMPONENT Layout EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/prescora.logrotate DESTINATION /etc/logrotate.d
        RENAME prescora COMPONENT Layout EXCLUDE_FROM_ALL)

# Each package's copyright, changelog and lintian overrides.
set(debian_dir ${CMAKE_BINARY_DIR}/package/debian)
file(MAKE_DIRECTORY ${debian_dir})
add_custom_command(
  OUTPUT ${debian_dir}/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${CMAKE_SOURCE_DIR}/cmake/debian/changelog
          ${debian_dir}/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
add_custom_target(prescora_debian_changelog ALL DEPENDS ${debian_dir}/changelog.gz)
foreach(pair "prescora;Runtime" "prescora-dev;Development" "prescora-tools;Tools")
  list(GET pair 0 package)
  list(GET pair 1 component)
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${debian_dir}/changelog.gz
          DESTINATION share/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  if(EXISTS ${CMAKE_SOURCE_DIR}/cmake/debian/${package}.lintian-overrides)
    install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/${package}.lintian-overrides
            DESTINATION share/lintian/overrides RENAME ${package} COMPONENT ${component}
            EXCLUDE_FROM_ALL)
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME prescora)
set(CPACK_PACKAGE_VENDOR Prescora)
set(CPACK_PACKAGE_CONTACT "Prescora <soporte@prescora.es>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installed with DESTDIR, so that /etc/logrotate.d and the links land in the staged root.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Layout Development Tools)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENT_RUNTIME_GROUP runtime)
set(CPACK_COMPONENT_LAYOUT_GROUP runtime)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP dev)
set(CPACK_COMPONENT_TOOLS_GROUP tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://prescora.es")
# The -dbgsym packages take the debugging information out of the binaries and strip them (CPack's
# own stripping would run first and leave them nothing to take).
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME prescora)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "passwd, logrotate")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "e-prescription dispensing and retrieval for pharmacy applications
Prescora connects a pharmacy's point-of-sale application to the regional
e-prescription web service: the dispensing library (libInterface), the
retrieval library (libInitiator), their plain C interface (libprescora) and
the launcher (executor.exe) that sends each dispensing in a process of its
own.
.
Settings live in /etc/prescora/Interface.ini, spool folders under
/var/spool/prescora, the audit trail under /var/lib/prescora and the logs
under /var/log/prescora, all shared by the system group prescora that the
pharmacy's users join.")
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/postinst ${debian_dir}/postinst COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/postrm ${debian_dir}/postrm COPYONLY)
file(WRITE ${debian_dir}/conffiles "/etc/logrotate.d/prescora\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${debian_dir}/postinst ${debian_dir}/postrm
                                               ${debian_dir}/conffiles)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME prescora-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "prescora (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "e-prescription dispensing and retrieval - development files
The headers of Prescora's C++ libraries (C++17 or later) and of its plain C
interface, the CMake package (find_package(Prescora)), the pkg-config files
and the C interface's manual page, for building pharmacy applications
against the libraries of the prescora package.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME prescora-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "prescora (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "e-prescription dispensing and retrieval - command-line tools
prescora-dispensar and prescora-recuperar dispense and retrieve from the
shell, prescora-tarjeta reads the patient's health card, prescora-auditoria
reconciles the audit trail, and prescora-simulador stands in for the
regional e-prescription service for offline development and tests.")
include(CPack)
