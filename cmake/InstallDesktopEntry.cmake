# Run by `cmake --install`: the desktop entry names the installed program by its full path, so that a
# desktop finds it whether or not the prefix's bin folder is on the PATH.
set(program "${CMAKE_INSTALL_PREFIX}/bin/pictolarium")
# Quoted, so that any folder name is one argument: inside quotes ", `, $ and \ take a backslash, and the
# file's own string escapes double every backslash once more. A % stands for itself as %%.
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "\"" "\\\"" program "${program}")
string(REPLACE "`" "\\`" program "${program}")
string(REPLACE "$" "\\$" program "${program}")
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "%" "%%" program "${program}")
file(READ "${SOURCE_DIR}/pictolarium.desktop" entry)
string(REPLACE "\nExec=pictolarium " "\nExec=\"${program}\" " entry "${entry}")
file(WRITE "${BINARY_DIR}/installed/pictolarium.desktop" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
    FILES "${BINARY_DIR}/installed/pictolarium.desktop")
