# Prints whether the package version file VERSION_FILE accepts a find_package request for
# version REQUESTED: TRUE or FALSE.
#
#   cmake -DVERSION_FILE=... -DREQUESTED=1.0 -P version_answer.cmake
set(PACKAGE_FIND_VERSION "${REQUESTED}")
string(REPLACE "." ";" _parts "${REQUESTED}.0.0.0")
list(GET _parts 0 PACKAGE_FIND_VERSION_MAJOR)
list(GET _parts 1 PACKAGE_FIND_VERSION_MINOR)
list(GET _parts 2 PACKAGE_FIND_VERSION_PATCH)
set(PACKAGE_VERSION_COMPATIBLE FALSE)
include("${VERSION_FILE}")
if(PACKAGE_VERSION_COMPATIBLE AND NOT PACKAGE_VERSION_UNSUITABLE)
  message("TRUE")
else()
  message("FALSE")
endif()
