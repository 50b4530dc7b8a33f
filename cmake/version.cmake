# The project's version, as the programs see it: zk_version.h, written here from
# project(VERSION), and version_info.rc, the version resource of the Windows programs.
configure_file(${CMAKE_CURRENT_LIST_DIR}/zk_version.h.in
               ${CMAKE_BINARY_DIR}/generated/version/zk_version.h @ONLY)

# Lets the target's sources include "zk_version.h" and its resource script "version_info.rc".
function(zk_version_includes target)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated/version
                             $<$<COMPILE_LANGUAGE:RC>:${CMAKE_SOURCE_DIR}/cmake>)
endfunction()
