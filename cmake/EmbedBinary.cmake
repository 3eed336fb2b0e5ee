# lumivane_embed_binary(<target> <symbol> <file>): links <file> into <target> as read-only data
# between the symbols <symbol> and <symbol>_end, so the program uses the bytes in place, never
# copied.
function(lumivane_embed_binary target symbol file)
  set(EMBED_SYMBOL ${symbol})
  set(EMBED_FILE ${file})
  set(asm ${CMAKE_CURRENT_BINARY_DIR}/embed_${symbol}.S)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/embed.S.in ${asm} @ONLY)
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS ${file})
  target_sources(${target} PRIVATE ${asm})
endfunction()
