# Warnings are errors in every target of ours.
add_library(tc_warnings INTERFACE)
target_compile_options(tc_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wcast-align -Wformat=2 -Werror)

# tc_add_layer(name folder deps...): a static library of every .cpp in the folder.
function(tc_add_layer name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN} PRIVATE tc_warnings)
endfunction()
