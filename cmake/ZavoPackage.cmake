# The files a Debian package must carry beside the program (the copyright
# file, the changelog and the man page, both compressed as Debian wants
# them), their install rules, and the package itself (cpack -G DEB).
# Included by the top CMakeLists.txt on POSIX after the program's install
# rule.

find_program(ZAVO_GZIP gzip)
if(NOT ZAVO_GZIP)
  message(FATAL_ERROR "gzip not found: man pages and the changelog are installed compressed")
endif()
set(ZAVO_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)

# Installs FILE into DESTINATION as FILE.gz, compressed with gzip -9n: the
# best compression, and neither the file's name nor its time in the
# header, so that two builds of one source give the same bytes. Man pages
# and changelogs are installed this way.
function(zavo_install_gzipped file destination)
  get_filename_component(name ${file} NAME)
  set(packed ${ZAVO_PACKAGE_DIR}/${name}.gz)
  add_custom_command(
    OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${ZAVO_PACKAGE_DIR}/${name}
    COMMAND ${ZAVO_GZIP} -9nf ${ZAVO_PACKAGE_DIR}/${name}
    DEPENDS ${file}
    COMMENT "Compressing ${name}"
    VERBATIM)
  add_custom_target(zavo_gzip_${name} ALL DEPENDS ${packed})
  install(FILES ${packed} DESTINATION ${destination})
endfunction()

zavo_install_gzipped(${CMAKE_SOURCE_DIR}/data/debian/changelog
                     ${CMAKE_INSTALL_DOCDIR})

# The changelog's latest entry names the version being built; a version
# raised without its entry would ship last release's notes under the new
# number.
file(STRINGS ${CMAKE_SOURCE_DIR}/data/debian/changelog ZAVO_CHANGELOG_TOP
     LIMIT_COUNT 1)
string(REPLACE "." "\\." ZAVO_VERSION_PATTERN ${PROJECT_VERSION})
if(NOT ZAVO_CHANGELOG_TOP MATCHES "^zavo \\(${ZAVO_VERSION_PATTERN}\\) ")
  message(WARNING "data/debian/changelog starts with '${ZAVO_CHANGELOG_TOP}'"
                  " but VERSION says ${PROJECT_VERSION}: add its entry")
endif()

# The copyright file in Debian's machine-readable form, made from LICENSE so
# that the licence has one source. LICENSE is the MIT licence, which Debian
# calls Expat: its title line, its copyright line, then the text.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE ZAVO_LICENSE)
if(NOT ZAVO_LICENSE MATCHES "^MIT License\n+Copyright \\(c\\) ([^\n]+)\n+(.+)$")
  message(FATAL_ERROR "LICENSE is not the MIT licence with one copyright line:"
                      " update cmake/ZavoPackage.cmake to name its licence")
endif()
set(ZAVO_COPYRIGHT_HOLDERS ${CMAKE_MATCH_1})
string(STRIP "${CMAKE_MATCH_2}" ZAVO_LICENSE_TEXT)
# Continuation lines start with a blank; an empty line is written " .".
string(REGEX REPLACE "\n\n" "\n.\n" ZAVO_LICENSE_TEXT "${ZAVO_LICENSE_TEXT}")
string(REPLACE "\n" "\n " ZAVO_LICENSE_TEXT "${ZAVO_LICENSE_TEXT}")
file(WRITE ${ZAVO_PACKAGE_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: zavo

Files: *
Copyright: ${ZAVO_COPYRIGHT_HOLDERS}
License: Expat
 ${ZAVO_LICENSE_TEXT}
")

# A stripped install (--strip, and the package) also drops the compilers'
# version notes, which strip keeps. Runs after the program's own install
# rule, which the top CMakeLists.txt declares before including this file.
if(CMAKE_OBJCOPY)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zavo\"
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR \"objcopy --remove-section=.comment: \${result}\")
    endif()
  endif()")
endif()

install(FILES ${ZAVO_PACKAGE_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zavo)
set(CPACK_PACKAGE_VENDOR "zavo developers")
# The project has no mailing address of its own yet: whoever builds a
# package for others names themselves with -DZAVO_PACKAGE_CONTACT=.
set(ZAVO_PACKAGE_CONTACT "zavo developers <zavo@example.org>" CACHE STRING
    "The package's Maintainer: a name and a mail address")
set(CPACK_PACKAGE_CONTACT ${ZAVO_PACKAGE_CONTACT})
# The summary line, then the extended description, wrapped under 80
# columns.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"batch archive converter: every archive of a tree to one format
zavo finds the archives of a folder tree (by extension or by their
identifying bytes), unpacks each with its own archiver and packs it again
with one target archiver, 7z by default. The old archive goes only once the
new one stands complete, tested and in its place; nested archives, volume
sets, unwanted files, scanner commands and description lists are handled
on the way.

Many archives may be converted at once, a run may be split into shards for
a cluster, and each conversion can be checked by reading the new archive
back against the unpacked files.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The package holds the program without its symbols and debug information,
# most of a RelWithDebInfo build's size (19 MB against under 1 MB stripped).
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs the default archivers file runs: 7zz packs and tests,
# bsdtar extracts every kind but arj.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip, libarchive-tools, arj, unar, nomarch, unace")
# The settings are the administrator's: an upgrade keeps their changes.
file(WRITE ${ZAVO_PACKAGE_DIR}/debian/conffiles
     "${CMAKE_INSTALL_FULL_SYSCONFDIR}/zavo/zavo.ctl\n"
     "${CMAKE_INSTALL_FULL_SYSCONFDIR}/zavo/archivers.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZAVO_PACKAGE_DIR}/debian/conffiles)
# Control files get the modes Debian wants (0644), whatever the umask.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# cpack refuses to make a Debian package for any prefix but /usr.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/ZavoCPackOptions.cmake)
include(CPack)
