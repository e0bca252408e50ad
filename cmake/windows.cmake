# The Windows build: the setup program, the stand-in product and the Windows
# tests, all linked -static so that they import system DLLs only.
include(${CMAKE_CURRENT_LIST_DIR}/delay-import.cmake)

add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
set(NORVALE_WIN_LINK -static -municode)

# DLLs outside the always-System32 set are delay-loaded (see delay-import.cmake).
set(NORVALE_DELAY_LIBS)
foreach(dll gdiplus dwmapi uxtheme shcore version)
  norvale_delay_import(${dll} lib)
  list(APPEND NORVALE_DELAY_LIBS ${lib})
endforeach()
set(NORVALE_SYSTEM_LIBS kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 shlwapi comdlg32 uuid)

# Everything of the setup program but its entry point, so the tests can link it.
file(GLOB NORVALE_CORE_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/package/*.cpp ${CMAKE_SOURCE_DIR}/system/*.cpp
     ${CMAKE_SOURCE_DIR}/toolkit/*.cpp ${CMAKE_SOURCE_DIR}/window/*.cpp)
list(REMOVE_ITEM NORVALE_CORE_SOURCES ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_SOURCE_DIR}/app/terminate.cpp)
add_library(setupcore STATIC ${NORVALE_CORE_SOURCES})
target_include_directories(setupcore PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(setupcore PUBLIC package_format lzms_decode ${NORVALE_DELAY_LIBS} delayimp ${NORVALE_SYSTEM_LIBS})
# Debug information for the program's own code: it goes to the stub's
# separate debug file (below), so a crash address maps to a file and line.
target_compile_options(setupcore PRIVATE -g)
# Every function and datum in a section of its own, so that the link drops
# what the program never calls. The window, toolkit, system and launch code
# spends its time in GDI+ and the system, not in its own instructions, and so
# does the package's index, names and uninstaller: built for size. The codec
# and the extraction (blocks, writer, transaction) keep the speed options.
target_compile_options(setupcore PRIVATE -ffunction-sections -fdata-sections)
file(GLOB NORVALE_COLD_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/system/*.cpp
     ${CMAKE_SOURCE_DIR}/toolkit/*.cpp ${CMAKE_SOURCE_DIR}/window/*.cpp)
foreach(cold reader damaged_package uninstaller entry_name)
  list(APPEND NORVALE_COLD_SOURCES ${CMAKE_SOURCE_DIR}/package/${cold}.cpp)
endforeach()
set_property(SOURCE ${NORVALE_COLD_SOURCES} APPEND PROPERTY COMPILE_OPTIONS -Os)
target_compile_options(lzms_decode PRIVATE -ffunction-sections -fdata-sections)
# The package format library reads a few kilobytes of head once per run: for
# size too. (The link keeps every function that has unwind information, so
# the packer's writers beside the readers stay in the program all the same,
# a few hundred bytes each at -Os.)
target_compile_options(package_format PRIVATE -Os -ffunction-sections -fdata-sections)

# Resources (icon, images, fonts, manifest, version block) when present.
set(NORVALE_RC ${CMAKE_SOURCE_DIR}/resources/setup.rc)
set(NORVALE_RC_SOURCES)
if(EXISTS ${NORVALE_RC})
  include(${CMAKE_SOURCE_DIR}/resources/resources.cmake OPTIONAL)
  list(APPEND NORVALE_RC_SOURCES ${NORVALE_RC})
endif()

add_executable(setup-stub WIN32 ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_SOURCE_DIR}/app/terminate.cpp ${NORVALE_RC_SOURCES})
target_link_libraries(setup-stub PRIVATE setupcore)
target_compile_options(setup-stub PRIVATE -g)
target_link_options(setup-stub PRIVATE ${NORVALE_WIN_LINK} -mwindows -Wl,--gc-sections)
set_target_properties(setup-stub PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${NORVALE_OUT})
# The stub travels in every setup file and every uninstall.exe: it ships
# without debug information, which stays beside it in setup-stub.exe.debug
# (named by its debug link, with a checksum), so that crash addresses can
# still be read.
add_custom_command(TARGET setup-stub POST_BUILD
  COMMAND x86_64-w64-mingw32-objcopy --only-keep-debug setup-stub.exe setup-stub.exe.debug
  COMMAND x86_64-w64-mingw32-objcopy --strip-all --add-gnu-debuglink=setup-stub.exe.debug setup-stub.exe
  WORKING_DIRECTORY ${NORVALE_OUT}
  BYPRODUCTS ${NORVALE_OUT}/setup-stub.exe.debug
  VERBATIM)

# The backdrop as a PNG, for the demo (tests/demo/30-backdrop.sh).
add_executable(backdrop-dump ${CMAKE_SOURCE_DIR}/tests/win/tools/backdrop_dump.cpp ${NORVALE_RC_SOURCES})
target_link_libraries(backdrop-dump PRIVATE setupcore)
target_link_options(backdrop-dump PRIVATE ${NORVALE_WIN_LINK})
set_target_properties(backdrop-dump PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${NORVALE_OUT})

# Stand-in product and other Windows programs that the tests and demo use.
if(EXISTS ${CMAKE_SOURCE_DIR}/fixtures/CMakeLists.txt)
  add_subdirectory(fixtures)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/win/CMakeLists.txt)
  add_subdirectory(bench/win)
endif()

# Windows tests: GoogleTest built with this toolchain, one program per file.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(GLOB NORVALE_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
file(GLOB NORVALE_WIN_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/support/*.cpp)
# Compiled once for all test programs: the shared test helpers and the resources.
add_library(wintestsupport STATIC ${NORVALE_WIN_TEST_SUPPORT})
target_include_directories(wintestsupport PUBLIC ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(wintestsupport PUBLIC setupcore)
target_compile_definitions(wintestsupport PRIVATE NORVALE_OUT_DIR="${NORVALE_OUT}")
set(NORVALE_TEST_RC)
if(NORVALE_RC_SOURCES)
  add_library(testresources OBJECT ${NORVALE_RC_SOURCES})
  set(NORVALE_TEST_RC $<TARGET_OBJECTS:testresources>)
endif()
foreach(src ${NORVALE_WIN_TESTS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} ${NORVALE_TEST_RC})
  target_link_libraries(${name} PRIVATE wintestsupport setupcore GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
  # gtest_main supplies a narrow main(), so no -municode here.
  target_link_options(${name} PRIVATE -static)
  target_compile_definitions(${name} PRIVATE NORVALE_OUT_DIR="${NORVALE_OUT}")
  if(name STREQUAL "window_access_test")
    target_link_libraries(${name} PRIVATE oleacc)
  endif()
  if(name MATCHES "^package_|_rollback_")
    target_compile_definitions(${name} PRIVATE NORVALE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
  add_test(NAME win.${name} COMMAND ${name} --gtest_output=xml:results/win.${name}.xml
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endforeach()

# A signed setup file for the package reader's tests.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/fixtures/signed-setup.exe
  COMMAND ${CMAKE_SOURCE_DIR}/tests/win/fixtures/make-signed-setup.sh $<TARGET_FILE:setup-stub>
          ${CMAKE_BINARY_DIR}/fixtures/signed-setup.exe
  DEPENDS setup-stub ${CMAKE_SOURCE_DIR}/tests/win/fixtures/make-signed-setup.sh)
add_custom_target(signed_fixture ALL DEPENDS ${CMAKE_BINARY_DIR}/fixtures/signed-setup.exe)

# Programs of the DLL-planting test.
add_library(planted SHARED ${CMAKE_SOURCE_DIR}/tests/win/programs/planted_dll.c)
set_target_properties(planted PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)
target_link_options(planted PRIVATE -static)
add_executable(load-beside ${CMAKE_SOURCE_DIR}/tests/win/programs/load_beside.c)
set_target_properties(load-beside PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)
target_link_options(load-beside PRIVATE -static -municode)
add_executable(planted-exe ${CMAKE_SOURCE_DIR}/tests/win/programs/planted_exe.c)
set_target_properties(planted-exe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)
target_link_options(planted-exe PRIVATE -static -municode)

# A cabinet.dll with the Compression API's decompressor, for tests/scripts/package_system_decoder.sh.
add_library(standin-cabinet SHARED ${CMAKE_SOURCE_DIR}/tests/win/programs/standin_cabinet.cpp)
target_link_libraries(standin-cabinet PRIVATE lzms_decode)
set_target_properties(standin-cabinet PROPERTIES PREFIX "" OUTPUT_NAME cabinet
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs/standin-cabinet)
target_link_options(standin-cabinet PRIVATE -static)

# The screen-reader stand-in of the accessibility test (tests/scripts/window_accessibility.sh).
add_executable(msaa-client ${CMAKE_SOURCE_DIR}/tests/win/programs/msaa_client.cpp)
set_target_properties(msaa-client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/programs)
target_link_libraries(msaa-client PRIVATE oleacc ole32 oleaut32 uuid)
target_link_options(msaa-client PRIVATE -static)
