# Shared helpers: every folder of ours is one static library with the same warning policy.
# C++ only: the Windows build also compiles resource scripts, whose compiler knows no such flags.
set(QUIL_WARNINGS $<$<COMPILE_LANGUAGE:CXX>:-Wall> $<$<COMPILE_LANGUAGE:CXX>:-Wextra> $<$<COMPILE_LANGUAGE:CXX>:-Werror>)

# A coverage build (windows/coverage) instruments only the libraries it measures, unoptimised so
# that lines map to code; whatever links one of them links gcov's runtime through it.
set(QUIL_COVERAGE_LIBRARIES "" CACHE STRING "Our libraries built with gcov instrumentation")

function(quil_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${QUIL_WARNINGS})
  if(name IN_LIST QUIL_COVERAGE_LIBRARIES)
    target_compile_options(${name} PRIVATE --coverage -O0)
    target_link_options(${name} INTERFACE --coverage)
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# Windows programs run with UTF-8 as their active code page, from the manifest this resource script
# embeds; the test programs too, so that they see strings as the agent does.
if(WIN32)
  set(QUIL_UTF8_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/windows/utf8.manifest)
  set(QUIL_UTF8_RESOURCE ${PROJECT_BINARY_DIR}/generated/utf8.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/utf8.rc.in ${QUIL_UTF8_RESOURCE} @ONLY)
endif()

function(quil_utf8_program name)
  if(WIN32)
    target_sources(${name} PRIVATE ${QUIL_UTF8_RESOURCE})
    set_property(SOURCE ${QUIL_UTF8_RESOURCE} APPEND PROPERTY OBJECT_DEPENDS ${QUIL_UTF8_MANIFEST})
  endif()
endfunction()

# One GoogleTest executable per folder label; every test case becomes its own CTest entry.
# label is the folder's; LABELS adds more (e.g. security), for ctest -L to pick across folders.
function(quil_test name label)
  cmake_parse_arguments(ARG "" "TIMEOUT;RESOURCE_LOCK;ENVIRONMENT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  quil_utf8_program(${name})
  target_compile_options(${name} PRIVATE ${QUIL_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(lock)
  if(ARG_RESOURCE_LOCK AND WIN32)
    set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  set(environment)
  if(ARG_ENVIRONMENT)
    set(environment ENVIRONMENT ${ARG_ENVIRONMENT})
  endif()
  # A cross build lists its tests when CTest runs (through the emulator), not while building.
  set(discovery)
  if(CMAKE_CROSSCOMPILING)
    set(discovery DISCOVERY_MODE PRE_TEST)
  endif()
  # Parameter values print as bytes that include addresses: the index names a case stably.
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${label} TIMEOUT ${ARG_TIMEOUT} ${lock} ${environment}
    DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES ${discovery})
  # A list does not survive the discovery script's properties: the labels are set once the tests
  # are known, by a script CTest reads after the discovered list.
  if(ARG_LABELS)
    set(labels ${label} ${ARG_LABELS})
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${script}"
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${labels}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()

include(GoogleTest)

# The project's version for the programs' --version, as a generated header they include as
# "QuilVersion.h".
configure_file(${CMAKE_CURRENT_LIST_DIR}/QuilVersion.h.in ${PROJECT_BINARY_DIR}/generated/QuilVersion.h @ONLY)
add_library(quil_version INTERFACE)
target_include_directories(quil_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
