# What the Windows build takes from the Linux machine it is cross-built on:
# GoogleTest built from Debian's sources, and CLI11 (headers only) from its
# Linux include folder, through a folder that holds nothing else.
set(ARK_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ARK_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# (It names its targets GTest::gtest, GTest::gmock ... itself.)

set(ARK_CLI11_INCLUDE /usr/include/CLI CACHE PATH "CLI11 headers (Debian package libcli11-dev)")
set(ark_cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${ark_cli11_dir})
file(CREATE_LINK ${ARK_CLI11_INCLUDE} ${ark_cli11_dir}/CLI SYMBOLIC)
add_library(ark_cli11 INTERFACE)
target_include_directories(ark_cli11 SYSTEM INTERFACE ${ark_cli11_dir})
add_library(CLI11::CLI11 ALIAS ark_cli11)
# nlohmann-json (headers only) the same way.
set(ARK_NLOHMANN_INCLUDE /usr/include/nlohmann CACHE PATH "nlohmann-json headers (Debian package nlohmann-json3-dev)")
set(ark_json_dir ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${ark_json_dir})
file(CREATE_LINK ${ARK_NLOHMANN_INCLUDE} ${ark_json_dir}/nlohmann SYMBOLIC)
add_library(ark_nlohmann_json INTERFACE)
target_include_directories(ark_nlohmann_json SYSTEM INTERFACE ${ark_json_dir})
add_library(nlohmann_json::nlohmann_json ALIAS ark_nlohmann_json)

# GCC 12 at -O3 reports overlaps inside std::string's own copies that cannot
# happen (-Wrestrict false positives, seen only in the mingw-w64 build).
add_compile_options(-Wno-restrict)

# Windows 7 and later; the ANSI forms of the calls.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

# Tests are listed when ctest runs (under Wine), not when they are built.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
