# vano_embed_file(<sources-var> <file> <symbol>)
# Generates embedded/<symbol>.cpp defining
#   extern const unsigned char <symbol>[]; extern const std::size_t <symbol>_size;
# and appends it to <sources-var>. The generated file is rebuilt when <file> changes.
set(_vano_embed_script "${CMAKE_CURRENT_LIST_DIR}/embed_file_run.cmake")
function(vano_embed_file sources_var file symbol)
  set(out "${VANO_EMBED_DIR}/${symbol}.cpp")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol} -P "${_vano_embed_script}"
    DEPENDS "${file}" "${_vano_embed_script}"
    COMMENT "Embedding ${file}"
    VERBATIM)
  set(${sources_var} ${${sources_var}} "${out}" PARENT_SCOPE)
endfunction()
