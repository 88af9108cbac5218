# nlohmann-json, the JSON library of the browser host's protocol (header-only,
# Debian's nlohmann-json3-dev). A cross-build must never search the machine's
# own /usr/include, where the C library of another system lies, so the
# library's folder alone is copied into the build tree and used from there.
add_library(zyp_json INTERFACE)
if(MSVC)
  find_package(nlohmann_json 3.10 CONFIG REQUIRED)
  target_link_libraries(zyp_json INTERFACE nlohmann_json::nlohmann_json)
else()
  find_path(ZYP_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(copied ${CMAKE_BINARY_DIR}/third_party/include)
  file(COPY ${ZYP_JSON_INCLUDE_DIR}/nlohmann DESTINATION ${copied})
  target_include_directories(zyp_json SYSTEM INTERFACE ${copied})
endif()
