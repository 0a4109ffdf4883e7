# What a release holds and how CPack packs it: the executable, its soundtrack and a short
# read-me, and on Linux a systemd user unit with its installer. Windows (scripts/windows.sh): demo-windows.zip, flat, so that a double-clicked
# demo.exe finds valdrim.mp3 beside it. Linux (scripts/package.sh): demo-linux-x86_64.tar.gz
# with everything in one folder of that name.
#
# The archives are reproducible: with SOURCE_DATE_EPOCH set, every packed file carries that
# time (and CPack leaves the time out of the gzip header), so packing the same files twice
# gives the same bytes. The scripts set it, with TZ=UTC for the zip's local times and umask 022.
set(DEMO_SOUNDTRACK ${CMAKE_BINARY_DIR}/bin/valdrim.mp3 CACHE FILEPATH "The soundtrack the package holds")

if(WIN32)
  set(readme_source ${PROJECT_SOURCE_DIR}/scripts/windows-readme.txt)
  set(readme_newlines CRLF)
  set(package_name demo-windows)
  set(generator ZIP)
  set(top_folder OFF)
else()
  set(readme_source ${PROJECT_SOURCE_DIR}/scripts/linux-readme.txt)
  set(readme_newlines UNIX)
  set(package_name demo-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(generator TGZ)
  set(top_folder ON)
endif()
# The read-me holds no variables; configuring it only sets its line ends.
set(readme ${CMAKE_CURRENT_BINARY_DIR}/package/README.txt)
configure_file(${readme_source} ${readme} @ONLY NEWLINE_STYLE ${readme_newlines})

install(TARGETS demo RUNTIME DESTINATION .)
install(FILES ${DEMO_SOUNDTRACK} ${readme} DESTINATION .)
if(NOT WIN32)
  # A kiosk's supervisor: the systemd user unit that keeps the show running, and its installer
  # (README.txt).
  install(FILES ${PROJECT_SOURCE_DIR}/scripts/demo.service DESTINATION .)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/install-unattended.sh DESTINATION . RENAME install.sh)
endif()
install(CODE [[
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(staged "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${staged} ${CMAKE_INSTALL_MANIFEST_FILES}
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "could not set the packed files' times")
    endif()
  endif()
]])

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${package_name})
set(CPACK_GENERATOR ${generator})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ${top_folder})
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
