# Cross-compiling the macOS programs with zig c++, which bundles clang, libc++
# and the macOS system headers and libraries.
#   -DPULVO_ZIG=<zig executable>  -DPULVO_MACOS_ARCH=x86_64|aarch64
# scripts/macos.sh installs a pinned zig into the build folder and passes both.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${PULVO_MACOS_ARCH})
set(PULVO_ZIG_TARGET ${PULVO_MACOS_ARCH}-macos)
# CMake takes a compiler as one program: small wrappers put "zig c++ -target".
set(wrappers ${CMAKE_BINARY_DIR}/zig-wrappers)
file(MAKE_DIRECTORY ${wrappers})
foreach(tool cc c++ ar ranlib)
  if(tool STREQUAL "cc" OR tool STREQUAL "c++")
    set(command "exec \"${PULVO_ZIG}\" ${tool} -target ${PULVO_ZIG_TARGET} \"$@\"")
  else()
    set(command "exec \"${PULVO_ZIG}\" ${tool} \"$@\"")
  endif()
  file(WRITE ${wrappers}/${tool} "#!/bin/sh\n${command}\n")
  file(CHMOD ${wrappers}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${wrappers}/cc)
set(CMAKE_CXX_COMPILER ${wrappers}/c++)
set(CMAKE_AR ${wrappers}/ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${wrappers}/ranlib CACHE FILEPATH "" FORCE)
# No Xcode here: no SDK to look for, the target comes from zig, and nothing
# is installed, so install_name_tool is never called.
set(CMAKE_INSTALL_NAME_TOOL /bin/true CACHE FILEPATH "" FORCE)
set(CMAKE_OSX_SYSROOT "" CACHE STRING "" FORCE)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
