# The native build: the packer, native tests, fuzz targets and benchmarks.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

foreach(dir tools bench fuzz)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()

file(GLOB NORVALE_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
foreach(src ${NORVALE_NATIVE_TESTS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE lzms GTest::gtest_main Threads::Threads)
  if(TARGET packlib)
    target_link_libraries(${name} PRIVATE packlib)
  endif()
  # The version text that the build writes into the stand-in product.
  target_compile_definitions(${name} PRIVATE NORVALE_VERSION_TEXT="${NORVALE_VERSION}")
  if(name MATCHES "^codec_" AND TARGET wimlib_oracle)
    target_link_libraries(${name} PRIVATE wimlib_oracle)
  endif()
  add_test(NAME native.${name} COMMAND ${name} --gtest_output=xml:${CMAKE_BINARY_DIR}/results/native.${name}.xml)
endforeach()

# The compressor of the setup program's fonts (run by the Windows build).
add_executable(pack-resource ${CMAKE_SOURCE_DIR}/resources/pack_resource.cpp)
target_include_directories(pack-resource PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(pack-resource PRIVATE lzms)
set_target_properties(pack-resource PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${NORVALE_OUT})
