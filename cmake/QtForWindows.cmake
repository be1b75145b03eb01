# Finds the project's Qt for Windows: VELTRA_QT_WINDOWS when given, else the
# cache folder that scripts/qt-windows.sh builds for the Qt version and
# options of today. Qt's code generators (moc, rcc, uic) are the build
# machine's, from qt6-base-dev-tools.
set(VELTRA_QT_WINDOWS "" CACHE PATH "Qt 6 for Windows (MinGW-w64): scripts/qt-windows.sh builds it")
if(NOT VELTRA_QT_WINDOWS)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/qt-windows.sh --prefix
                  OUTPUT_VARIABLE veltra_qt_prefix OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE veltra_qt_found)
  if(veltra_qt_found EQUAL 0 AND EXISTS ${veltra_qt_prefix}/.complete)
    set(VELTRA_QT_WINDOWS ${veltra_qt_prefix} CACHE PATH "" FORCE)
  endif()
endif()
if(NOT EXISTS ${VELTRA_QT_WINDOWS}/lib/cmake/Qt6/Qt6Config.cmake)
  message(FATAL_ERROR "No Qt for Windows at '${VELTRA_QT_WINDOWS}': run scripts/qt-windows.sh "
                      "(it builds one from Debian's source, about a quarter of an hour), or configure with "
                      "-DVELTRA_WITH_WINDOW=OFF")
endif()
# Libraries and headers come from the find roots only (the toolchain): Qt's
# prefix is one more root.
list(APPEND CMAKE_FIND_ROOT_PATH ${VELTRA_QT_WINDOWS})
list(APPEND CMAKE_PREFIX_PATH ${VELTRA_QT_WINDOWS})
set(QT_HOST_PATH /usr CACHE PATH "The build machine's Qt, whose tools the build runs")
if(NOT QT_HOST_PATH_CMAKE_DIR)
  file(GLOB veltra_host_qt_tools LIST_DIRECTORIES true /usr/lib/*/cmake/Qt6CoreTools)
  if(NOT veltra_host_qt_tools)
    message(FATAL_ERROR "No Qt tools for the build machine: install qt6-base-dev-tools")
  endif()
  list(GET veltra_host_qt_tools 0 veltra_host_qt_tools)
  get_filename_component(veltra_host_qt_cmake ${veltra_host_qt_tools} DIRECTORY)
  set(QT_HOST_PATH_CMAKE_DIR ${veltra_host_qt_cmake} CACHE PATH "The build machine's Qt CMake packages")
endif()
