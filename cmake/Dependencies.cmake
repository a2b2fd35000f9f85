# Imported targets for the third-party libraries built by scripts/build-deps.sh.

set(DEPS_LIB ${VORNAK_DEPS_PREFIX}/lib)
set(DEPS_INCLUDE ${VORNAK_DEPS_PREFIX}/include)

function(vornak_static_library name)
  cmake_parse_arguments(ARG "" "" "NAMES;INCLUDES;LINKS;DEFINES" ${ARGN})
  # Not cached: a build directory follows the prefix it is configured with
  # (an entry cached by an older configuration goes).
  unset(${name}_LIBRARY CACHE)
  find_library(${name}_LIBRARY NAMES ${ARG_NAMES} PATHS ${DEPS_LIB} NO_DEFAULT_PATH NO_CACHE REQUIRED)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${${name}_LIBRARY})
  if(ARG_INCLUDES)
    target_include_directories(${name} SYSTEM INTERFACE ${ARG_INCLUDES})
  endif()
  if(ARG_LINKS)
    target_link_libraries(${name} INTERFACE ${ARG_LINKS})
  endif()
  if(ARG_DEFINES)
    target_compile_definitions(${name} INTERFACE ${ARG_DEFINES})
  endif()
endfunction()

find_library(MINGW_ZLIB NAMES libz.a z REQUIRED)

vornak_static_library(dep_assimp NAMES assimp INCLUDES ${DEPS_INCLUDE} LINKS ${MINGW_ZLIB})
vornak_static_library(dep_linearmath NAMES LinearMath-float64 LinearMath
  INCLUDES ${DEPS_INCLUDE}/bullet DEFINES BT_USE_DOUBLE_PRECISION)
vornak_static_library(dep_bulletcollision NAMES BulletCollision-float64 BulletCollision LINKS dep_linearmath)
vornak_static_library(dep_bulletdynamics NAMES BulletDynamics-float64 BulletDynamics LINKS dep_bulletcollision)
vornak_static_library(dep_imgui NAMES imgui INCLUDES ${DEPS_INCLUDE}/imgui
  LINKS d3d9 dwmapi imm32 gdi32)
vornak_static_library(dep_gmock NAMES gmock INCLUDES ${DEPS_INCLUDE})
vornak_static_library(dep_gtest NAMES gtest INCLUDES ${DEPS_INCLUDE} LINKS dep_gmock)
vornak_static_library(dep_gtest_main NAMES gtest_main LINKS dep_gtest)

add_library(vornak_third_party INTERFACE)
target_link_libraries(vornak_third_party INTERFACE
  dep_assimp dep_bulletdynamics dep_imgui d3dx9_43 d3d9)

# Every program and the plug-in carry their runtime inside: they import
# nothing but system DLLs and Direct3D.
set(VORNAK_STATIC_LINK -static -static-libgcc -static-libstdc++)
