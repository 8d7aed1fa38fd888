# The suite's version, in one place: suite-run writes it into every
# metadata.json and the package carries it. The project's version, plus what
# git says of the checkout when there is one (commit, and "dirty" when edited).
find_package(Git QUIET)
set(SUITE_VERSION ${PROJECT_VERSION})
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE GIT_DESCRIBE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(GIT_DESCRIBE)
    set(SUITE_VERSION "${PROJECT_VERSION}+${GIT_DESCRIBE}")
  endif()
endif()
