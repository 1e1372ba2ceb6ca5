# Checks the release archive of the 32-bit program: exactly the program, the notes for setup
# authors, the sample package (FileList.ini and every file it names) and the product setup
# samples, each byte for byte as built or committed; the program a stripped 32-bit executable
# whose version block carries the version in the archive's name, its debug information in a file
# beside the archive that the program's debug link names.
#   cmake -DARCHIVE=zip -DBIN=dir -DSOURCE=dir -DVERSION=x.y.z.w -DWORK=dir -P CheckArchive.cmake
set(failures 0)
macro(fail message)
  message(SEND_ERROR "${message}")
  math(EXPR failures "${failures} + 1")
endmacro()

get_filename_component(name "${ARCHIVE}" NAME)
if(NOT name STREQUAL "Pelmora-${VERSION}-win32.zip" OR NOT EXISTS "${ARCHIVE}")
  message(FATAL_ERROR "no archive Pelmora-${VERSION}-win32.zip (looked for ${ARCHIVE})")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${ARCHIVE}" WORKING_DIRECTORY "${WORK}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("cannot unpack ${ARCHIVE}")
endif()

# The package: the manifest and every file its sections name.
file(STRINGS "${SOURCE}/sample/package/FileList.ini" lines REGEX "^[0-9]+=")
set(package "package/FileList.ini")
foreach(line ${lines})
  string(REGEX REPLACE "^[0-9]+=" "" file "${line}")
  list(APPEND package "package/${file}")
endforeach()
set(samples integration/nsis/ProductSetup.nsi integration/wix/PelmoraAction.c
            integration/wix/PelmoraAction.dll integration/wix/ProductSetup.wxs
            integration/wix/build-msi.sh)

file(GLOB_RECURSE entries RELATIVE "${WORK}" "${WORK}/*")
list(SORT entries)
set(want Pelmora.exe ReadMe.txt ${package} ${samples})
list(SORT want)
if(NOT entries STREQUAL want)
  fail("the archive holds [${entries}], not [${want}]")
endif()

set(pairs "Pelmora.exe=${BIN}/../ship/Pelmora.exe" "ReadMe.txt=${SOURCE}/res/ReadMe.txt"
          "integration/wix/PelmoraAction.dll=${BIN}/PelmoraAction.dll")
foreach(entry ${package})
  string(REPLACE "package/" "" file "${entry}")
  list(APPEND pairs "${entry}=${BIN}/../sample/${file}")
endforeach()
foreach(entry ${samples})
  if(NOT entry MATCHES "\\.dll$")
    list(APPEND pairs "${entry}=${SOURCE}/${entry}")
  endif()
endforeach()
foreach(pair ${pairs})
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 entry)
  list(GET pair 1 original)
  if(EXISTS "${WORK}/${entry}")
    file(SHA256 "${WORK}/${entry}" got)
    file(SHA256 "${original}" want)
    if(NOT got STREQUAL want)
      fail("${entry} differs from ${original}")
    endif()
  endif()
endforeach()

# Stripped, with a debug link to the debug information beside the archive.
set(debug "${BIN}/../Pelmora-${VERSION}-win32.debug")
if(EXISTS "${WORK}/Pelmora.exe")
  file(STRINGS "${WORK}/Pelmora.exe" found REGEX "\\.debug_info|\\.debug_line")
  if(found)
    fail("Pelmora.exe in the archive carries debug information")
  endif()
  file(STRINGS "${WORK}/Pelmora.exe" found REGEX "Pelmora-${VERSION}-win32\\.debug")
  if(NOT found)
    fail("Pelmora.exe in the archive has no debug link to Pelmora-${VERSION}-win32.debug")
  endif()
endif()
if(NOT EXISTS "${debug}")
  fail("no debug information beside the archive (${debug})")
else()
  file(STRINGS "${debug}" found REGEX "\\.debug_info")
  if(NOT found)
    fail("${debug} holds no debug information")
  endif()
endif()

set(exe "${WORK}/Pelmora.exe")
if(EXISTS "${exe}")
  # The PE header's machine field: 014c is i386.
  file(READ "${exe}" lfanew OFFSET 60 LIMIT 4 HEX)
  string(SUBSTRING "${lfanew}" 0 2 b0)
  string(SUBSTRING "${lfanew}" 2 2 b1)
  math(EXPR offset "0x${b1}${b0} + 4")
  file(READ "${exe}" machine OFFSET ${offset} LIMIT 2 HEX)
  if(NOT machine STREQUAL "4c01")
    fail("Pelmora.exe is not a 32-bit x86 program (machine ${machine})")
  endif()

  # The version block's strings (UTF-16, padded to four bytes): FileVersion and ProductVersion,
  # each followed by the version the archive is named after.
  file(READ "${exe}" image HEX)
  string(HEX "${VERSION}" version16)
  string(REGEX REPLACE "(..)" "\\100" version16 "${version16}")
  foreach(key FileVersion ProductVersion)
    string(HEX "${key}" key16)
    string(REGEX REPLACE "(..)" "\\100" key16 "${key16}")
    string(REGEX MATCH "${key16}0000(0000)?${version16}0000" found "${image}")
    if(NOT found)
      fail("the version block of Pelmora.exe has no ${key} ${VERSION}")
    endif()
  endforeach()
endif()

file(READ "${SOURCE}/res/ReadMe.txt" notes)
foreach(topic "/PROD:" "/PATH:" "/CFG" "/NS" "Exit codes" "MorSetup.log" "ReferenceCount"
              "integration/nsis" "integration/wix" "package")
  string(FIND "${notes}" "${topic}" at)
  if(at LESS 0)
    fail("ReadMe.txt does not mention ${topic}")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) of ${ARCHIVE} failed")
endif()
message(STATUS "${ARCHIVE}: ${entries}")
