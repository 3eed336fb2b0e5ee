# lumivane_delay_load(<target> <lib name> <DLL name>): <target> calls into the DLL through a
# delay-import library, so the DLL is loaded on first use. For the system DLLs that only the
# window needs (user32, gdi32, ole32, shell32): a quiet install never touches them, and loading
# user32 alone costs more than the whole installation under Wine. The delay helper loads by name,
# and the process has limited DLL loading to the system folder before any such call.
function(lumivane_delay_load target lib dll)
  find_library(import_${lib} NAMES ${lib} lib${lib}.a REQUIRED)
  set(out ${CMAKE_BINARY_DIR}/delayimp/lib${lib}_delay.a)
  # One delay-import library per DLL, whichever targets use it.
  if(NOT TARGET ${lib}_delay_import)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayimp
      COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-delay-import.sh ${CMAKE_NM} ${CMAKE_DLLTOOL} ${import_${lib}} ${dll} ${out}
      DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make-delay-import.sh
      COMMENT "Delay-import library for ${dll}")
    add_custom_target(${lib}_delay_import DEPENDS ${out})
  endif()
  add_dependencies(${target} ${lib}_delay_import)
  # Ahead of the toolchain's own -l${lib}, so every call resolves to the delayed import.
  target_link_libraries(${target} PRIVATE ${out} delayimp)
endfunction()
