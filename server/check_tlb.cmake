# Fails the build when the type library does not hold every GUID of the IDL
# byte for byte (widl has been seen to damage the library GUID).
# cmake -DTLB=<file> -DIDL=<file> -P check_tlb.cmake
file(READ ${IDL} idl)
file(READ ${TLB} tlb HEX)
string(REGEX MATCHALL "uuid\\(([0-9A-Fa-f-]+)\\)" uuids "${idl}")
foreach(entry ${uuids})
  string(REGEX REPLACE "uuid\\(([0-9A-Fa-f-]+)\\)" "\\1" g "${entry}")
  string(TOLOWER "${g}" g)
  string(REPLACE "-" ";" parts "${g}")
  list(GET parts 0 d1)
  list(GET parts 1 d2)
  list(GET parts 2 d3)
  list(GET parts 3 d4)
  list(GET parts 4 d5)
  # Data1-3 are stored little-endian.
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" d1 "${d1}")
  string(REGEX REPLACE "(..)(..)" "\\2\\1" d2 "${d2}")
  string(REGEX REPLACE "(..)(..)" "\\2\\1" d3 "${d3}")
  string(FIND "${tlb}" "${d1}${d2}${d3}${d4}${d5}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${TLB} lacks the GUID ${g} of ${IDL}")
  endif()
endforeach()
