# Everything else the project version (major.minor.patch) shows up as:
#   PELLITH_VERSION_QUAD    1.2.0.0, the DLL's file and product version (tweak 0 unless given)
#   PELLITH_EXPERT_VERSION  1.20, the experts' #property version: major "." minor patch
# The experts are shipped byte for byte as committed, so their version lines are checked here
# rather than written: a disagreement stops the configure.

set(PELLITH_VERSION_TWEAK 0)
if(NOT "${PROJECT_VERSION_TWEAK}" STREQUAL "")
    set(PELLITH_VERSION_TWEAK ${PROJECT_VERSION_TWEAK})
endif()
set(PELLITH_VERSION_QUAD
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PELLITH_VERSION_TWEAK}")

# "1.20" has room for one digit each of minor and patch: 1.2.10 and 1.21.0 would both be 1.210.
if(PROJECT_VERSION_MINOR GREATER 9 OR PROJECT_VERSION_PATCH GREATER 9)
    message(FATAL_ERROR "Project version ${PROJECT_VERSION}: the expert's version "
        "(major.minor patch, as 1.20 for 1.2.0) needs minor and patch below 10")
endif()
set(PELLITH_EXPERT_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}${PROJECT_VERSION_PATCH}")

# Both experts, the MetaTrader 4 and the MetaTrader 5 one, ship at the project version.
foreach(expert mql4/PellithPanel.mq4 mql5/PellithPanel.mq5)
    set(expert_source ${CMAKE_SOURCE_DIR}/${expert})
    if(NOT EXISTS ${expert_source})
        continue()
    endif()
    # Editing the expert configures again, so the check cannot go stale.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${expert_source})
    file(STRINGS ${expert_source} version_lines REGEX "^[ \t]*#property[ \t]+version")
    list(LENGTH version_lines version_line_count)
    if(NOT version_line_count EQUAL 1)
        message(FATAL_ERROR "${expert} has ${version_line_count} '#property version' "
            "lines; it needs exactly one: #property version \"${PELLITH_EXPERT_VERSION}\"")
    endif()
    if(NOT version_lines MATCHES "^[ \t]*#property[ \t]+version[ \t]+\"([^\"]*)\"")
        message(FATAL_ERROR "${expert}: cannot read the version in "
            "'${version_lines}'; write it as #property version \"${PELLITH_EXPERT_VERSION}\"")
    endif()
    if(NOT CMAKE_MATCH_1 STREQUAL PELLITH_EXPERT_VERSION)
        message(FATAL_ERROR "${expert} says #property version \"${CMAKE_MATCH_1}\", "
            "but the project version ${PROJECT_VERSION} (CMakeLists.txt) makes it "
            "\"${PELLITH_EXPERT_VERSION}\": change one of the two so that they agree")
    endif()
endforeach()
