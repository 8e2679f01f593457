# The application's bundle: the resources/ folder beside the binary, with Info.json generated
# from the build options. In the build tree the bundle is <build>/share/talverin, so every
# program built here (the application, the tests) finds it the way an installed binary finds
# ../share/talverin: in the nearest folder above the executable that has share/talverin.
#
#   cmake -DTALVERIN_BACKEND_URL=https://example.supabase.co -DTALVERIN_BACKEND_KEY=... .
#
# With no URL or key the build has no cloud backend.

set(TALVERIN_BUNDLE_IDENTIFIER "app.talverin.Talverin")
set(TALVERIN_BUNDLE_DIR ${CMAKE_BINARY_DIR}/share/talverin)

# The text of a JSON string literal without its quotes.
function(talverin_json_escape out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

talverin_json_escape(TALVERIN_INFO_BACKEND_URL "${TALVERIN_BACKEND_URL}")
talverin_json_escape(TALVERIN_INFO_BACKEND_KEY "${TALVERIN_BACKEND_KEY}")
talverin_json_escape(TALVERIN_INFO_VERSION "${PROJECT_VERSION}")
configure_file(${CMAKE_SOURCE_DIR}/resources/Info.json.in ${TALVERIN_BUNDLE_DIR}/Info.json @ONLY)

# Everything else in resources/ is used in place, through links, so an edited page or sound
# needs no new configure run.
file(GLOB talverin_resource_entries CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/resources
  ${CMAKE_SOURCE_DIR}/resources/*)
foreach(entry IN LISTS talverin_resource_entries)
  if(entry STREQUAL "Info.json.in")
    continue()
  endif()
  if(NOT IS_SYMLINK ${TALVERIN_BUNDLE_DIR}/${entry})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/resources/${entry} ${TALVERIN_BUNDLE_DIR}/${entry}
      SYMBOLIC)
  endif()
endforeach()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/ DESTINATION share/talverin
  PATTERN "Info.json.in" EXCLUDE)
install(FILES ${TALVERIN_BUNDLE_DIR}/Info.json DESTINATION share/talverin)

# The desktop's own places for the launcher entry and its icon.
install(FILES ${CMAKE_SOURCE_DIR}/resources/${TALVERIN_BUNDLE_IDENTIFIER}.desktop
  DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/AppIcon.svg
  DESTINATION share/icons/hicolor/scalable/apps RENAME ${TALVERIN_BUNDLE_IDENTIFIER}.svg)
