# The programs of examples/ built against a fresh install of this build, through the CMake
# package and through pkg-config, with the shared and with the static library, and run on
# generated LAS files.
set(_examples_work ${CMAKE_CURRENT_BINARY_DIR}/examples)
if(KORVANE_SANITIZE)
  set(_examples_sanitize 1)
else()
  set(_examples_sanitize 0)
endif()
if(KORVANE_SHARED)
  set(_examples_default shared)
else()
  set(_examples_default static)
endif()
set(_examples_run sh ${CMAKE_CURRENT_SOURCE_DIR}/examples/run.sh)
set(_examples_args
  ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${_examples_work} ${CMAKE_INSTALL_LIBDIR}
  ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER} ${_examples_sanitize} $<TARGET_FILE:lasgen>
  ${_examples_default})

add_test(NAME examples_install COMMAND ${_examples_run} install ${_examples_args})
set_tests_properties(examples_install PROPERTIES
  FIXTURES_SETUP examples_installed
  TIMEOUT 120)

foreach(step version find_package_shared find_package_static pkg_config_shared
        pkg_config_static)
  add_test(NAME examples_${step} COMMAND ${_examples_run} ${step} ${_examples_args})
  set_tests_properties(examples_${step} PROPERTIES
    FIXTURES_REQUIRED examples_installed
    SKIP_RETURN_CODE 77
    TIMEOUT 180)
endforeach()
