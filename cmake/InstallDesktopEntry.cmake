# Run by `cmake --install`, when the prefix is known: the menu entry names the installed
# program and icon by their full paths, so it works from whatever folder they went to.
# Expects KVARNIX_BIN_DIR, KVARNIX_ICON_DIR, KVARNIX_APPLICATIONS_DIR (relative to the prefix
# or absolute), KVARNIX_DESKTOP_TEMPLATE and KVARNIX_DESKTOP_WORK_DIR.

include("${CMAKE_CURRENT_LIST_DIR}/InstalledPath.cmake")

# A value of type string: every backslash written twice.
function(kvarnix_desktop_string text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

kvarnix_installed_path("${KVARNIX_BIN_DIR}/kvarnixmonitor" program)
kvarnix_installed_path("${KVARNIX_ICON_DIR}/kvarnixmonitor.svg" icon)
kvarnix_installed_path("${KVARNIX_APPLICATIONS_DIR}" applications)

# Exec: the program quoted as one argument, with ", `, $ and \ escaped inside the quotes,
# then escaped as a string, and % doubled so that it is not read as a field code.
string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" quoted "${program}")
kvarnix_desktop_string("\"${quoted}\"" KVARNIX_DESKTOP_EXEC)
string(REPLACE "%" "%%" KVARNIX_DESKTOP_EXEC "${KVARNIX_DESKTOP_EXEC}")
kvarnix_desktop_string("${icon}" KVARNIX_DESKTOP_ICON)

set(entry "${KVARNIX_DESKTOP_WORK_DIR}/kvarnixmonitor.desktop")
configure_file("${KVARNIX_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
file(INSTALL "${entry}" DESTINATION "${applications}")
