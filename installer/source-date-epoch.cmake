# Writes the time the packages carry, SOURCE_DATE_EPOCH (by default the
# commit's time, as scripts/package takes it), into OUTPUT, and touches the
# file only when the time changed, so that a new commit makes the packages
# again and nothing else does.
#   cmake -DSOURCE_DIR=<checkout> -DOUTPUT=<file> -P source-date-epoch.cmake
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY "${SOURCE_DIR}"
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${SOURCE_DIR} is not a git checkout: set SOURCE_DATE_EPOCH")
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number of seconds: '${epoch}'")
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${epoch}\n")
