# Options shared by every target of the project's own code.
option(QUELLAN_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
option(QUELLAN_FUZZ "Build only the libFuzzer targets (clang)" OFF)
option(QUELLAN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(QUELLAN_SANITIZE OR QUELLAN_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The program's texts are code page 932 bytes. Clang cannot compile literals
# to it, so clang builds only the fuzz targets, which check structure, not
# the bytes of the Japanese messages.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT QUELLAN_FUZZ)
  message(FATAL_ERROR "Build with g++ or MSVC: clang cannot compile narrow literals to code page 932")
endif()

function(quellan_target_options target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  if(MSVC)
    # Sources are UTF-8; narrow literals become code page 932, as the program's strings are.
    target_compile_options(${target} PRIVATE /W4 /permissive- /source-charset:utf-8 /execution-charset:.932)
    if(QUELLAN_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
      -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
      -finput-charset=UTF-8)
    if(NOT QUELLAN_FUZZ)
      target_compile_options(${target} PRIVATE -fexec-charset=CP932)
    endif()
    if(QUELLAN_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
  if(WIN32 AND NOT MSVC)
    # Shipped programs carry no symbol table: it would more than double their size.
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
  if(WIN32)
    # The ANSI ("A") API throughout; never the wide one by accident.
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX STRICT _WIN32_WINNT=0x0601)
  endif()
endfunction()

# Adds a program's .rc file, which includes resources/version_info.rc: the
# version comes from resources/resources.h, and a debug build says so.
function(quellan_version_resource target rc_file)
  target_sources(${target} PRIVATE ${rc_file})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/resources)
  set_property(SOURCE ${rc_file} APPEND PROPERTY COMPILE_DEFINITIONS $<$<CONFIG:Debug>:QUELLAN_DEBUG_BUILD>)
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS
    ${PROJECT_SOURCE_DIR}/resources/resources.h ${PROJECT_SOURCE_DIR}/resources/version_info.rc ${ARGN})
endfunction()
