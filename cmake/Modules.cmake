# Modules: code on large libraries that the program loads the first time it is used (platform/Modules.h), so
# that starting the program loads none of those libraries. A module is built into lib/pictolarium at the top
# of the build tree and installed into lib/pictolarium of the prefix, where the program looks for it.
#
#   pictolarium_add_module(<target> <file name without .so> <source> ...)
#
# Its code is compiled into it (no library of ours is linked in); only the entry point is exported, and every
# symbol must resolve when it is linked, so a missing piece fails the build, not the first use.
set(PICTOLARIUM_MODULE_DIR ${CMAKE_BINARY_DIR}/lib/pictolarium)
add_custom_target(pictolarium_modules)

function(pictolarium_add_module target file)
    add_library(${target} MODULE ${ARGN})
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME ${file}
        LIBRARY_OUTPUT_DIRECTORY ${PICTOLARIUM_MODULE_DIR}
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(${target} PRIVATE pictolarium_options)
    target_link_options(${target} PRIVATE -Wl,-z,defs)
    install(TARGETS ${target} LIBRARY DESTINATION lib/pictolarium)
    add_dependencies(pictolarium_modules ${target})
endfunction()
