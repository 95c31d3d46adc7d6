# Run by `cmake --install`, when the prefix is known: the service's systemd user unit names
# the installed program by its full path, so it works from whatever folder it went to.
# Expects KVARNIX_BIN_DIR, KVARNIX_USER_UNIT_DIR (relative to the prefix or absolute),
# KVARNIX_SERVICE_TEMPLATE and KVARNIX_SERVICE_WORK_DIR.

include("${CMAKE_CURRENT_LIST_DIR}/InstalledPath.cmake")

kvarnix_installed_path("${KVARNIX_BIN_DIR}/kvarnixmonitord" program)
kvarnix_installed_path("${KVARNIX_USER_UNIT_DIR}" unit_dir)

# ExecStart: the program as one quoted word, % doubled so that it is no specifier. systemd
# refuses quotes and backslashes in the name of the program it starts, so a program in a
# folder whose name holds one is started through env, which takes it as an argument: there
# quotes and backslashes are escaped, and $ doubled so that it names no environment variable.
if(program MATCHES "[\"'\\]")
  string(REGEX REPLACE "([\"\\])" "\\\\\\1" quoted "${program}")
  string(REPLACE "$" "$$" quoted "${quoted}")
  set(starter "/usr/bin/env ")
else()
  set(quoted "${program}")
  set(starter "")
endif()
string(REPLACE "%" "%%" quoted "${quoted}")
set(KVARNIX_SERVICE_EXEC "${starter}\"${quoted}\"")

set(unit "${KVARNIX_SERVICE_WORK_DIR}/kvarnixmonitord.service")
configure_file("${KVARNIX_SERVICE_TEMPLATE}" "${unit}" @ONLY)
file(INSTALL "${unit}" DESTINATION "${unit_dir}")
