# Keeps only the C functions in the .def file the linker writes: it is for
# callers that make an import library of their own (MSVC's lib /def), and
# those call the C functions; C++ names are GCC's mangling, of no use there.
# usage: cmake -DIN=all.def -DOUT=zusmsdb.def -P c-only-def.cmake
file(STRINGS "${IN}" lines)
set(out "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[ \t]+_Z")
    string(APPEND out "${line}\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${out}")
