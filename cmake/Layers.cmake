# Layered include roots. Each library publishes its folder under one name
# ("common", "db", "core", ...) through a directory of its own in the build
# tree that holds nothing but a link to that folder. Code includes headers by
# that name ("core/Polling.h"), and only targets that link the library see
# the name: a lower layer that includes a higher one fails to compile.
function(corvane_publish target name folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  set(link ${root}/${name})
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${link})
    file(CREATE_LINK ${folder} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
