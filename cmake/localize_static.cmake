# Run at build time (cmake -P): writes OUTPUT, the library's objects as one relocatable object
# whose global names are the ones SHARED (libquorin.so) exports, and no other; the installed
# libquorin.a holds it. Every other name is made local, as the version script keeps it inside
# the shared library, so that a caller's own BuildShrinkIndex or class CImg neither collides
# with the library's nor silently replaces it. The COMDAT groups are dissolved as well: a
# group's signature is matched by name even when its symbol is local, so a caller's copy of the
# same inline function or template instantiation would discard the library's.
#   -DLINKER=ld -DOBJCOPY=objcopy -DNM=nm -DOBJECTS=FILE (one object a line) -DSHARED=FILE
#   -DOUTPUT=FILE
foreach(var LINKER OBJCOPY NM OBJECTS SHARED OUTPUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "localize_static.cmake: -D${var}= is missing")
  endif()
endforeach()

file(STRINGS "${OBJECTS}" objects)
execute_process(COMMAND "${NM}" -D --defined-only --format=posix "${SHARED}"
  OUTPUT_VARIABLE exported RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} -D ${SHARED} failed")
endif()
string(REGEX REPLACE "([^ \n]+) [^\n]*\n" "\\1\n" exported "${exported}")
if(NOT exported MATCHES "V5Files_")
  message(FATAL_ERROR "${SHARED} exports no V5Files_ function: not the library")
endif()
file(WRITE "${OUTPUT}.names" "${exported}")

execute_process(COMMAND "${LINKER}" -r -o "${OUTPUT}.all.o" ${objects} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${LINKER} -r of the library's objects failed")
endif()
execute_process(COMMAND "${OBJCOPY}" "--keep-global-symbols=${OUTPUT}.names"
  --remove-section=.group "${OUTPUT}.all.o" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "${OBJCOPY} could not make the other names local")
endif()
file(REMOVE "${OUTPUT}.all.o")

# Whatever the flags, the result offers exactly the shared library's names. objcopy edits the
# symbol table only: an object that carries intermediate code for link-time optimisation (-flto)
# keeps every name in it global, and nm reads those (CMakeLists.txt builds the objects without).
execute_process(COMMAND "${NM}" -g --defined-only --format=posix "${OUTPUT}"
  OUTPUT_VARIABLE kept RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "${NM} -g ${OUTPUT} failed")
endif()
string(REGEX REPLACE "([^ \n]+) [^\n]*\n" "\\1;" kept "${kept}")
string(REPLACE "\n" ";" exported "${exported}")
foreach(list kept exported)
  list(REMOVE_ITEM ${list} "")
  list(REMOVE_DUPLICATES ${list})
endforeach()
set(extra ${kept})
list(REMOVE_ITEM extra ${exported})
set(missing ${exported})
if(kept)
  list(REMOVE_ITEM missing ${kept})
endif()
if(extra OR missing)
  file(REMOVE "${OUTPUT}")
  list(LENGTH extra extras)
  list(LENGTH missing misses)
  list(SUBLIST extra 0 5 extra)
  list(SUBLIST missing 0 5 missing)
  message(FATAL_ERROR "The installed libquorin.a would offer ${extras} global names libquorin.so "
    "does not (${extra}) and lack ${misses} it offers (${missing}). Objects built with "
    "link-time optimisation (-flto) keep every name global: build them without it.")
endif()
