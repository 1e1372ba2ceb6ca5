# Folders include only downwards: install/ on top; deploy/, reboot/ and sysint/ below it;
# RegClass/ and support/ at the bottom. Lists every include that reaches up and fails on any.
# The same check by hand:
#   grep -rlE '#include.*install/' src/deploy src/reboot src/sysint src/support src/RegClass
#   grep -rlE '#include.*(deploy|reboot|sysint)/' src/support src/RegClass
# Run as: cmake -DSOURCE=<repository> -P CheckFloors.cmake
set(upward "")
foreach(floor deploy reboot sysint support RegClass)
    file(GLOB files ${SOURCE}/src/${floor}/*.cpp ${SOURCE}/src/${floor}/*.h)
    if(floor STREQUAL "support" OR floor STREQUAL "RegClass")
        set(above "(install|deploy|reboot|sysint)/")
    else()
        set(above "install/")
    endif()
    foreach(file ${files})
        file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*${above}")
        foreach(line ${lines})
            file(RELATIVE_PATH name ${SOURCE} ${file})
            list(APPEND upward "${name}: ${line}")
        endforeach()
    endforeach()
endforeach()
if(upward)
    list(JOIN upward "\n" text)
    message(FATAL_ERROR "includes that reach up a floor:\n${text}")
endif()
message(STATUS "no folder includes a folder above it")
