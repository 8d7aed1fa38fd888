# How a test binary's tests are registered with CTest, in one place.
#
#   suite_tests(<target> <fast|slow> [PREFIX p] [TIMEOUT s] [COST s] [LABELS l...] [WHOLE]
#               [SLOW_MATCHING regex] [SLOW_COST s])
#
# Every test is in one tier: `fast` (the whole tier runs in under a minute,
# `ctest -L fast`) or `slow` (programs driven through their windows, servers,
# the package). COST is about the seconds the binary's longest test takes on a
# quiet machine: `ctest -j` starts the costliest first, so that a long test
# does not begin last. WHOLE registers the binary as one test (its cases
# share one GL context); otherwise each GoogleTest case is a test of its own,
# named PREFIX and the case's name. Cases of a fast binary whose names match
# SLOW_MATCHING are in the slow tier instead, with the cost SLOW_COST.
include(GoogleTest)

function(suite_tests target tier)
  cmake_parse_arguments(PARSE_ARGV 2 arg "WHOLE" "PREFIX;TIMEOUT;COST;SLOW_MATCHING;SLOW_COST"
                        "LABELS")
  if(NOT tier MATCHES "^(fast|slow)$")
    message(FATAL_ERROR "suite_tests(${target}): the tier is fast or slow, not \"${tier}\"")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  if(NOT arg_COST)
    set(arg_COST 1)
  endif()
  if(NOT arg_SLOW_COST)
    set(arg_SLOW_COST ${arg_COST})
  endif()
  set(labels ${tier} ${arg_LABELS})
  if(arg_WHOLE)
    add_test(NAME ${arg_PREFIX}${target} COMMAND ${target})
    set_tests_properties(${arg_PREFIX}${target} PROPERTIES TIMEOUT ${arg_TIMEOUT}
                         COST ${arg_COST} LABELS "${labels}")
  else()
    # Discovery hands properties on as one flat list, which would split the
    # labels; they are set after it instead, on the tests it listed. The
    # sanitised tree is built at the lowest priority beside the tests, where
    # a binary listing its cases at build time may wait minutes for a core:
    # there the listing waits for ctest.
    if(SUITE_SANITIZE)
      set(mode PRE_TEST)
    else()
      set(mode POST_BUILD)
    endif()
    gtest_discover_tests(${target} TEST_PREFIX "${arg_PREFIX}" TEST_LIST ${target}_TESTS
                         DISCOVERY_MODE ${mode} DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT ${arg_TIMEOUT} COST ${arg_COST})
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
    set(slow_labels slow ${arg_LABELS})
    file(WRITE ${file} "set(slow [==[${arg_SLOW_MATCHING}]==])\n"
                       "foreach(t IN LISTS ${target}_TESTS)\n"
                       "  if(NOT slow STREQUAL \"\" AND t MATCHES \"\${slow}\")\n"
                       "    set_tests_properties(\${t} PROPERTIES LABELS \"${slow_labels}\"\n"
                       "                         COST ${arg_SLOW_COST})\n"
                       "  else()\n"
                       "    set_tests_properties(\${t} PROPERTIES LABELS \"${labels}\")\n"
                       "  endif()\n"
                       "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
  endif()
endfunction()
