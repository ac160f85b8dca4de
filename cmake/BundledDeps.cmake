# The libraries the add-in uses, compiled into it from their upstream sources
# (unpacked from Debian's source packages by `scripts/install-deps sources`):
# Debian's shared builds would make the add-in need pugixml, md4c and zlib on
# the shop's machine, its static libz.a is not position-independent, and it
# ships no MinGW build of pugixml or md4c. Their symbols stay hidden inside
# the library. The tools and tests link the same copies.
# One folder per checkout, shared by its build folders (ignored by git).
set(QUARNEL_DEP_SOURCES "${CMAKE_SOURCE_DIR}/build-sources" CACHE PATH
  "Folder with the unpacked pugixml, md4c and zlib sources")
set(quarnel_dep_marks pugixml/src/pugixml.cpp md4c/src/md4c-html.c zlib/inflate.c)
foreach(mark IN LISTS quarnel_dep_marks)
  if(NOT EXISTS "${QUARNEL_DEP_SOURCES}/${mark}")
    message(STATUS "Unpacking the library sources into ${QUARNEL_DEP_SOURCES}")
    execute_process(
      COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/install-deps sources ${QUARNEL_DEP_SOURCES}
      RESULT_VARIABLE fetched)
    if(NOT fetched EQUAL 0)
      message(FATAL_ERROR "`scripts/install-deps sources ${QUARNEL_DEP_SOURCES}` failed")
    endif()
    break()
  endif()
endforeach()

set(src ${QUARNEL_DEP_SOURCES})
add_library(quarnel_pugixml STATIC ${src}/pugixml/src/pugixml.cpp)
target_include_directories(quarnel_pugixml SYSTEM PUBLIC ${src}/pugixml/src)
target_compile_options(quarnel_pugixml PRIVATE -w)
add_library(pugixml::pugixml ALIAS quarnel_pugixml)

add_library(quarnel_md4c STATIC ${src}/md4c/src/md4c.c ${src}/md4c/src/md4c-html.c
  ${src}/md4c/src/entity.c)
target_include_directories(quarnel_md4c SYSTEM PUBLIC ${src}/md4c/src)
target_compile_options(quarnel_md4c PRIVATE -w)

# Only what reading a zip archive needs: inflate and the CRC.
add_library(quarnel_zlib STATIC ${src}/zlib/inflate.c ${src}/zlib/inftrees.c
  ${src}/zlib/inffast.c ${src}/zlib/crc32.c ${src}/zlib/adler32.c ${src}/zlib/zutil.c)
target_include_directories(quarnel_zlib SYSTEM PUBLIC ${src}/zlib)
# zconf.h takes <unistd.h> for granted only when told it is there.
if(NOT WIN32)
  target_compile_definitions(quarnel_zlib PRIVATE HAVE_UNISTD_H)
endif()
target_compile_options(quarnel_zlib PRIVATE -w)
