# Installs Kestrel like a Linux tool and describes its Debian package (cpack -G DEB in the build
# directory, which scripts/package.sh runs). Included last, once every program target exists.

set(KESTREL_DIST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/dist)
set(KESTREL_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)

# The manual page and the Debian changelog carry the project version; both are installed
# compressed the way Debian wants them (gzip -9 without a name or time stamp, so the bytes
# depend on the text only).
function(kestrel_gzip_configured input output)
  configure_file(${input} ${KESTREL_GENERATED_DIR}/${output} @ONLY)
  execute_process(COMMAND gzip -9nc ${output}
                  WORKING_DIRECTORY ${KESTREL_GENERATED_DIR}
                  OUTPUT_FILE ${KESTREL_GENERATED_DIR}/${output}.gz
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
kestrel_gzip_configured(${KESTREL_DIST_DIR}/kestrel.1 kestrel.1)
kestrel_gzip_configured(${KESTREL_DIST_DIR}/changelog.Debian.in changelog.Debian)

# The installed programs resolve every symbol at start, so the whole relocation table can be made
# read-only (full RELRO, as Debian's hardening asks).
foreach(program kestrel kestrel-window)
  if(TARGET ${program})
    target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
  endif()
endforeach()

install(TARGETS kestrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window program is started by `kestrel` and is no command of its own.
if(TARGET kestrel-window)
  install(TARGETS kestrel-window RUNTIME DESTINATION ${KESTREL_WINDOW_INSTALL_DIR})
endif()
install(FILES ${KESTREL_GENERATED_DIR}/kestrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KESTREL_DIST_DIR}/kestrel.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestrel)
install(FILES ${KESTREL_DIST_DIR}/kestrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KESTREL_DIST_DIR}/kestrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${KESTREL_DIST_DIR}/copyright ${KESTREL_GENERATED_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel)
install(FILES ${KESTREL_DIST_DIR}/kestrel.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kestrel)

# `cmake --build build --target kestrel_programs` builds what the package holds, and no tests.
add_custom_target(kestrel_programs)
add_dependencies(kestrel_programs kestrel)
if(TARGET kestrel-window)
  add_dependencies(kestrel_programs kestrel-window)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "The Kestrel developers")
set(CPACK_PACKAGE_CONTACT "The Kestrel developers <kestrel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's toolkit finds its display through plugins, which no library link names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "list, export and import the objects of Unity game archives
Kestrel opens the data archives of games built with the Unity engine (asset
bundles, serialized assets files, resource files and split archives), lists
every object in them, exports the objects to files people can edit (textures
as DDS, KTX, PVR or CRN, meshes as OBJ, sounds, text assets, fonts, raw
objects) and imports the edited files back without risking the archive.
.
It works on the command line or in its own window, in English or Russian.")
include(CPack)

# The package test builds its own copy of the package from this build directory, to check what
# goes into it and how it installs; in a sanitizer tree its programs carry the sanitizers, which
# changes none of that (scripts/package.sh makes the package people install from a release tree).
if(KESTREL_TESTS)
  add_test(NAME Package.BuildsInstallsAndRuns
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/package_test.sh
                   ${CMAKE_CURRENT_BINARY_DIR} ${PROJECT_VERSION} $<TARGET_EXISTS:kestrel-window>)
  set_tests_properties(Package.BuildsInstallsAndRuns PROPERTIES TIMEOUT 300)
endif()
