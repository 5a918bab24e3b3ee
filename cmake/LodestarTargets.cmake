# lodestar_optional_package(OPTION PACKAGE [find_package arguments...])
# OPTION ON requires the package, OFF leaves it out, AUTO takes it when it is found and says so
# when it is not. Afterwards <PACKAGE>_FOUND tells whether it is there.
macro(lodestar_optional_package option package)
  if("${${option}}" STREQUAL "AUTO")
    find_package(${package} ${ARGN} QUIET)
    if(NOT ${package}_FOUND)
      message(STATUS "${package} not found: building without it (-D${option}=ON requires it)")
    endif()
  elseif(${option})
    find_package(${package} ${ARGN} REQUIRED)
  else()
    set(${package}_FOUND FALSE)
  endif()
endmacro()

# lodestar_headers(TARGET SCOPE)
# Gives TARGET an include root of its own in the build tree holding links to the headers directly
# in the current folder, under the folder's path below its top folder: src/ui/wx/x.h is included
# as "ui/wx/x.h", tools/publish/x.h as "publish/x.h". A target sees the headers of the libraries
# it links and no others, so including a header of a library that is not named fails to build.
# One link per header rather than per folder: a folder's subfolders may be libraries of their own.
function(lodestar_headers target scope)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "^[^/]+/(.*)$" "\\1" prefix ${folder})
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${prefix})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${prefix}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# lodestar_library(NAME [PUBLIC deps...] [PRIVATE deps...] [POSIX files...] [WINDOWS files...])
# One static library per folder, made of every .cc directly in it (main.cc, main_windows.cc and
# main_posix.cc aside), exposing the folder's headers. PUBLIC: the libraries its headers include;
# PRIVATE: those only its .cc use.
# Platform code is picked by name: *_posix.cc everywhere but Windows, *_windows.cc on Windows.
# Other implementations of one interface (an HTTP library, say) are listed under the platform
# they serve, POSIX or WINDOWS, and left out of the other.
function(lodestar_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE;POSIX;WINDOWS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  list(FILTER sources EXCLUDE REGEX "/main(_windows|_posix)?\\.cc$")
  if(WIN32)
    set(foreign_suffix posix)
    set(foreign_files ${ARG_POSIX})
  else()
    set(foreign_suffix windows)
    set(foreign_files ${ARG_WINDOWS})
  endif()
  list(FILTER sources EXCLUDE REGEX "_${foreign_suffix}\\.cc$")
  foreach(file ${foreign_files})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  add_library(${name} STATIC ${sources})
  lodestar_headers(${name} PUBLIC)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# lodestar_test(NAME SOURCES files... LIBS libs... [LABELS labels...] [LOCKS resources...])
# A GoogleTest executable whose cases ctest lists one by one. It sees the headers of LIBS.
# Label "thread" marks suites that also run under ThreadSanitizer. Cases of suites that name the
# same resource in LOCKS never run at the same time.
function(lodestar_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS;LOCKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  set(properties TIMEOUT 120)
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  if(ARG_LOCKS)
    list(APPEND properties RESOURCE_LOCK "${ARG_LOCKS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()

# lodestar_windows_resources(TARGET)
# Compiles the resource script (the dialog template, the icons, the string table) into a Windows
# executable that links lodestar_ui_win32. The script finds its icons beside it and the control ids
# through the dialog's headers.
function(lodestar_windows_resources target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/res/lodestar.rc)
  target_include_directories(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${PROJECT_SOURCE_DIR}/res>)
endfunction()
