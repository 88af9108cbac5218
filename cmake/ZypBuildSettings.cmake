# The warnings and definitions of the project's own code, in one interface
# target that each of its targets links: third-party code built here
# (GoogleTest) keeps its own flags and never meets our -Werror.
add_library(zyp_build_settings INTERFACE)
# Compilers only: resource scripts take the definitions below, not these.
set(zyp_compiled "$<COMPILE_LANGUAGE:C,CXX>")
if(MSVC)
  target_compile_options(zyp_build_settings INTERFACE
    "$<${zyp_compiled}:/W4;/utf-8;/permissive->"
    "$<$<AND:${zyp_compiled},$<BOOL:${ZYP_WERROR}>>:/WX>")
else()
  target_compile_options(zyp_build_settings INTERFACE
    "$<${zyp_compiled}:-Wall;-Wextra>"
    "$<$<AND:${zyp_compiled},$<BOOL:${ZYP_WERROR}>>:-Werror>")
endif()
if(WIN32)
  target_compile_definitions(zyp_build_settings INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()

# zyp_link_build_settings(<folder>) links the settings into every target made
# in <folder> and the folders below it that belong to the project; called once
# the whole tree is declared, so that no target can be left out.
function(zyp_link_build_settings folder)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_link_libraries(${target} PRIVATE zyp_build_settings)
    endif()
  endforeach()
  get_property(folders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(below IN LISTS folders)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${below}" NORMALIZE ours)
    if(ours)
      zyp_link_build_settings(${below})
    endif()
  endforeach()
endfunction()
