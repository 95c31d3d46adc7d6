# Run by `cmake --install`, when the prefix is known: the service's systemd units name the
# installed program by its full path, so they work from whatever folder it went to.
# Expects KVARNIX_BIN_DIR, KVARNIX_USER_UNIT_DIR and KVARNIX_SYSTEM_UNIT_DIR (relative to the
# prefix or absolute), KVARNIX_USER_SERVICE_TEMPLATE, KVARNIX_SYSTEM_SERVICE_TEMPLATE and
# KVARNIX_SERVICE_WORK_DIR.

include("${CMAKE_CURRENT_LIST_DIR}/InstalledPath.cmake")

kvarnix_installed_path("${KVARNIX_BIN_DIR}/kvarnixmonitord" program)

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

# The user unit and the system unit share one name, each in its manager's folder.
foreach(kind USER SYSTEM)
  kvarnix_installed_path("${KVARNIX_${kind}_UNIT_DIR}" unit_dir)
  string(TOLOWER "${kind}" folder)
  set(unit "${KVARNIX_SERVICE_WORK_DIR}/${folder}/kvarnixmonitord.service")
  configure_file("${KVARNIX_${kind}_SERVICE_TEMPLATE}" "${unit}" @ONLY)
  file(INSTALL "${unit}" DESTINATION "${unit_dir}")
endforeach()
