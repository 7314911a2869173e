# Optional Authenticode signing of setup.exe in the build, with the identity given in the
# cache: signed/setup.exe is the signed program, while setup.exe stays unsigned so that two
# builds of the same sources can still be compared byte for byte. tools/sign.sh does the
# signing here and signs the packages with the same identity (tools/sign.sh --build).
set(SETUP_SIGN_PFX "" CACHE FILEPATH "PFX (PKCS#12) file with the signing certificate and key")
set(SETUP_SIGN_CERT "" CACHE FILEPATH "PEM signing certificate (with SETUP_SIGN_KEY)")
set(SETUP_SIGN_KEY "" CACHE FILEPATH "PEM private key of SETUP_SIGN_CERT")
set(SETUP_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of the PFX or key")
set(SETUP_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server (optional)")

if(SETUP_SIGN_PFX OR SETUP_SIGN_CERT OR SETUP_SIGN_KEY)
  if(SETUP_SIGN_PFX AND NOT (SETUP_SIGN_CERT OR SETUP_SIGN_KEY))
    set(sign_identity --pfx ${SETUP_SIGN_PFX})
  elseif(SETUP_SIGN_CERT AND SETUP_SIGN_KEY AND NOT SETUP_SIGN_PFX)
    set(sign_identity --cert ${SETUP_SIGN_CERT} --key ${SETUP_SIGN_KEY})
  else()
    message(FATAL_ERROR "Signing needs either SETUP_SIGN_PFX or both SETUP_SIGN_CERT and "
                        "SETUP_SIGN_KEY")
  endif()
  if(SETUP_SIGN_PASSWORD_FILE)
    list(APPEND sign_identity --password-file ${SETUP_SIGN_PASSWORD_FILE})
  endif()
  foreach(file IN ITEMS ${SETUP_SIGN_PFX} ${SETUP_SIGN_CERT} ${SETUP_SIGN_KEY}
                        ${SETUP_SIGN_PASSWORD_FILE})
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "Signing: ${file} not found")
    endif()
  endforeach()
  if(SETUP_SIGN_TIMESTAMP_URL)
    list(APPEND sign_identity --timestamp ${SETUP_SIGN_TIMESTAMP_URL})
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)

  set(SIGNED_SETUP ${CMAKE_BINARY_DIR}/signed/setup.exe)
  add_custom_command(OUTPUT ${SIGNED_SETUP}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/sign.sh ${sign_identity} --out ${CMAKE_BINARY_DIR}/signed
            $<TARGET_FILE:setup>
    DEPENDS setup ${CMAKE_SOURCE_DIR}/tools/sign.sh ${SETUP_SIGN_PFX} ${SETUP_SIGN_CERT}
            ${SETUP_SIGN_KEY} ${SETUP_SIGN_PASSWORD_FILE}
    COMMENT "Signing setup.exe"
    VERBATIM)
  add_custom_target(setup_signed ALL DEPENDS ${SIGNED_SETUP})
endif()
