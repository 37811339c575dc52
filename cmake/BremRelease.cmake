# The release being built, from the first entry of packaging/changelog: BREM_RELEASE_VERSION
# and BREM_RELEASE_DATE (YYYY-MM-DD), for the manual pages and the package's metadata. The
# entry must be the project's version, so a new version cannot ship without one.
set(_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_changelog})
file(STRINGS ${_changelog} _head LIMIT_COUNT 1)
file(STRINGS ${_changelog} _trailer REGEX "^ -- " LIMIT_COUNT 1)
set(BREM_RELEASE_VERSION)
if(_head MATCHES "^brem \\(([^)]+)\\) ")
    set(BREM_RELEASE_VERSION ${CMAKE_MATCH_1})
endif()
if(NOT BREM_RELEASE_VERSION STREQUAL
        "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
    message(FATAL_ERROR "${_changelog} begins with '${_head}': its first entry must be "
        "version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
endif()
if(NOT _trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "${_changelog}: no date in '${_trailer}'")
endif()
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1" OUTPUT_FORMAT DECIMAL)
if(_month LESS 10)
    set(_month 0${_month})
endif()
set(BREM_RELEASE_DATE ${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1})
