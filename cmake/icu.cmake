# The ICU that the module carries: the static common library that scripts/setup
# builds, and the one data item its IDNA converter reads, compiled in.
# Defines the target korvel_icu.
set(KORVEL_UNICODE_VERSION 17.0)

if(DEFINED ENV{KORVEL_ICU_ROOT})
  set(_icu_default $ENV{KORVEL_ICU_ROOT})
elseif(DEFINED ENV{KORVEL_CACHE})
  set(_icu_default $ENV{KORVEL_CACHE}/icu-78)
else()
  set(_icu_default $ENV{HOME}/.cache/korvel/icu-78)
endif()
set(KORVEL_ICU_ROOT ${_icu_default} CACHE PATH "ICU prefix made by scripts/setup")

set(_icu_lib ${KORVEL_ICU_ROOT}/lib/libicuuc.a)
set(_icu_data ${KORVEL_ICU_ROOT}/share/uts46.nrm)
set(_icu_version_header ${KORVEL_ICU_ROOT}/include/unicode/uvernum.h)
foreach(_file ${_icu_lib} ${_icu_data} ${_icu_version_header})
  if(NOT EXISTS ${_file})
    message(FATAL_ERROR "korvel: ${_file} not found. korvel carries ICU's common library and its "
      "UTS #46 data; scripts/setup builds them into ~/.cache/korvel/icu-78. "
      "Run it, or point KORVEL_ICU_ROOT at such a prefix.")
  endif()
endforeach()

file(STRINGS ${_icu_version_header} _icu_major REGEX "^#define U_ICU_VERSION_MAJOR_NUM [0-9]+")
string(REGEX REPLACE ".* ([0-9]+)$" "\\1" _icu_major "${_icu_major}")

set(KORVEL_ICU_DATA_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/generated/icu_data.cpp)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/generated)
execute_process(
  COMMAND ${Python_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tools/pack_icu_data.py
          --name icudt${_icu_major}l --format uts46.nrm=Nrm2 --out ${KORVEL_ICU_DATA_SOURCE} ${_icu_data}
  RESULT_VARIABLE _pack_result)
if(NOT _pack_result EQUAL 0)
  message(FATAL_ERROR "korvel: packing ${_icu_data} failed")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${_icu_data} ${_icu_lib} ${CMAKE_CURRENT_SOURCE_DIR}/tools/pack_icu_data.py)

# The data version must not drift: the verdicts depend on it.
try_run(_icu_run _icu_compile
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/cmake/check_icu.cpp ${KORVEL_ICU_DATA_SOURCE}
  CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${KORVEL_ICU_ROOT}/include"
  LINK_LIBRARIES ${_icu_lib} ${CMAKE_DL_LIBS}
  CXX_STANDARD 20
  COMPILE_OUTPUT_VARIABLE _icu_compile_output
  RUN_OUTPUT_VARIABLE _icu_output)
if(NOT _icu_compile)
  message(FATAL_ERROR "korvel: cannot link a program against ${_icu_lib}:\n${_icu_compile_output}")
endif()
if(NOT _icu_output MATCHES "unicode=${KORVEL_UNICODE_VERSION}\n" OR NOT _icu_output MATCHES "idna=xn--strae-oqa.de")
  message(FATAL_ERROR "korvel: the ICU under ${KORVEL_ICU_ROOT} (ICU ${_icu_major}) does not carry Unicode "
    "${KORVEL_UNICODE_VERSION} with its IDNA data; it reports:\n${_icu_output}"
    "korvel needs ICU 78.x; scripts/setup builds it from Debian's icu source package.")
endif()
message(STATUS "korvel: ICU ${_icu_major} (Unicode ${KORVEL_UNICODE_VERSION}) from ${KORVEL_ICU_ROOT}")

# The data goes into every program as an object file: libicuuc.a refers to its
# symbol, and an archive member placed before that library would not be taken.
add_library(korvel_icu INTERFACE)
target_sources(korvel_icu INTERFACE ${KORVEL_ICU_DATA_SOURCE})
target_include_directories(korvel_icu SYSTEM INTERFACE ${KORVEL_ICU_ROOT}/include)
target_link_libraries(korvel_icu INTERFACE ${_icu_lib} ${CMAKE_DL_LIBS})
