# Libraries of the Windows cross build. Debian ships no MinGW build of pugixml
# or md4c, so their upstream sources (unpacked from Debian's source packages
# by `scripts/install-deps windows`) are compiled here; zlib comes from
# Debian's libz-mingw-w64-dev. Everything links statically into quarnel.dll.
set(QUARNEL_WIN_SOURCES "" CACHE PATH "Folder with the unpacked pugixml and md4c sources")
if(NOT EXISTS "${QUARNEL_WIN_SOURCES}/pugixml/src/pugixml.cpp"
   OR NOT EXISTS "${QUARNEL_WIN_SOURCES}/md4c/src/md4c-html.c")
  message(FATAL_ERROR "QUARNEL_WIN_SOURCES must name the folder `scripts/install-deps windows` filled")
endif()

add_library(quarnel_pugixml STATIC ${QUARNEL_WIN_SOURCES}/pugixml/src/pugixml.cpp)
target_include_directories(quarnel_pugixml SYSTEM PUBLIC ${QUARNEL_WIN_SOURCES}/pugixml/src)
target_compile_options(quarnel_pugixml PRIVATE -w)
add_library(pugixml::pugixml ALIAS quarnel_pugixml)

add_library(quarnel_md4c STATIC
  ${QUARNEL_WIN_SOURCES}/md4c/src/md4c.c
  ${QUARNEL_WIN_SOURCES}/md4c/src/md4c-html.c
  ${QUARNEL_WIN_SOURCES}/md4c/src/entity.c)
target_include_directories(quarnel_md4c SYSTEM PUBLIC ${QUARNEL_WIN_SOURCES}/md4c/src)
target_compile_options(quarnel_md4c PRIVATE -w)

# The static zlib, so that the DLL does not need zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
