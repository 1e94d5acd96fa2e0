# What a Linux installation carries besides the programs, and the Debian
# package that `cpack` makes of it: the licence as a machine-readable
# copyright file (made from LICENSE, so there is one text), the Debian
# changelog, the manual pages and the shell completion (made from the
# programs' own --help, see quillory_manual_page and
# quillory_shell_completions) and the package's control fields.
# scripts/package.sh builds the package with the distribution's hardening
# flags (dpkg-buildflags) and checks it with lintian and desktop-file-validate.

include(GNUInstallDirs)
set(QUILLORY_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillory-helper)

# LICENSE in the copyright format 1.0: its notice as the "Copyright" field,
# its text as the Expat licence's paragraph (lines indented, blank lines ".").
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(REGEX REPLACE "^Copyright \\(c\\) " "" license_holder "${QUILLORY_COPYRIGHT}")
string(FIND "${license_text}" "Permission is hereby" license_start)
string(SUBSTRING "${license_text}" ${license_start} -1 license_body)
string(STRIP "${license_body}" license_body)
string(REPLACE "\n\n" "\n.\n" license_body "${license_body}")
string(REPLACE "\n" "\n " license_body "${license_body}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: quillory-helper
Upstream-Contact: Quillory Helper developers <helper@quillory.test>

Files: *
Copyright: ${license_holder}
License: Expat
 ${license_body}
")
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${QUILLORY_DOC_DIR})

# The Debian changelog, compressed as Debian installs it (maximum
# compression, no name or time stamp in the header).
set(changelog_gz ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND sh -c "gzip -9nc < '${PROJECT_SOURCE_DIR}/packaging/changelog' > '${changelog_gz}'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(quillory_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} DESTINATION ${QUILLORY_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME quillory-helper)

# quillory_manual_page(<program target> <summary> [<other program>...]):
# section 1 page of the program, made from its --help and --version after
# each build (scripts/make-manpage.py), installed gzipped.
function(quillory_manual_page target summary)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1.gz)
  set(see_also)
  foreach(other IN LISTS ARGN)
    list(APPEND see_also --see-also ${other})
  endforeach()
  add_custom_command(OUTPUT ${page}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/make-manpage.py $<TARGET_FILE:${target}>
            --summary ${summary} ${see_also} --output ${page}
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/scripts/make-manpage.py
    COMMENT "Manual page of ${target} from its --help" VERBATIM)
  add_custom_target(${target}_manual_page ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# quillory_shell_completions(<program target>): its bash, zsh and fish
# completion, made from its --help after each build
# (scripts/make-completions.py), installed where each shell looks for the
# completion of a command that a package brings.
function(quillory_shell_completions target)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/completions)
  set(outputs ${folder}/${target} ${folder}/_${target} ${folder}/${target}.fish)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/make-completions.py $<TARGET_FILE:${target}>
            --bash ${folder}/${target} --zsh ${folder}/_${target} --fish ${folder}/${target}.fish
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/scripts/make-completions.py
    COMMENT "Shell completion of ${target} from its --help" VERBATIM)
  add_custom_target(${target}_completions ALL DEPENDS ${outputs})
  install(FILES ${folder}/${target} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${folder}/_${target} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  install(FILES ${folder}/${target}.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endfunction()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillory-helper)
set(CPACK_PACKAGE_VENDOR "Quillory")
set(CPACK_PACKAGE_CONTACT "Quillory Helper developers <helper@quillory.test>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Publishes the library open in Kettle Ledger to the Quillory mobile app")
# The extended description (the summary above is its first line).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillory Helper sits in the desktop's tray beside the receipt-library
application Kettle Ledger. It asks Kettle Ledger for an export of the library
open there, reduces it to what the Quillory app on iPhone and iPad shows, and
publishes it into the app's iCloud Drive folder: by itself once Kettle Ledger
has been left alone for three minutes, or on request from its menu. It asks
once per library before publishing it, removes a library from the devices
when it is switched off, and never lets two libraries overwrite each other.
.
Kettle Ledger runs only on macOS. On Linux the helper works with the
simulated Kettle Ledger that comes with this package, in
/usr/libexec/quillory-helper: both programs take it with --osascript PATH,
and the manual page quillory-helper(1) tells how to try it. Without it the
tray's menu says that Kettle Ledger runs on macOS, and nothing is synced.
.
The package holds the tray application (quillory-helper) and the same engine
without a desktop (quillory-helper-cli), for scripts and headless machines.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The Debian revision of the project's version: 1.0.0-1.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The library packages the programs link (Qt, ICU, Boost.JSON, ...).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Folders 0755 and files 0644 whatever the umask of the build.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
