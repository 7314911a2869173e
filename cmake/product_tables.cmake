# The built-in tables of what setup.exe installs, generated at configure time from a product
# file (JSON, see product/README.md) so that a release engineer describes another product
# without touching C++. The whole file is checked before anything is written: a bad file
# fails the configure step with the file, the field and the fault, and leaves the tables of
# the previous configure as they were.
#
# Sets SETUP_TABLES_SOURCE (the generated C++ tables) and PRODUCT_GENERATED_DIR (holding
# product_name.rch, the first product's name for the version resource).
set(SETUP_PRODUCT_FILE ${CMAKE_SOURCE_DIR}/product/quorvel.json CACHE FILEPATH
    "Product file (JSON) describing what setup.exe installs")
set(PRODUCT_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(SETUP_TABLES_SOURCE ${PRODUCT_GENERATED_DIR}/setup_tables.cpp)
set(PRODUCT_OPERATIONS INSTALL INSTALLUPD MINPATCH MAJPATCH DEFAULT)
set(PRODUCT_FIELDS downloadBase operation productName properties productVersion askFirst
    uiLevel languages)
set(PRODUCT_PACKAGE_FIELDS package9x packageX86 packageX64 packageArm64
    patch9x patchX86 patchX64 patchArm64)

function(product_fail where what)
  message(FATAL_ERROR "Bad product file ${SETUP_PRODUCT_FILE}\n  ${where}: ${what}")
endfunction()

# Sets OUT to the object at PATH (ARGN) in JSON, named WHERE in messages, after checking that
# it is an object with no member outside KNOWN: a misspelt field would otherwise silently
# read as absent.
function(product_object json where known out)
  set(object "${json}")
  if(ARGN)
    string(JSON type ERROR_VARIABLE absent TYPE "${json}" ${ARGN})
    if(absent)
      product_fail("${where}" "missing (an object is required)")
    elseif(NOT type STREQUAL "OBJECT")
      product_fail("${where}" "must be an object, not ${type}")
    endif()
    string(JSON object GET "${json}" ${ARGN})
  endif()
  string(JSON count LENGTH "${object}")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      string(JSON key MEMBER "${object}" ${i})
      if(NOT key IN_LIST known)
        string(REPLACE ";" ", " known "${known}")
        string(REGEX REPLACE "^[.]" "" field "${where}.${key}")
        product_fail("${field}" "unknown field (known: ${known})")
      endif()
    endforeach()
  endif()
  set(${out} "${object}" PARENT_SCOPE)
endfunction()

# Sets OUT to the index of the last element of the array at PATH (ARGN) in JSON, failing with
# WHAT unless it is an array of one or more elements.
function(product_array json where what out)
  string(JSON type ERROR_VARIABLE absent TYPE "${json}" ${ARGN})
  if(type STREQUAL "ARRAY")
    string(JSON count LENGTH "${json}" ${ARGN})
  endif()
  if(absent OR NOT type STREQUAL "ARRAY" OR count EQUAL 0)
    product_fail("${where}" "${what}")
  endif()
  math(EXPR last "${count} - 1")
  set(${out} ${last} PARENT_SCOPE)
endfunction()

# Sets OUT to the JSON type of member KEY, NULL when it is absent.
function(product_type json key out)
  string(JSON type ERROR_VARIABLE absent TYPE "${json}" "${key}")
  if(absent)
    set(type NULL)
  endif()
  set(${out} ${type} PARENT_SCOPE)
endfunction()

# Reads text member KEY into OUT as a C++ expression (a wide literal, or nullptr when absent
# or null) and into OUT_TEXT as plain text. KIND is "file" (a bare file name), "https" (an
# address), "operation" (a keyword) or "text"; REQUIRED refuses null.
function(product_text json where key kind required out)
  product_type("${json}" "${key}" type)
  if(type STREQUAL "NULL")
    if(required)
      product_fail("${where}.${key}" "missing (a text is required)")
    endif()
    set(${out} nullptr PARENT_SCOPE)
    set(${out}_TEXT "" PARENT_SCOPE)
    return()
  endif()
  if(NOT type STREQUAL "STRING")
    product_fail("${where}.${key}" "must be a text or null, not ${type}")
  endif()
  string(JSON value GET "${json}" "${key}")
  if(value STREQUAL "")
    product_fail("${where}.${key}" "is empty (leave it out or use null for none)")
  elseif(kind STREQUAL "file" AND value MATCHES "[/:]|\\\\")
    product_fail("${where}.${key}" "'${value}' holds a path; a bare file name is wanted")
  elseif(kind STREQUAL "https" AND NOT value MATCHES "^https://[^/]")
    product_fail("${where}.${key}" "'${value}' is not an https address")
  elseif(kind STREQUAL "operation")
    string(TOUPPER "${value}" keyword)
    if(NOT keyword IN_LIST PRODUCT_OPERATIONS)
      string(REPLACE ";" ", " allowed "${PRODUCT_OPERATIONS}")
      product_fail("${where}.${key}"
                   "unknown operation '${value}' (allowed: ${allowed}, in any case, or null)")
    endif()
  endif()
  set(${out}_TEXT "${value}" PARENT_SCOPE)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  set(${out} "L\"${value}\"" PARENT_SCOPE)
endfunction()

# Reads whole-number member KEY into OUT; DEFAULT (if not empty) stands in for an absent or
# null member. With "boolean" in ARGN, true and false read as 1 and 0.
function(product_integer json where key default out)
  product_type("${json}" "${key}" type)
  if(type STREQUAL "NULL" AND NOT default STREQUAL "")
    set(${out} ${default} PARENT_SCOPE)
    return()
  endif()
  if(type STREQUAL "BOOLEAN" AND "boolean" IN_LIST ARGN)
    string(JSON value GET "${json}" "${key}")
    if(value)
      set(${out} 1 PARENT_SCOPE)
    else()
      set(${out} 0 PARENT_SCOPE)
    endif()
    return()
  endif()
  set(value "")
  if(type STREQUAL "NUMBER")
    string(JSON value GET "${json}" "${key}")
  endif()
  string(LENGTH "${value}" digits)
  if(NOT value MATCHES "^(0|[1-9][0-9]*)$" OR digits GREATER 9)
    set(wanted "a whole number from 0 to 999999999")
    if("boolean" IN_LIST ARGN)
      set(wanted "true, false or ${wanted}")
    endif()
    product_fail("${where}.${key}" "must be ${wanted}")
  endif()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# Reads the language id (a number, or a text such as "0x0409") into OUT.
function(product_language_id json where out)
  product_type("${json}" langId type)
  set(value "")
  if(type STREQUAL "NUMBER" OR type STREQUAL "STRING")
    string(JSON value GET "${json}" langId)
  endif()
  string(LENGTH "${value}" length)
  if(length LESS 11 AND (type STREQUAL "NUMBER" AND value MATCHES "^[0-9]+$" OR
                         type STREQUAL "STRING" AND value MATCHES "^0[xX][0-9a-fA-F]+$"))
    math(EXPR id "${value}" OUTPUT_FORMAT HEXADECIMAL)
  else()
    product_fail("${where}.langId" "'${value}' is not a number (a LANGID such as 1033 or \"0x0409\")")
  endif()
  if(id EQUAL 0 OR id GREATER 65535)
    product_fail("${where}.langId" "${value} is not a language id (from 1 to 0xFFFF; 0 ends the table)")
  endif()
  set(${out} ${id} PARENT_SCOPE)
endfunction()

# Appends the C++ rows of product P's language table, ended by its terminator, to the
# variable named OUT.
function(product_languages json p out)
  set(where "products[${p}].languages")
  product_array("${json}" "${where}" "a product needs a list of one or more languages" last
                products ${p} languages)
  set(rows "")
  foreach(i RANGE ${last})
    set(at "${where}[${i}]")
    product_object("${json}" "${at}" "langId;displayName;${PRODUCT_PACKAGE_FIELDS}" language
                   products ${p} languages ${i})
    product_language_id("${language}" "${at}" id)
    product_text("${language}" "${at}" displayName text ON name)
    set(row "    {${id}, ${name}")
    set(files "")
    foreach(field IN LISTS PRODUCT_PACKAGE_FIELDS)
      product_text("${language}" "${at}" ${field} file OFF file)
      string(APPEND row ", ${file}")
      string(APPEND files "${file_TEXT}")
    endforeach()
    if(files STREQUAL "")
      product_fail("${at}" "names no package and no patch")
    endif()
    string(APPEND rows "${row}},\n")
  endforeach()
  set(${out} "${${out}}${rows}    {},\n" PARENT_SCOPE)
endfunction()

function(generate_product_tables)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${SETUP_PRODUCT_FILE})
  if(NOT EXISTS ${SETUP_PRODUCT_FILE})
    product_fail("file" "not found")
  endif()
  file(READ ${SETUP_PRODUCT_FILE} json)
  string(JSON type ERROR_VARIABLE error TYPE "${json}")
  if(error)
    product_fail("JSON" "${error}")
  endif()
  if(NOT type STREQUAL "OBJECT")
    product_fail("JSON" "the file must hold an object, not ${type}")
  endif()
  product_object("${json}" "" "settings;products" json)
  product_object("${json}" settings
                 "redistBaseUrl;redistFile9x;redistFileNT;minInstallerVersion" settings settings)
  product_text("${settings}" settings redistBaseUrl https ON redist_base)
  product_text("${settings}" settings redistFile9x file ON redist_9x)
  product_text("${settings}" settings redistFileNT file ON redist_nt)
  product_integer("${settings}" settings minInstallerVersion "" min_version)

  product_array("${json}" products "a list of one or more products is required" last products)
  set(languages "")
  set(products "")
  foreach(p RANGE ${last})
    set(at "products[${p}]")
    product_object("${json}" "${at}" "${PRODUCT_FIELDS}" product products ${p})
    product_text("${product}" "${at}" downloadBase https OFF download_base)
    product_text("${product}" "${at}" operation operation OFF operation)
    product_text("${product}" "${at}" productName text ON name)
    product_text("${product}" "${at}" properties text OFF properties)
    product_text("${product}" "${at}" productVersion text OFF version)
    product_integer("${product}" "${at}" askFirst 0 ask_first boolean)
    product_integer("${product}" "${at}" uiLevel 5 ui_level)
    # Every product's language table lies in one array, one after the other (a line per entry).
    string(REGEX MATCHALL "\n" entries "${languages}")
    list(LENGTH entries first_language)
    product_languages("${json}" ${p} languages)
    string(APPEND products "    {${download_base}, ${operation}, ${name}, ${properties}, "
           "${version}, ${ask_first}, ${ui_level}, &kProductLanguages[${first_language}]},\n")
    if(p EQUAL 0)
      set(first_name "${name_TEXT}")
    endif()
  endforeach()
  get_filename_component(source_name ${SETUP_PRODUCT_FILE} NAME)
  string(CONCAT code
    "// Generated from the product file ${source_name} at configure time; edit that file.\n"
    "#include \"install/setup_tables.h\"\n\nnamespace {\n\n"
    "const LanguageEntry kProductLanguages[] = {\n${languages}};\n\n"
    "const ProductEntry kProducts[] = {\n${products}    {},\n};\n\n}  // namespace\n\n"
    "const SetupSettings g_setupSettings = {\n"
    "    ${redist_base},\n    ${redist_9x},\n    ${redist_nt},\n    nullptr,\n    nullptr,\n"
    "    ${min_version},\n    kProducts,\n    0,\n};\n")
  # Resource scripts double a quotation mark and escape a backslash.
  string(REPLACE "\\" "\\\\" first_name "${first_name}")
  string(REPLACE "\"" "\"\"" first_name "${first_name}")
  string(CONCAT name_header "// The first product's name, for the version resource.\n"
         "#define PRODUCT_NAME \"${first_name}\"\n")

  # Only now that everything is valid; unchanged files keep their time and cause no rebuild.
  file(WRITE ${PRODUCT_GENERATED_DIR}/setup_tables.cpp.new "${code}")
  file(WRITE ${PRODUCT_GENERATED_DIR}/product_name.rch.new "${name_header}")
  foreach(generated setup_tables.cpp product_name.rch)
    file(COPY_FILE ${PRODUCT_GENERATED_DIR}/${generated}.new ${PRODUCT_GENERATED_DIR}/${generated}
         ONLY_IF_DIFFERENT)
    file(REMOVE ${PRODUCT_GENERATED_DIR}/${generated}.new)
  endforeach()
endfunction()

generate_product_tables()
