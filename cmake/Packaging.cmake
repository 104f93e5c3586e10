# The release archive, as a Windows user downloads it: one folder holding
# the two programs and the texts for reading, nothing to install.
#   Quellan-<version>-win64/Quellan.exe, tdump.exe   the programs
#   README-ja.txt   the Japanese read-me (code page 932, CR LF as checked out)
#   README.txt      this project's README
#   LICENSE.txt     the licence
# The texts get CR LF line ends, for every Windows viewer.
set(quellan_release_texts)
foreach(text README.md LICENSE)
  get_filename_component(name ${text} NAME_WE)
  set(output ${PROJECT_BINARY_DIR}/release/${name}.txt)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/${text} -DOUTPUT=${output}
            -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/${text} ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
    COMMENT "Writing ${name}.txt with CR LF line ends")
  list(APPEND quellan_release_texts ${output})
endforeach()
add_custom_target(release_texts ALL DEPENDS ${quellan_release_texts})

install(TARGETS Quellan tdump RUNTIME DESTINATION .)
install(FILES docs/README-ja.txt ${quellan_release_texts} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quellan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Quellan-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES OFF) # already stripped when linked
include(CPack)
