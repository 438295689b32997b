# The manual pages format without warnings and quote every message of the sources.
add_test(NAME man_pages
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/man_pages/check.sh ${PROJECT_SOURCE_DIR})
