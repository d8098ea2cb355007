# What a prefix holds beyond the programs, the runtime and the icons (manual pages, bash
# completion, AppStream metadata, the Debian documents), and the .deb CPack builds from it.
# The texts below are shared by the package and the AppStream file, so they cannot drift.
include(GNUInstallDirs)

set(ZARN_MAINTAINER "Zarn maintainers <maintainers@zarn.example.org>" CACHE STRING
    "Maintainer named in the package and its changelog")
set(ZARN_SUMMARY "Push-to-talk dictation for the Linux desktop")
# Short lines, as a Debian description wants them.
set(ZARN_DESCRIPTION "Hold a key in any application, speak, release: the text appears where
the cursor is. Zarn recognises speech on this machine, cleans the text
up with fixed rules or a local language model, applies the corrections
of a personal dictionary and keeps a searchable history of dictations.
The package holds the desktop application zarn-app and the command line
zarn.")
# The day of the release the package and the AppStream file name (SOURCE_DATE_EPOCH fixes it).
string(TIMESTAMP ZARN_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ZARN_RELEASE_DATE_RFC2822 "%a, %d %b %Y 00:00:00 +0000" UTC)

# Directories 0755 whatever the builder's umask: lintian refuses group-writable ones.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(zarn_share ${CMAKE_BINARY_DIR}/share)
configure_file(${CMAKE_SOURCE_DIR}/data/dev.zarn.Zarn.metainfo.xml.in ${zarn_share}/metainfo/dev.zarn.Zarn.metainfo.xml
               @ONLY)
install(FILES ${zarn_share}/metainfo/dev.zarn.Zarn.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Every page in data/man, compressed as Debian wants (gzip -9, no name or time stamp inside).
find_program(ZARN_GZIP gzip REQUIRED)
file(GLOB zarn_man_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/man/*.1)
set(zarn_man_pages)
foreach(page IN LISTS zarn_man_sources)
  get_filename_component(name ${page} NAME)
  set(out ${zarn_share}/man/man1/${name})
  add_custom_command(OUTPUT ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${out}
    COMMAND ${ZARN_GZIP} -9nf ${out}
    DEPENDS ${page} VERBATIM)
  list(APPEND zarn_man_pages ${out}.gz)
endforeach()
add_custom_target(zarn_man_pages ALL DEPENDS ${zarn_man_pages})
install(FILES ${zarn_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/data/completion/zarn DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        OPTIONAL)

set(zarn_doc ${CMAKE_INSTALL_DATADIR}/doc/zarn)
configure_file(${CMAKE_SOURCE_DIR}/data/changelog.in ${zarn_share}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${zarn_share}/doc/changelog.gz
  COMMAND ${ZARN_GZIP} -9nkf ${zarn_share}/doc/changelog
  DEPENDS ${zarn_share}/doc/changelog VERBATIM)
add_custom_target(zarn_changelog ALL DEPENDS ${zarn_share}/doc/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright ${zarn_share}/doc/changelog.gz DESTINATION ${zarn_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarn)
set(CPACK_PACKAGE_VENDOR Zarn)
set(CPACK_PACKAGE_CONTACT ${ZARN_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${ZARN_SUMMARY})
set(CPACK_PACKAGE_DESCRIPTION ${ZARN_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Libraries the programs link come from dpkg-shlibdeps; what they only open or read at run
# time is named here: the en-us model (the system engine and the model shipped in
# share/zarn are made from it) and the event sounds' theme. The PulseAudio driver of
# libcanberra, the accessibility bus and the volume control make things better but are not needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pocketsphinx-en-us, sound-theme-freedesktop")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pavucontrol, libcanberra-pulse, at-spi2-core, qt6-wayland")
include(CPack)
