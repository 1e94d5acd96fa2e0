# The helper as a macOS application bundle. On other systems
# quillory_apple_bundle() does nothing, so the shell may call it everywhere.
#
#   quillory_apple_bundle(<target>)
#
# makes <target> (an executable) a bundle with the Info.plist of
# Info.plist.in: no Dock icon (LSUIElement), identifier test.quillory.helper,
# the project's version as the short version, the build
# number QUILLORY_BUILD_NUMBER and the text macOS shows when it asks the user
# to let the helper control Kettle Ledger, and the app icon QuilloryHelper.icns
# (made by scripts/make-app-icon.py). It links the Objective-C++
# translations (quillory_platform_macos) and signs the bundle with the
# automation entitlement (QuilloryHelper.entitlements) after each build: the
# identity QUILLORY_CODESIGN_IDENTITY, by default "-", which signs ad hoc for
# this machine. No hardened runtime here: with it, the Qt libraries Homebrew
# installs would fail library validation under an ad hoc signature. The CI
# workflow bundles the libraries (macdeployqt) and signs the result with the
# hardened runtime.

set(QUILLORY_CODESIGN_IDENTITY "-" CACHE STRING "codesign identity for the macOS bundle (\"-\": ad hoc)")

function(quillory_apple_bundle target)
  if(NOT APPLE)
    return()
  endif()

  if(NOT QUILLORY_BUILD_NUMBER MATCHES "^[0-9]+(\\.[0-9]+)*$")
    message(FATAL_ERROR "QUILLORY_BUILD_NUMBER must be numbers separated by periods, "
                        "as CFBundleVersion requires; got \"${QUILLORY_BUILD_NUMBER}\"")
  endif()

  get_target_property(executable ${target} OUTPUT_NAME)
  if(NOT executable)
    set(executable ${target})
  endif()
  set(QUILLORY_BUNDLE_EXECUTABLE "${executable}")
  set(QUILLORY_BUNDLE_SHORT_VERSION "${PROJECT_VERSION}")
  set(QUILLORY_BUNDLE_VERSION "${QUILLORY_BUILD_NUMBER}")
  set(QUILLORY_MINIMUM_SYSTEM_VERSION "${CMAKE_OSX_DEPLOYMENT_TARGET}")
  if(NOT QUILLORY_MINIMUM_SYSTEM_VERSION)
    set(QUILLORY_MINIMUM_SYSTEM_VERSION "13.0")
  endif()

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
