# Flags shared by every Windows target: static C/C++ runtimes, and nothing in the binary
# that depends on the build folder or the time of the build.
add_compile_options(
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
  -ffile-prefix-map=${CMAKE_BINARY_DIR}=build
  -ffunction-sections -fdata-sections)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections -Wl,--no-insert-timestamp -s)

# Deterministic archives (no owner, no time stamps).
set(CMAKE_C_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_C_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_CXX_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
set(CMAKE_C_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
set(CMAKE_CXX_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")

# The PE time stamp: zero (above), or, when the build is configured with SOURCE_DATE_EPOCH in the
# environment (the reproducible-builds convention, e.g. the release commit's time), that moment.
# The linker reads the variable itself, so every link step is run with it set.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(LUMIVANE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}" CACHE STRING
      "PE time stamp (seconds since 1970) written into the executable; empty: zero" FORCE)
endif()
set(LUMIVANE_SOURCE_DATE_EPOCH "" CACHE STRING "PE time stamp (seconds since 1970) written into the executable; empty: zero")
if(LUMIVANE_SOURCE_DATE_EPOCH)
  if(NOT LUMIVANE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds, not '${LUMIVANE_SOURCE_DATE_EPOCH}'")
  endif()
  add_link_options(-Wl,--insert-timestamp)
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${LUMIVANE_SOURCE_DATE_EPOCH})
  endforeach()
endif()
