# The executable's SHA-256 and what its size is made of: the embedded module, the embedded page,
# the rest (code, resources, and the signature when signed).
#
# Included from CMake: defines lumivane_print_size(<target>), which runs this file after each link.
# Run as a script: cmake -DEXE=<file> -DMODULE=<file> [-DPAGE=<file>] -P PrintSize.cmake
if(NOT CMAKE_SCRIPT_MODE_FILE)
  function(lumivane_print_size target)
    set(page "${LUMIVANE_PAGE_FILE}")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${target}> -DMODULE=${LUMIVANE_MODULE_PATH}
              -DPAGE=${page} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      VERBATIM)
  endfunction()
  return()
endif()

function(lumivane_size_of file out)
  if(file AND EXISTS "${file}")
    file(SIZE "${file}" size)
  else()
    set(size 0)
  endif()
  set(${out} ${size} PARENT_SCOPE)
endfunction()

# Little-endian unsigned number of `length` bytes at `offset`.
function(lumivane_read_number file offset length out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT ${length} HEX)
  set(value 0)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last} 0 -1)
    math(EXPR at "${i} * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR value "${value} * 256 + 0x${byte}")
  endforeach()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# Bytes of the Authenticode signature: the PE32+ security directory's size (data directory 4).
function(lumivane_signature_size file out)
  lumivane_read_number("${file}" 60 4 pe)
  math(EXPR at "${pe} + 24 + 112 + 4 * 8 + 4")
  lumivane_read_number("${file}" ${at} 4 size)
  set(${out} ${size} PARENT_SCOPE)
endfunction()

lumivane_size_of("${EXE}" exe_size)
lumivane_size_of("${MODULE}" module_size)
lumivane_size_of("${PAGE}" page_size)
lumivane_signature_size("${EXE}" signed_size)
file(SHA256 "${EXE}" digest)
math(EXPR rest "${exe_size} - ${module_size} - ${page_size} - ${signed_size}")
math(EXPR exe_kb "(${exe_size} + 512) / 1024")
get_filename_component(name "${EXE}" NAME)

message("${name}: ${exe_size} bytes (${exe_kb} KB)")
message("  SHA-256   ${digest}")
message("  module    ${module_size} bytes")
message("  page      ${page_size} bytes")
if(signed_size GREATER 0)
  message("  signature ${signed_size} bytes")
endif()
message("  rest      ${rest} bytes")
