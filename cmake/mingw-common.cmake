# Shared part of the two mingw-w64 toolchains. The posix threading variant is
# needed for std::thread and std::mutex.
set(CMAKE_C_COMPILER ${GD_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GD_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GD_TRIPLE}-windres)
get_filename_component(_gd_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(GD_DEPS_PREFIX "${_gd_root}/build/deps/${GD_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH /usr/${GD_TRIPLE} ${GD_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
