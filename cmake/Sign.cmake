# Optional Authenticode signing of the setup executable with osslsigncode (SHA-256).
# Given a certificate (PEM or DER, the chain up to the issuer may follow in the same file) and its
# private key, every link of the executable is followed by signing it in place. Without them,
# nothing is signed and osslsigncode is not needed.
set(LUMIVANE_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (chain) for Authenticode; empty: do not sign")
set(LUMIVANE_SIGN_KEY "" CACHE FILEPATH "Private key of the code-signing certificate")
set(LUMIVANE_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the private key's password, if it has one")
set(LUMIVANE_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server URL; empty: no time stamp")
set(LUMIVANE_SIGN_DESCRIPTION "Lumivane Setup" CACHE STRING "Program name shown in the signature")
set(LUMIVANE_SIGN_URL "" CACHE STRING "Program URL shown in the signature; empty: none")

# lumivane_sign(<target>): signs the target's file after each link when a certificate is given.
function(lumivane_sign target)
  if(NOT LUMIVANE_SIGN_CERT AND NOT LUMIVANE_SIGN_KEY)
    return()
  endif()
  if(NOT LUMIVANE_SIGN_CERT OR NOT LUMIVANE_SIGN_KEY)
    message(FATAL_ERROR "Signing needs both LUMIVANE_SIGN_CERT and LUMIVANE_SIGN_KEY")
  endif()
  foreach(file LUMIVANE_SIGN_CERT LUMIVANE_SIGN_KEY LUMIVANE_SIGN_PASSWORD_FILE)
    if(${file} AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}: no such file: ${${file}}")
    endif()
  endforeach()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)

  set(options -certs "${LUMIVANE_SIGN_CERT}" -key "${LUMIVANE_SIGN_KEY}" -h sha256
              -n "${LUMIVANE_SIGN_DESCRIPTION}")
  if(LUMIVANE_SIGN_PASSWORD_FILE)
    list(APPEND options -readpass "${LUMIVANE_SIGN_PASSWORD_FILE}")
  endif()
  if(LUMIVANE_SIGN_URL)
    list(APPEND options -i "${LUMIVANE_SIGN_URL}")
  endif()
  if(LUMIVANE_SIGN_TIMESTAMP_URL)
    list(APPEND options -ts "${LUMIVANE_SIGN_TIMESTAMP_URL}")
  endif()
  # With a fixed build time the signing time is fixed too, so the signed file can be rebuilt.
  if(LUMIVANE_SOURCE_DATE_EPOCH)
    list(APPEND options -time "${LUMIVANE_SOURCE_DATE_EPOCH}")
  endif()

  # Signed beside the file, then moved over it: a failed signing leaves no half-signed file.
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E remove -f "${file}.signed"
    COMMAND ${OSSLSIGNCODE} sign ${options} -in "${file}" -out "${file}.signed"
    COMMAND ${CMAKE_COMMAND} -E rename "${file}.signed" "${file}"
    COMMENT "Signing $<TARGET_FILE_NAME:${target}> (Authenticode, SHA-256)"
    VERBATIM)
endfunction()
