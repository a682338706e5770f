# Run by CPack on the staged package: puts the /opt/prescora installation within the system's
# reach. Relative links, so that they also resolve in a package unpacked into another root.
#   /usr/bin/prescora-*              the tools
#   /usr/share/man/man1/*.1          their manual pages
#   /usr/lib/cmake/Prescora/         find_package(Prescora) with no prefix path
#   /usr/share/pkgconfig/*.pc        pkg-config with no search path
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(opt "${root}/opt/prescora")
set(folder "${opt}/lib/prescora")
if(EXISTS "${folder}")
  file(MAKE_DIRECTORY "${root}/usr/bin" "${root}/usr/share/man/man1" "${root}/usr/share/pkgconfig"
       "${root}/usr/lib/cmake/Prescora")
  file(GLOB tools "${folder}/prescora-*")
  foreach(tool ${tools})
    get_filename_component(name "${tool}" NAME)
    file(CREATE_LINK "../../opt/prescora/lib/prescora/${name}" "${root}/usr/bin/${name}" SYMBOLIC)
  endforeach()
  file(GLOB pages "${opt}/share/man/man1/*.1")
  foreach(page ${pages})
    get_filename_component(name "${page}" NAME)
    file(CREATE_LINK "../../../../opt/prescora/share/man/man1/${name}"
         "${root}/usr/share/man/man1/${name}" SYMBOLIC)
  endforeach()
  file(WRITE "${root}/usr/lib/cmake/Prescora/PrescoraConfig.cmake"
       "include(/opt/prescora/lib/cmake/Prescora/PrescoraConfig.cmake)\n")
  file(WRITE "${root}/usr/lib/cmake/Prescora/PrescoraConfigVersion.cmake"
       "include(/opt/prescora/lib/cmake/Prescora/PrescoraConfigVersion.cmake)\n")
  file(GLOB pcs "${opt}/lib/pkgconfig/*.pc")
  foreach(pc ${pcs})
    get_filename_component(name "${pc}" NAME)
    file(READ "${pc}" text)
    string(REPLACE "prefix=\${pcfiledir}/../.." "prefix=/opt/prescora" text "${text}")
    file(WRITE "${root}/usr/share/pkgconfig/${name}" "${text}")
  endforeach()
endif()
