# The firmware content every program carries: generated sample images unless a release names
# real files, the property texts and release notes, and (portable builds) a generated lookup table.
set(ZT_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${ZT_GENERATED_DIR})

set(ZT_SAMPLE_HEX ${ZT_GENERATED_DIR}/sample_application.hex)
set(ZT_SAMPLE_FLASH ${ZT_GENERATED_DIR}/sample_flash.bin)
add_custom_command(
    OUTPUT ${ZT_SAMPLE_HEX} ${ZT_SAMPLE_FLASH}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen_sample_firmware.py
            --hex ${ZT_SAMPLE_HEX} --flash ${ZT_SAMPLE_FLASH}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/gen_sample_firmware.py
    COMMENT "Generating sample firmware images" VERBATIM)

if(ZT_APPLICATION_HEX)
    set(ZT_HEX_FILE ${ZT_APPLICATION_HEX})
else()
    set(ZT_HEX_FILE ${ZT_SAMPLE_HEX})
endif()
if(ZT_FLASH_IMAGE)
    set(ZT_FLASH_FILE ${ZT_FLASH_IMAGE})
else()
    set(ZT_FLASH_FILE ${ZT_SAMPLE_FLASH})
endif()

# A build never embeds an image it could not send: the check that outside files get, at build time.
set(ZT_IMAGES_CHECKED ${ZT_GENERATED_DIR}/images_checked.stamp)
add_custom_command(
    OUTPUT ${ZT_IMAGES_CHECKED}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check_images.py
            --hex ${ZT_HEX_FILE} --flash ${ZT_FLASH_FILE} --stamp ${ZT_IMAGES_CHECKED}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/check_images.py ${ZT_HEX_FILE} ${ZT_FLASH_FILE}
    COMMENT "Checking the images to embed" VERBATIM)

set(ZT_UNIT_TEXT ${CMAKE_SOURCE_DIR}/resources/unit.properties)
set(ZT_UPDATER_TEXT ${CMAKE_SOURCE_DIR}/resources/updater.properties)
set(ZT_NOTES_TEXT ${CMAKE_SOURCE_DIR}/resources/build_notes.txt)

# name|type|file lines for the embedding tool and the resource script.
set(ZT_RESOURCE_LIST
    "UNIT|PROPERTIES|${ZT_UNIT_TEXT}"
    "UPDATER|PROPERTIES|${ZT_UPDATER_TEXT}"
    "P32_APPLICATION|HEX|${ZT_HEX_FILE}"
    "P32_FLASH|BIN|${ZT_FLASH_FILE}"
    "BUILD_NOTES|NOTES|${ZT_NOTES_TEXT}")
set(ZT_RESOURCE_FILES ${ZT_UNIT_TEXT} ${ZT_UPDATER_TEXT} ${ZT_HEX_FILE} ${ZT_FLASH_FILE} ${ZT_NOTES_TEXT})

if(WIN32)
    set(ZT_CONTENT_RC ${ZT_GENERATED_DIR}/content.rc)
    add_custom_command(
        OUTPUT ${ZT_CONTENT_RC}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/embed_resources.py --rc ${ZT_CONTENT_RC}
                --strings ${CMAKE_SOURCE_DIR}/ui/ui_strings.def ${ZT_RESOURCE_LIST}
        DEPENDS ${CMAKE_SOURCE_DIR}/tools/embed_resources.py ${CMAKE_SOURCE_DIR}/ui/ui_strings.def
                ${ZT_RESOURCE_FILES} ${ZT_IMAGES_CHECKED}
        COMMENT "Writing the content resource script" VERBATIM)
else()
    set(ZT_EMBEDDED_CPP ${ZT_GENERATED_DIR}/embedded_resources.cpp)
    add_custom_command(
        OUTPUT ${ZT_EMBEDDED_CPP}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/embed_resources.py --cpp ${ZT_EMBEDDED_CPP}
                ${ZT_RESOURCE_LIST}
        DEPENDS ${CMAKE_SOURCE_DIR}/tools/embed_resources.py ${ZT_RESOURCE_FILES} ${ZT_IMAGES_CHECKED}
        COMMENT "Embedding content" VERBATIM)
endif()

# Targets in other folders depend on these, so the generated files are made once, here.
add_custom_target(sample_firmware ALL DEPENDS ${ZT_SAMPLE_HEX} ${ZT_SAMPLE_FLASH})
if(WIN32)
    add_custom_target(zt_content_rc DEPENDS ${ZT_CONTENT_RC})
    set_source_files_properties(${ZT_CONTENT_RC} PROPERTIES OBJECT_DEPENDS "${ZT_RESOURCE_FILES}")
endif()
