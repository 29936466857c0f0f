# Resources carried by every program of the build (RCDATA by id).
# Windows: an .rc file compiled into each executable. POSIX: a table compiled
# into olvexcore that platform/posix/module.cpp serves.
set(OLVEX_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${OLVEX_GENERATED})

include(${CMAKE_CURRENT_LIST_DIR}/OlvexHostTools.cmake)

# The action catalog, resource 9001, stored as a compressed block.
add_custom_command(
  OUTPUT ${OLVEX_GENERATED}/catalog.bin
  COMMAND ${OLVEX_LZ_COMMAND} ${CMAKE_SOURCE_DIR}/engine/catalog.txt ${OLVEX_GENERATED}/catalog.bin
  DEPENDS ${CMAKE_SOURCE_DIR}/engine/catalog.txt ${OLVEX_LZ_DEPENDS}
  COMMENT "Compressing the action catalog"
  VERBATIM)

set(OLVEX_RESOURCE_IDS 9001)
set(OLVEX_RESOURCE_FILES ${OLVEX_GENERATED}/catalog.bin)

if(WIN32)
  set(rc_text "")
  foreach(id file IN ZIP_LISTS OLVEX_RESOURCE_IDS OLVEX_RESOURCE_FILES)
    string(APPEND rc_text "${id} RCDATA \"${file}\"\n")
  endforeach()
  # The dialog templates of the prompts.
  string(APPEND rc_text "#include \"${CMAKE_SOURCE_DIR}/platform/win32/prompts.rc\"\n")
  file(WRITE ${OLVEX_GENERATED}/olvex_resources.rc "${rc_text}")
  set_source_files_properties(${OLVEX_GENERATED}/olvex_resources.rc PROPERTIES OBJECT_DEPENDS
                              "${OLVEX_RESOURCE_FILES};${CMAKE_SOURCE_DIR}/platform/win32/prompts.rc")
  function(olvex_add_resources target)
    target_sources(${target} PRIVATE ${OLVEX_GENERATED}/olvex_resources.rc)
    # Source properties belong to a folder: the targets of tests/ need them too.
    set_property(SOURCE ${OLVEX_GENERATED}/olvex_resources.rc TARGET_DIRECTORY ${target} PROPERTY OBJECT_DEPENDS
                 "${OLVEX_RESOURCE_FILES};${CMAKE_SOURCE_DIR}/platform/win32/prompts.rc")
  endfunction()
else()
  add_custom_command(
    OUTPUT ${OLVEX_GENERATED}/compiled_resources.cpp
    COMMAND ${CMAKE_COMMAND} "-DIDS=${OLVEX_RESOURCE_IDS}" "-DFILES=${OLVEX_RESOURCE_FILES}"
            -DOUT=${OLVEX_GENERATED}/compiled_resources.cpp -P ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
    DEPENDS ${OLVEX_RESOURCE_FILES} ${CMAKE_SOURCE_DIR}/cmake/EmbedResources.cmake
    VERBATIM)
  target_sources(olvexcore PRIVATE ${OLVEX_GENERATED}/compiled_resources.cpp)
  function(olvex_add_resources target)
  endfunction()
endif()
