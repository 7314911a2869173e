# The resources of setup.exe, compiled once into an object library that setup.exe and the
# test programs needing the real resources link (SETUP_RESOURCES).
set(RES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ICON_DIR ${CMAKE_BINARY_DIR}/icon)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICOTOOL icotool REQUIRED)

# The icon's images in directory order, SIZE:DEPTH; "png" images are stored compressed.
set(ICON_IMAGES 32:4 16:4 4:4 4:32)
foreach(size 6 8 10 12 14 16 20 24 28 32 40 48 56 64)
  list(APPEND ICON_IMAGES ${size}:8 ${size}:32)
endforeach()
list(APPEND ICON_IMAGES 80:png 96:png 112:png 128:png 256:png)

set(icon_renders)
set(icon_parts)
foreach(image IN LISTS ICON_IMAGES)
  string(REPLACE ":" ";" image ${image})
  list(GET image 0 size)
  list(GET image 1 depth)
  set(png ${ICON_DIR}/${size}-${depth}.png)
  set(style)
  if(depth STREQUAL "png")
    list(APPEND icon_parts -r ${png})
  else()
    list(APPEND icon_parts -b ${depth} ${png})
    if(depth LESS 32)
      set(style -s ${RES_DIR}/crisp.css)
    endif()
  endif()
  list(APPEND icon_renders COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} ${style}
       ${RES_DIR}/setup.svg -o ${png})
endforeach()

add_custom_command(OUTPUT ${ICON_DIR}/setup.ico
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ICON_DIR}
  ${icon_renders}
  COMMAND ${ICOTOOL} -c -o ${ICON_DIR}/setup.ico ${icon_parts}
  DEPENDS ${RES_DIR}/setup.svg ${RES_DIR}/crisp.css
  COMMENT "Rendering the setup icon"
  VERBATIM)

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
add_library(setup_resources OBJECT ${RES_DIR}/setup.rc)
target_include_directories(setup_resources PRIVATE ${RES_DIR} ${ICON_DIR} ${PRODUCT_GENERATED_DIR})
# windres reports no dependencies: name every file the script pulls in.
file(GLOB RES_INCLUDED CONFIGURE_DEPENDS ${RES_DIR}/*.rc ${RES_DIR}/*.rci ${RES_DIR}/*.h
     ${RES_DIR}/*.manifest)
set_source_files_properties(${RES_DIR}/setup.rc PROPERTIES
  OBJECT_DEPENDS "${RES_INCLUDED};${ICON_DIR}/setup.ico;${PRODUCT_GENERATED_DIR}/product_name.rch")
set(SETUP_RESOURCES $<TARGET_OBJECTS:setup_resources>)
