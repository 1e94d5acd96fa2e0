# The helper as a macOS application bundle. On other systems
# quillory_apple_bundle() does nothing, so the shell may call it everywhere.
#
#   quillory_apple_bundle(<target> <cli-target>)
#
# makes <target> (an executable) the bundle "Quillory Helper.app", whose
# executable is "Quillory Helper" (the name Finder, Login Items and the
# permission prompts show), with the Info.plist of Info.plist.in: no Dock icon
# (LSUIElement), identifier test.quillory.helper (never to change: the user's
# permissions, settings and login item hang on it), the project's version as
# the short version, the build number QUILLORY_BUILD_NUMBER, the oldest macOS
# (the deployment target) and the architectures it is built for, the text
# macOS shows when it asks the user to let the helper control Kettle Ledger,
# and the app icon QuilloryHelper.icns (made by scripts/make-app-icon.py).
# The command-line program <cli-target> goes inside, as
# Contents/MacOS/quillory-helper-cli. It links the Objective-C++
# translations (quillory_platform_macos) and signs the program and the bundle
# with the automation entitlement (QuilloryHelper.entitlements) after each
# build: the identity QUILLORY_CODESIGN_IDENTITY, by default "-", which signs
# ad hoc for this machine. No hardened runtime here: with it, the Qt libraries
# Homebrew installs would fail library validation under an ad hoc signature.
# The CI workflow bundles the libraries (macdeployqt) and signs the result
# with the hardened runtime.

set(QUILLORY_CODESIGN_IDENTITY "-" CACHE STRING "codesign identity for the macOS bundle (\"-\": ad hoc)")

function(quillory_apple_bundle target cli)
  if(NOT APPLE)
    return()
  endif()

  if(NOT QUILLORY_BUILD_NUMBER MATCHES "^[0-9]+(\\.[0-9]+)*$")
    message(FATAL_ERROR "QUILLORY_BUILD_NUMBER must be numbers separated by periods, "
                        "as CFBundleVersion requires; got \"${QUILLORY_BUILD_NUMBER}\"")
  endif()

  set(executable "Quillory Helper")
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${executable}")
  set(QUILLORY_BUNDLE_EXECUTABLE "${executable}")
  set(QUILLORY_BUNDLE_SHORT_VERSION "${PROJECT_VERSION}")
  set(QUILLORY_BUNDLE_VERSION "${QUILLORY_BUILD_NUMBER}")
  set(QUILLORY_MINIMUM_SYSTEM_VERSION "${CMAKE_OSX_DEPLOYMENT_TARGET}")
  if(NOT QUILLORY_MINIMUM_SYSTEM_VERSION)
    set(QUILLORY_MINIMUM_SYSTEM_VERSION "13.0")
  endif()
  # The architectures the executables hold, for LSArchitecturePriority: the
  # ones asked for, else the build machine's own.
  set(architectures ${CMAKE_OSX_ARCHITECTURES})
  if(NOT architectures)
    set(architectures ${CMAKE_HOST_SYSTEM_PROCESSOR})
  endif()
  set(QUILLORY_BUNDLE_ARCHITECTURES "")
  foreach(architecture IN LISTS architectures)
    string(APPEND QUILLORY_BUNDLE_ARCHITECTURES "\n\t\t<string>${architecture}</string>")
  endforeach()

  set(info_plist "${CMAKE_CURRENT_BINARY_DIR}/${target}-Info.plist")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Info.plist.in" "${info_plist}" @ONLY)
  set(entitlements "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuilloryHelper.entitlements")

  set(icon "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuilloryHelper.icns")
  target_sources(${target} PRIVATE "${icon}")
  set_source_files_properties("${icon}" PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
  set_target_properties(${target} PROPERTIES
    MACOSX_BUNDLE TRUE
    MACOSX_BUNDLE_INFO_PLIST "${info_plist}")
  target_link_libraries(${target} PRIVATE quillory_platform_macos)

  # The command-line program beside the helper's executable, signed before
  # the bundle that holds it (signing works from the inside out).
  add_dependencies(${target} ${cli})
  set(bundled_cli "$<TARGET_BUNDLE_CONTENT_DIR:${target}>/MacOS/quillory-helper-cli")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:${cli}>" "${bundled_cli}"
    COMMAND codesign --force --sign "${QUILLORY_CODESIGN_IDENTITY}" --entitlements "${entitlements}"
            "${bundled_cli}"
    COMMENT "Putting ${cli} into the ${target} bundle"
    VERBATIM)
  if(CMAKE_GENERATOR STREQUAL "Xcode")
    set_target_properties(${target} PROPERTIES
      XCODE_ATTRIBUTE_CODE_SIGN_IDENTITY "${QUILLORY_CODESIGN_IDENTITY}"
      XCODE_ATTRIBUTE_CODE_SIGN_ENTITLEMENTS "${entitlements}")
  else()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND codesign --force --sign "${QUILLORY_CODESIGN_IDENTITY}"
              --entitlements "${entitlements}" "$<TARGET_BUNDLE_DIR:${target}>"
      COMMENT "Signing the ${target} bundle with the automation entitlement"
      VERBATIM)
  endif()
endfunction()
