# The library as an outside program sees it: the build is installed into a scratch prefix, the
# installed header is compiled alone as C11 and as C++20, and tests/c_consumer/consumer.c, a C11
# program, is built against the installed shared and static libraries and run.
set(_consumer_work ${CMAKE_CURRENT_BINARY_DIR}/c_consumer)
if(KORVANE_SANITIZE)
  set(_consumer_sanitize 1)
else()
  set(_consumer_sanitize 0)
endif()
set(_consumer_args
  ${CMAKE_BINARY_DIR} ${_consumer_work}/prefix ${CMAKE_INSTALL_INCLUDEDIR} ${CMAKE_INSTALL_LIBDIR}
  ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER} ${_consumer_sanitize}
  ${CMAKE_CURRENT_SOURCE_DIR}/c_consumer ${_consumer_work})
set(_consumer_script sh ${CMAKE_CURRENT_SOURCE_DIR}/c_consumer/run.sh)

add_test(NAME c_consumer_install COMMAND ${_consumer_script} install ${_consumer_args})
set_tests_properties(c_consumer_install PROPERTIES FIXTURES_SETUP korvane_installed)

foreach(step header shared static)
  add_test(NAME c_consumer_${step} COMMAND ${_consumer_script} ${step} ${_consumer_args})
  set_tests_properties(c_consumer_${step} PROPERTIES
    FIXTURES_REQUIRED korvane_installed
    TIMEOUT 120)
endforeach()
