# raydeck_exports_only(<target>): a shared library that exports only its entry points and leaves
# no symbol unresolved. POSIX: the exports.map beside the target's sources names them; Windows: what
# the source declares dllexport, nothing else.
function(raydeck_exports_only target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
               ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols -Wl,--no-undefined)
  else()
    target_link_options(${target} PRIVATE
                        -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports.map
                        -Wl,--no-undefined)
  endif()
endfunction()
