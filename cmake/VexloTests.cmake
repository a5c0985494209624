# One way to declare a GoogleTest program, so that every test carries exactly
# one of the labels below and a build of the program builds what it starts:
#
#   vexlo_test_program(NAME SOURCES file... LABEL label
#                      [LIBRARIES target...] [RUNS target...] [DEFINITIONS def...]
#                      [ALSO label gtest-filter ...] [PREFIX text] [TIMEOUT seconds]
#                      [DISCOVERY_TIMEOUT seconds])
#
# Labels: unit (starts no program and no outside tool), e2e (starts a program
# built here, alone or against the emulator or the open-source driver), tool
# (needs a tool from outside: mtools, fsck.fat, the Atari emulator, wine,
# objdump, man) and slow (tens of seconds each). LABEL is the program's; each ALSO
# pair gives the tests its filter matches another one. RUNS names the
# programs and libraries its tests start or load. The programs with unit
# tests make the target `unit-tests`, which tools/run-tests quick builds.
include(GoogleTest)

set(VEXLO_TEST_LABELS unit e2e tool slow)

function(vexlo_check_test_label label)
  if(NOT label IN_LIST VEXLO_TEST_LABELS)
    message(FATAL_ERROR "Test label '${label}' is none of ${VEXLO_TEST_LABELS}")
  endif()
endfunction()

function(vexlo_test_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL;PREFIX;TIMEOUT;DISCOVERY_TIMEOUT"
                        "SOURCES;LIBRARIES;RUNS;DEFINITIONS;ALSO")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_SOURCES)
    message(FATAL_ERROR "vexlo_test_program(${name}): SOURCES and LABEL, and nothing unknown "
                        "(${arg_UNPARSED_ARGUMENTS})")
  endif()
  vexlo_check_test_label("${arg_LABEL}")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  if(arg_DEFINITIONS)
    target_compile_definitions(${name} PRIVATE ${arg_DEFINITIONS})
  endif()
  if(arg_RUNS)
    add_dependencies(${name} ${arg_RUNS})
  endif()

  set(discover)
  if(arg_PREFIX)
    list(APPEND discover TEST_PREFIX ${arg_PREFIX})
  endif()
  if(arg_DISCOVERY_TIMEOUT)
    list(APPEND discover DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT})
  endif()
  set(properties)
  if(arg_TIMEOUT)
    list(APPEND properties TIMEOUT ${arg_TIMEOUT})
  endif()

  # The tests an ALSO filter matches get its label; the rest the program's.
  set(labels ${arg_LABEL})
  set(elsewhere)
  set(also ${arg_ALSO})
  while(also)
    list(POP_FRONT also label filter)
    if(NOT filter)
      message(FATAL_ERROR "vexlo_test_program(${name}): ALSO takes a label and a filter")
    endif()
    vexlo_check_test_label("${label}")
    list(APPEND labels ${label})
    list(APPEND elsewhere ${filter})
    gtest_discover_tests(${name} ${discover} TEST_FILTER ${filter} PROPERTIES LABELS ${label} ${properties})
  endwhile()
  set(rest)
  if(elsewhere)
    list(JOIN elsewhere ":" elsewhere)
    set(rest TEST_FILTER "-${elsewhere}")
  endif()
  gtest_discover_tests(${name} ${discover} ${rest} PROPERTIES LABELS ${arg_LABEL} ${properties})

  if("unit" IN_LIST labels)
    set_property(GLOBAL APPEND PROPERTY VEXLO_UNIT_TEST_PROGRAMS ${name})
  endif()
endfunction()
