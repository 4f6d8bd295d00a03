# Authenticode signing of the Windows programs with osslsigncode (SHA-256).
#
# TINDRA_SIGNING_CERT / TINDRA_SIGNING_KEY: the publisher's certificate and private
# key (PEM). Without them a development key pair is made once under the build folder
# and used instead; its programs trust only each other.
#
# tindra_sign(<target>): signs the target's file in place after every link. Call it
# before tindra_dist, so that the copy in dist/ is the signed file.
include_guard(GLOBAL)

set(TINDRA_SIGNING_CERT "" CACHE FILEPATH "Code-signing certificate (PEM)")
set(TINDRA_SIGNING_KEY "" CACHE FILEPATH "Private key of the code-signing certificate (PEM)")

find_program(OSSLSIGNCODE osslsigncode REQUIRED)

if(TINDRA_SIGNING_CERT AND TINDRA_SIGNING_KEY)
  set(_tindra_cert ${TINDRA_SIGNING_CERT})
  set(_tindra_key ${TINDRA_SIGNING_KEY})
  foreach(f ${_tindra_cert} ${_tindra_key})
    if(NOT EXISTS ${f})
      message(FATAL_ERROR "signing: ${f} does not exist")
    endif()
  endforeach()
elseif(TINDRA_SIGNING_CERT OR TINDRA_SIGNING_KEY)
  message(FATAL_ERROR "signing: give both TINDRA_SIGNING_CERT and TINDRA_SIGNING_KEY, or neither")
else()
  set(_dir ${CMAKE_BINARY_DIR}/signing)
  set(_tindra_cert ${_dir}/dev-cert.pem)
  set(_tindra_key ${_dir}/dev-key.pem)
  if(NOT EXISTS ${_tindra_cert} OR NOT EXISTS ${_tindra_key})
    find_program(OPENSSL openssl REQUIRED)
    file(MAKE_DIRECTORY ${_dir})
    execute_process(
      COMMAND ${OPENSSL} req -x509 -newkey rsa:3072 -nodes -keyout ${_tindra_key}
              -out ${_tindra_cert} -days 3650 -subj "/CN=Tindra development build"
              -addext "extendedKeyUsage=codeSigning"
      RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "signing: could not create the development key pair in ${_dir}")
    endif()
    file(CHMOD ${_tindra_key} PERMISSIONS OWNER_READ OWNER_WRITE)
    message(STATUS "signing: created a development key pair in ${_dir}")
  endif()
endif()
set(TINDRA_SIGNING_CERT_IN_USE ${_tindra_cert})
set(TINDRA_SIGNING_KEY_IN_USE ${_tindra_key})

function(tindra_sign target)
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${OSSLSIGNCODE} sign -certs ${TINDRA_SIGNING_CERT_IN_USE}
            -key ${TINDRA_SIGNING_KEY_IN_USE} -h sha256 -n Tindra -in ${file} -out ${file}.signed
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file}
    VERBATIM)
  # A new key signs again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TINDRA_SIGNING_CERT_IN_USE})
endfunction()
