# Lays out one library's public headers for hosts (run with cmake -P at build time).
#
#   -DLIBRARY=Interface -DFOLDER=interface -DSOURCE_DIR=<source root> -DOUTPUT_DIR=<include root>
#   -DCONFIG_TEMPLATE=<Config.h.in> -DVERSION_MAJOR=1 -DVERSION_MINOR=2 -DVERSION_PATCH=0 -DSTAMP=<file>
#   -DPUBLIC=<the class headers, comma-separated>
#
# The sources name their library through the PRESCORA_NS macro and include each other from the
# source root ("common/...", "interface/..."). A host should need neither defines nor our source
# layout, and should be able to use both libraries in one file, so every class header of the
# library and the common headers they reach are copied under <include root>/prescora/<LIBRARY>/
# with the namespace written out and the includes pointing at the copies. Export.h, which only
# checks the build's defines, gives way to the generated Config.h.
cmake_minimum_required(VERSION 3.20)

set(dest "${OUTPUT_DIR}/prescora/${LIBRARY}")
set(written "")

function(write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

string(TOUPPER "${LIBRARY}" LIBRARY_UPPER)
configure_file("${CONFIG_TEMPLATE}" "${dest}/Config.h.new" @ONLY)
file(READ "${dest}/Config.h.new" config)
file(REMOVE "${dest}/Config.h.new")
write_if_changed("${dest}/Config.h" "${config}")
list(APPEND written "${dest}/Config.h")

# The public classes (PUBLIC, those present), their error items, the library's version, message
# loop and error texts, and the former name of the message-loop hook. The library's inner
# machinery stays out.
set(queue "")
string(REPLACE "," ";" public "${PUBLIC}")
foreach(header ${public})
  if(EXISTS "${SOURCE_DIR}/${FOLDER}/${header}")
    list(APPEND queue "${FOLDER}/${header}")
  endif()
endforeach()
list(APPEND queue common/CError.h common/Library.h common/platform/events.h)
set(done "")
while(queue)
  list(POP_FRONT queue header)
  if(header IN_LIST done)
    continue()
  endif()
  list(APPEND done "${header}")
  file(READ "${SOURCE_DIR}/${header}" text)

  # Everything a header pulls in from our own tree goes along with it.
  string(REGEX MATCHALL "#include \"[^\"]+\"" includes "${text}")
  foreach(line ${includes})
    string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" included "${line}")
    if(included STREQUAL "common/Export.h")
      continue()
    endif()
    if(NOT included MATCHES "^(common|${FOLDER})/")
      message(FATAL_ERROR "${header} includes ${included}, which a host cannot reach")
    endif()
    list(APPEND queue "${included}")
  endforeach()

  string(REPLACE "#include \"common/Export.h\"" "#include <prescora/${LIBRARY}/Config.h>" text
                 "${text}")
  string(REGEX REPLACE "#include \"common/([^\"]+)\"" "#include <prescora/${LIBRARY}/common/\\1>"
                       text "${text}")
  string(REGEX REPLACE "#include \"${FOLDER}/([^\"]+)\"" "#include <prescora/${LIBRARY}/\\1>"
                       text "${text}")
  string(REPLACE "PRESCORA_NS" "${LIBRARY}" text "${text}")

  if(header MATCHES "^${FOLDER}/(.*)$")
    set(target "${dest}/${CMAKE_MATCH_1}")
  else()
    set(target "${dest}/${header}")
  endif()
  write_if_changed("${target}" "${text}")
  list(APPEND written "${target}")
endwhile()

# A header dropped from the sources leaves the layout too.
file(GLOB_RECURSE present "${dest}/*.h")
foreach(file ${present})
  if(NOT file IN_LIST written)
    file(REMOVE "${file}")
  endif()
endforeach()
file(TOUCH "${STAMP}")
