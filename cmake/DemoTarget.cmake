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
