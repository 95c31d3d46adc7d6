# For the install scripts, run by `cmake --install` when the prefix is known.

# The full installed path of a file given relative to the prefix, or absolute. The generated
# files end a value at the end of its line, so a path with a line break or tab cannot go in.
function(kvarnix_installed_path relative out)
  cmake_path(ABSOLUTE_PATH relative BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
             NORMALIZE OUTPUT_VARIABLE path)
  if(path MATCHES "[\n\r\t]")
    message(FATAL_ERROR "Installationsmappen ${path} kan inte anges i en skrivbordsfil "
                        "eller en tjänstefil.")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
