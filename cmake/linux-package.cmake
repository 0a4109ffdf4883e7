# The Linux package's build, run by scripts/package.sh inside a Debian 11 root so that the
# executable asks for no newer C library than Debian 11's. Everything a desktop may lack is
# linked in: SFML and GLEW from DEMO_LINUX_DEPS/prefix (built there from Debian's source
# packages), GLU from the root's own static archive, libstdc++ and libgcc. What stays dynamic is
# libc, libGL, libX11, libXrandr and libudev. Header-only packages come from
# DEMO_LINUX_DEPS/stage, copied from the host, as the root's release lacks or predates them.
if(NOT DEMO_LINUX_DEPS)
  get_filename_component(DEMO_LINUX_DEPS ${CMAKE_CURRENT_LIST_DIR}/../build-linux/deps ABSOLUTE)
endif()
set(DEMO_LINUX_DEPS ${DEMO_LINUX_DEPS} CACHE PATH "Dependencies built and staged for the Linux package")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEMO_LINUX_DEPS)

list(APPEND CMAKE_PREFIX_PATH ${DEMO_LINUX_DEPS}/prefix ${DEMO_LINUX_DEPS}/stage)
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${DEMO_LINUX_DEPS}/stage/include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${DEMO_LINUX_DEPS}/stage/include)

set(SFML_STATIC_LIBRARIES ON CACHE BOOL "Link SFML's static archives")
# FindOpenGL's GLU is the shared library unless told otherwise; the compiler knows where the
# root keeps the static one.
if(NOT OPENGL_glu_LIBRARY)
  execute_process(COMMAND gcc -print-file-name=libGLU.a OUTPUT_VARIABLE glu OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${glu}")
    message(FATAL_ERROR "No static GLU (libGLU.a) in this system: install libglu1-mesa-dev")
  endif()
  set(OPENGL_glu_LIBRARY ${glu} CACHE FILEPATH "GLU, static")
endif()

# Stripped as it ships, and no run path: every library it loads is the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -s")
set(CMAKE_SKIP_RPATH ON)
