# Read by cpack before it packages. CPack (3.25 and later) stamps every entry of the archive with
# SOURCE_DATE_EPOCH; without it the entries would carry the build's file times, so an archive
# without it is refused rather than made.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    message(FATAL_ERROR "Set SOURCE_DATE_EPOCH to the commit's time in seconds "
        "(git log -1 --format=%ct), or make the release with ./scripts/release")
endif()
# A ZIP entry's DOS date is local time: the same instant gives other bytes in another zone.
set(ENV{TZ} UTC0)
