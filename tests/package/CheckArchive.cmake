# Checks the release archive of the 32-bit program: exactly the program, the sample manifest and
# the notes for setup authors, each byte for byte as built or committed; the program a 32-bit
# executable whose version block carries the version in the archive's name.
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

file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${WORK}" "${WORK}/*")
list(SORT entries)
set(want "FileList.ini;Pelmora.exe;ReadMe.txt")
if(NOT entries STREQUAL want)
  fail("the archive holds [${entries}], not [${want}]")
endif()

foreach(pair "Pelmora.exe=${BIN}/Pelmora.exe" "FileList.ini=${SOURCE}/sample/package/FileList.ini"
             "ReadMe.txt=${SOURCE}/res/ReadMe.txt")
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
foreach(topic "/PROD:" "/PATH:" "/CFG" "/NS" "Exit codes" "MorSetup.log" "ReferenceCount")
  string(FIND "${notes}" "${topic}" at)
  if(at LESS 0)
    fail("ReadMe.txt does not mention ${topic}")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} check(s) of ${ARCHIVE} failed")
endif()
message(STATUS "${ARCHIVE}: ${entries}")
