# cheerpost_library(NAME [INTERFACE] [FILES header...] SOURCES ... DEPENDS ... PRIVATE ...)
#
# A library of one folder. Its headers are included by their path from the
# top of the tree ("hostmail/model/ContactItem.h"), but the include folder a
# library exposes holds only its own folder (a link in the build tree), so a
# target sees the headers of the libraries it links and no others: a header
# of a layer it does not depend on fails to build. FILES exposes single
# headers of the folder instead of the whole folder.
function(cheerpost_library name)
  cmake_parse_arguments(L "INTERFACE" "" "SOURCES;DEPENDS;PRIVATE;FILES" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${root}/${folder})
  if(L_FILES)
    foreach(header ${L_FILES})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${folder}/${header} SYMBOLIC)
    endforeach()
  else()
    file(REMOVE_RECURSE ${root}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  if(L_INTERFACE)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${L_DEPENDS})
  else()
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC ${L_DEPENDS} PRIVATE ${L_PRIVATE})
  endif()
endfunction()
