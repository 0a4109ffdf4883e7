# The browser build under emscripten: no SFML, GLEW or GLU. The engine's GL calls go to
# emscripten's WebGL 2 library, and the few headers taken from the system (glm, miniaudio)
# come through a folder of links, since /usr/include on the path would shadow emscripten's own
# C library.
set(DEMO_WEB_HEADERS ${PROJECT_BINARY_DIR}/system-headers)
file(MAKE_DIRECTORY ${DEMO_WEB_HEADERS})
foreach(header glm miniaudio.h)
  file(CREATE_LINK /usr/include/${header} ${DEMO_WEB_HEADERS}/${header} SYMBOLIC)
endforeach()

add_library(demo_web_headers INTERFACE)
target_compile_options(demo_web_headers INTERFACE -idirafter ${DEMO_WEB_HEADERS})
add_library(glm::glm ALIAS demo_web_headers)
# WebGL 2 only, linked by whoever draws.
add_library(demo_webgl INTERFACE)
target_link_options(demo_webgl INTERFACE -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2)
add_library(GLEW::GLEW ALIAS demo_webgl)
add_library(OpenGL::GL ALIAS demo_webgl)
