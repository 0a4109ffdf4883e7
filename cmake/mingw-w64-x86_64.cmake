# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread model).
#
# Libraries come only from the mingw-w64 sysroot and from DEMO_WINDOWS_DEPS, the folder
# scripts/windows.sh fills: prefix/ (SFML and GLEW built with this file) and stage/ (the
# header-only packages, linked in one by one). The host's /usr/include is never searched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

if(NOT DEMO_WINDOWS_DEPS)
  if(DEFINED ENV{DEMO_WINDOWS_DEPS})
    set(DEMO_WINDOWS_DEPS $ENV{DEMO_WINDOWS_DEPS})
  else()
    get_filename_component(DEMO_WINDOWS_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps ABSOLUTE)
  endif()
endif()
set(DEMO_WINDOWS_DEPS ${DEMO_WINDOWS_DEPS} CACHE PATH "Cross-built and staged dependencies")
# try_compile projects read this file again and need the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEMO_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${DEMO_WINDOWS_DEPS}/prefix ${DEMO_WINDOWS_DEPS}/stage)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The staged headers stand where a native system keeps its own (miniaudio is found this way).
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${DEMO_WINDOWS_DEPS}/stage/include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${DEMO_WINDOWS_DEPS}/stage/include)

# One self-contained executable: libgcc, libstdc++ and winpthread linked in, so that it
# needs only the DLLs every Windows installation has; stripped, as it ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -s")
