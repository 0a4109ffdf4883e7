# Per-target settings shared by every target of the project: warnings, the sanitizers when
# DEMO_SANITIZE is on, libFuzzer's coverage when DEMO_FUZZ is on. Applied target by target,
# never globally.
function(demo_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(DEMO_SANITIZE)
      target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                               -fno-sanitize-recover=undefined)
      target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
    if(DEMO_FUZZ)
      # Coverage for libFuzzer in every target; only the fuzz targets link its driver.
      target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
  endif()
endfunction()

# demo_module_headers(target module [folder]): users of target include its headers as
# "module/name.h" and reach no other folder's headers by that path. The path is a link in the
# build tree, named after the module, to the folder (default: the calling CMakeLists.txt's).
# Files of the module itself include each other by bare quoted name, found beside them.
function(demo_module_headers target module)
  set(folder ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARGC GREATER 2)
    set(folder ${ARGV2})
  endif()
  set(root ${PROJECT_BINARY_DIR}/modules/${module})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${folder} ${root}/${module} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
