# Folder = library = layer. Each library sees its own folder and the folders of the libraries it
# links, and nothing else: an include that points up a layer does not compile.
#
# The libraries include each other's headers by folder ("text/byte_string.h"). Pointing a
# library at the source root would make every folder visible to it, so each library gets an
# include root of its own in the build tree instead, holding one link: to its own folder.
# Linking a library (PUBLIC or PRIVATE) then brings in exactly the folders below it.
function(zk_layer_includes target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
