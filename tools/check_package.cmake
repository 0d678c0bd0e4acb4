# Builds the Debian package from BUILD_DIR, unpacks it into a scratch root
# (dpkg -x, no root rights needed) and runs the installed tool's --version.
# Fails unless it prints "dwarfsift EXPECTED_VERSION", and unless the
# package depends on each of EXPECTED_LIBRARIES (Debian package names).
set(scratch "${BUILD_DIR}/package-check")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")
find_program(CPACK cpack REQUIRED)
find_program(DPKG dpkg REQUIRED)
execute_process(
  COMMAND ${CPACK} --config "${BUILD_DIR}/CPackConfig.cmake" -G DEB -B "${scratch}"
  RESULT_VARIABLE status OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
file(GLOB packages "${scratch}/*.deb")
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${scratch}, found: ${packages}")
endif()
# The runtime libraries the tool links are declared.
execute_process(COMMAND ${DPKG} -f ${packages} Depends OUTPUT_VARIABLE depends)
foreach(library IN LISTS EXPECTED_LIBRARIES)
  if(NOT depends MATCHES "(^|[ ,])${library}[ ,(]")
    message(FATAL_ERROR "the package does not depend on ${library}: ${depends}")
  endif()
endforeach()
execute_process(COMMAND ${DPKG} -x ${packages} "${scratch}/root" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg -x failed on ${packages}")
endif()
if(NOT EXISTS "${scratch}/root/usr/share/doc/dwarfsift/README.md")
  message(FATAL_ERROR "the package has no README")
endif()
execute_process(COMMAND "${scratch}/root/usr/bin/dwarfsift" --version
  RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL "dwarfsift ${EXPECTED_VERSION}\n")
  message(FATAL_ERROR "installed tool: status ${status}, printed '${out}'")
endif()
file(REMOVE_RECURSE "${scratch}")
