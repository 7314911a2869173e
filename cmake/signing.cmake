# Optional Authenticode signing of setup.exe in the build, with the identity given in the
# cache: signed/setup.exe is the signed program, while setup.exe stays unsigned so that two
# builds of the same sources can still be compared byte for byte. tools/sign.sh does the
# signing here and signs the packages with the same identity (tools/sign.sh --build).
set(SETUP_SIGN_PFX "" CACHE FILEPATH "PFX (PKCS#12) file with the signing certificate and key")
set(SETUP_SIGN_CERT "" CACHE FILEPATH "PEM signing certificate (with SETUP_SIGN_KEY or SETUP_SIGN_PKCS11_KEY)")
set(SETUP_SIGN_KEY "" CACHE FILEPATH "PEM private key of SETUP_SIGN_CERT")
# pkcs11: URIs are no paths: kept as strings, so that CMake neither makes them absolute nor
# splits them at their semicolons.
set(SETUP_SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module of the token that holds the signing key")
set(SETUP_SIGN_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the signing key on the token")
set(SETUP_SIGN_PKCS11_CERT "" CACHE STRING "pkcs11: URI of the signing certificate on the token")
set(SETUP_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of the PFX or key, or the token's PIN")
set(SETUP_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server (optional)")
option(SETUP_SIGN_DUAL "Sign with a SHA-1 file digest for old Windows and a nested SHA-256 signature" OFF)

set(sign_token "${SETUP_SIGN_PKCS11_MODULE}${SETUP_SIGN_PKCS11_KEY}${SETUP_SIGN_PKCS11_CERT}")
if(SETUP_SIGN_PFX OR SETUP_SIGN_CERT OR SETUP_SIGN_KEY OR sign_token)
  if(SETUP_SIGN_PFX AND NOT (SETUP_SIGN_CERT OR SETUP_SIGN_KEY OR sign_token))
    set(sign_identity --pfx ${SETUP_SIGN_PFX})
  elseif(SETUP_SIGN_CERT AND SETUP_SIGN_KEY AND NOT (SETUP_SIGN_PFX OR sign_token))
    set(sign_identity --cert ${SETUP_SIGN_CERT} --key ${SETUP_SIGN_KEY})
  elseif(SETUP_SIGN_PKCS11_MODULE AND SETUP_SIGN_PKCS11_KEY AND NOT (SETUP_SIGN_PFX OR SETUP_SIGN_KEY)
         AND (SETUP_SIGN_PKCS11_CERT OR SETUP_SIGN_CERT) AND NOT (SETUP_SIGN_PKCS11_CERT AND SETUP_SIGN_CERT))
    string(REPLACE ";" "$<SEMICOLON>" key_uri "${SETUP_SIGN_PKCS11_KEY}")
    set(sign_identity --pkcs11-module ${SETUP_SIGN_PKCS11_MODULE} --pkcs11-key ${key_uri})
    if(SETUP_SIGN_PKCS11_CERT)
      string(REPLACE ";" "$<SEMICOLON>" cert_uri "${SETUP_SIGN_PKCS11_CERT}")
      list(APPEND sign_identity --pkcs11-cert ${cert_uri})
    else()
      list(APPEND sign_identity --cert ${SETUP_SIGN_CERT})
    endif()
  else()
    message(FATAL_ERROR "Signing needs one identity: SETUP_SIGN_PFX; or SETUP_SIGN_CERT and "
                        "SETUP_SIGN_KEY; or SETUP_SIGN_PKCS11_MODULE and SETUP_SIGN_PKCS11_KEY with "
                        "SETUP_SIGN_PKCS11_CERT or SETUP_SIGN_CERT")
  endif()
  if(SETUP_SIGN_PASSWORD_FILE)
    list(APPEND sign_identity --password-file ${SETUP_SIGN_PASSWORD_FILE})
  endif()
  set(sign_files ${SETUP_SIGN_PFX} ${SETUP_SIGN_CERT} ${SETUP_SIGN_KEY} ${SETUP_SIGN_PKCS11_MODULE}
                 ${SETUP_SIGN_PASSWORD_FILE})
  foreach(file IN LISTS sign_files)
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "Signing: ${file} not found")
    endif()
  endforeach()
  if(SETUP_SIGN_TIMESTAMP_URL)
    list(APPEND sign_identity --timestamp ${SETUP_SIGN_TIMESTAMP_URL})
  endif()
  if(SETUP_SIGN_DUAL)
    list(APPEND sign_identity --dual)
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)

  set(SIGNED_SETUP ${CMAKE_BINARY_DIR}/signed/setup.exe)
  add_custom_command(OUTPUT ${SIGNED_SETUP}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/sign.sh ${sign_identity} --out ${CMAKE_BINARY_DIR}/signed
            $<TARGET_FILE:setup>
    DEPENDS setup ${CMAKE_SOURCE_DIR}/tools/sign.sh ${sign_files}
    COMMENT "Signing setup.exe"
    VERBATIM)
  add_custom_target(setup_signed ALL DEPENDS ${SIGNED_SETUP})
endif()
