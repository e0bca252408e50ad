# Compiling resources/setup.rc: the version text and its numeric parts come
# from the NORVALE_VERSION cache variable through a generated header, and the
# .rc names its files relative to resources/.
set(NORVALE_RES_DIR ${CMAKE_SOURCE_DIR}/resources)
set(NORVALE_RES_GEN ${CMAKE_BINARY_DIR}/resources-generated)

# "0.1.69b" -> 0,1,69,0: the leading dotted numbers, missing parts 0.
set(_norvale_parts 0 0 0 0)
if(NORVALE_VERSION MATCHES "^([0-9]+)(\\.([0-9]+))?(\\.([0-9]+))?(\\.([0-9]+))?")
  foreach(i 1 3 5 7)
    math(EXPR slot "(${i} - 1) / 2")
    if(NOT "${CMAKE_MATCH_${i}}" STREQUAL "")
      list(REMOVE_AT _norvale_parts ${slot})
      list(INSERT _norvale_parts ${slot} ${CMAKE_MATCH_${i}})
    endif()
  endforeach()
endif()
list(GET _norvale_parts 0 NORVALE_VERSION_MAJOR)
list(GET _norvale_parts 1 NORVALE_VERSION_MINOR)
list(GET _norvale_parts 2 NORVALE_VERSION_PATCH)
list(GET _norvale_parts 3 NORVALE_VERSION_BUILD)
foreach(part MAJOR MINOR PATCH BUILD)
  if(NORVALE_VERSION_${part} GREATER 65535)
    message(FATAL_ERROR "NORVALE_VERSION ${NORVALE_VERSION}: part ${NORVALE_VERSION_${part}} exceeds 65535")
  endif()
endforeach()
string(REPLACE "\\" "\\\\" _norvale_version_rc "${NORVALE_VERSION}")
string(REPLACE "\"" "\"\"" _norvale_version_rc "${_norvale_version_rc}")

file(CONFIGURE OUTPUT ${NORVALE_RES_GEN}/norvale_version_rc.h CONTENT
"// Generated from NORVALE_VERSION by resources/resources.cmake.
#define NORVALE_VERSION_TEXT \"@_norvale_version_rc@\"
#define NORVALE_VERSION_MAJOR @NORVALE_VERSION_MAJOR@
#define NORVALE_VERSION_MINOR @NORVALE_VERSION_MINOR@
#define NORVALE_VERSION_PATCH @NORVALE_VERSION_PATCH@
#define NORVALE_VERSION_BUILD @NORVALE_VERSION_BUILD@
" @ONLY)

# The fonts go in LZMS-compressed (toolkit/assets.cpp expands them at start):
# a third of their size in every setup file. The compressor is a program of
# the native build, which `./run` builds first; each font is compressed when
# it or the compressor changed, and a changed font configures anew.
set(_norvale_pack_resource ${NORVALE_OUT}/pack-resource)
if(NOT EXISTS ${_norvale_pack_resource})
  message(FATAL_ERROR "${_norvale_pack_resource} is missing: build the native programs first (./run build)")
endif()
file(GLOB _norvale_fonts CONFIGURE_DEPENDS ${NORVALE_RES_DIR}/fonts/*.ttf)
file(MAKE_DIRECTORY ${NORVALE_RES_GEN}/fonts)
set(_norvale_packed_fonts)
foreach(font ${_norvale_fonts})
  get_filename_component(name ${font} NAME)
  set(packed ${NORVALE_RES_GEN}/fonts/${name}.lzms)
  if(NOT EXISTS ${packed} OR ${font} IS_NEWER_THAN ${packed} OR ${_norvale_pack_resource} IS_NEWER_THAN ${packed})
    execute_process(COMMAND ${_norvale_pack_resource} ${font} ${packed} RESULT_VARIABLE _norvale_rc)
    if(NOT _norvale_rc EQUAL 0)
      message(FATAL_ERROR "compressing ${font} failed")
    endif()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${font})
  list(APPEND _norvale_packed_fonts ${packed})
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_norvale_pack_resource})

# Generated files first: "fonts/X.ttf.lzms" is found in the generated folder.
string(APPEND CMAKE_RC_FLAGS " -I ${NORVALE_RES_GEN} -I ${NORVALE_RES_DIR}")

# The files the .rc pulls in are not #includes, so name them for rebuilds.
file(GLOB _norvale_res_files CONFIGURE_DEPENDS ${NORVALE_RES_DIR}/art/*)
set_source_files_properties(${NORVALE_RES_DIR}/setup.rc PROPERTIES OBJECT_DEPENDS
  "${_norvale_res_files};${_norvale_packed_fonts};${NORVALE_RES_DIR}/manifest.xml;${NORVALE_RES_GEN}/norvale_version_rc.h")

# The Windows tests read the same header to know the version they must find.
include_directories(${NORVALE_RES_GEN})
