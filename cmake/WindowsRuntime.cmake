# Every Windows program of the project sits in bin/ of the build, beside the
# DLLs it needs, as it will where it is installed: the MinGW C++ runtime
# always, Qt and its plugins with the window. The same DLLs are installed with
# the programs (packaging/). Which plugins the window loads: the windows
# platform and the Windows style; the tests add the offscreen platform and
# Qt Test.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

set(VELTRA_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "The compiler knows no ${dll}: is the MinGW-w64 posix compiler installed?")
  endif()
  list(APPEND VELTRA_RUNTIME_DLLS ${path})
endforeach()

set(VELTRA_QT_DLLS)
set(VELTRA_QT_PLATFORM_PLUGINS)
set(VELTRA_QT_STYLE_PLUGINS)
set(VELTRA_QT_TEST_DLLS)
set(VELTRA_QT_TEST_PLATFORM_PLUGINS)
if(VELTRA_WITH_WINDOW)
  find_package(Qt6 REQUIRED COMPONENTS Core)
  set(qt_bin ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
  set(qt_plugins ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})
  foreach(module Core Gui Widgets)
    list(APPEND VELTRA_QT_DLLS ${qt_bin}/Qt6${module}.dll)
  endforeach()
  set(VELTRA_QT_PLATFORM_PLUGINS ${qt_plugins}/platforms/qwindows.dll)
  set(VELTRA_QT_STYLE_PLUGINS ${qt_plugins}/styles/qwindowsvistastyle.dll)
  set(VELTRA_QT_TEST_DLLS ${qt_bin}/Qt6Test.dll)
  set(VELTRA_QT_TEST_PLATFORM_PLUGINS ${qt_plugins}/platforms/qoffscreen.dll)
endif()

set(bin ${CMAKE_BINARY_DIR}/bin)
add_custom_target(windows-runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${bin} ${bin}/platforms ${bin}/styles
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELTRA_RUNTIME_DLLS} ${VELTRA_QT_DLLS} ${VELTRA_QT_TEST_DLLS} ${bin}
  COMMENT "The runtime and Qt DLLs beside the programs")
if(VELTRA_WITH_WINDOW)
  add_custom_command(TARGET windows-runtime POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELTRA_QT_PLATFORM_PLUGINS} ${VELTRA_QT_TEST_PLATFORM_PLUGINS} ${bin}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VELTRA_QT_STYLE_PLUGINS} ${bin}/styles)
endif()
