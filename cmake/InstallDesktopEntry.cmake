# Run by `cmake --install`: the desktop entry names the installed program by its full path, so that a
# desktop finds it whether or not the prefix's bin folder is on the PATH.
set(program "${CMAKE_INSTALL_PREFIX}/bin/pictolarium")
# Quoted only when the path holds a character the entry rules reserve: the simplest launchers (xdg-open on a
# session without a desktop environment) split the line at blanks and take a quoted path for a program named
# with its quotes. Inside quotes ", `, $ and \ take a backslash.
set(reserved " \t\n\"'\\\\><~|&;$*?#()`")
string(REGEX MATCH "[${reserved}]" needsQuotes "${program}")
if(needsQuotes)
    string(REPLACE "\\" "\\\\" program "${program}")
    string(REPLACE "\"" "\\\"" program "${program}")
    string(REPLACE "`" "\\`" program "${program}")
    string(REPLACE "$" "\\$" program "${program}")
    set(program "\"${program}\"")
endif()
# The file's own string escapes double every backslash once more; a % stands for itself as %%.
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "%" "%%" program "${program}")
file(READ "${SOURCE_DIR}/pictolarium.desktop" entry)
string(REPLACE "\nExec=pictolarium " "\nExec=${program} " entry "${entry}")
file(WRITE "${BINARY_DIR}/installed/pictolarium.desktop" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
    FILES "${BINARY_DIR}/installed/pictolarium.desktop")
