# Authenticode signing of the Windows programs with osslsigncode (SHA-256), and the
# public keys each program trusts.
#
# TINDRA_SIGNING_CERT / TINDRA_SIGNING_KEY: the publisher's certificate and private
# key (PEM files). They sign only the programs that ship (tindra_sign(... SHIPS));
# without them those are signed with the development key too.
# TINDRA_PKCS11_MODULE: a PKCS#11 module (a hardware token's library); the key is then
# a pkcs11: URI of a key inside the token, and the certificate a pkcs11: URI or a PEM
# file. TINDRA_PKCS11_PIN_FILE: a file holding the token's PIN (else the URI's
# pin-value, or no login).
# TINDRA_TRUSTED_CERTS: further certificates (PEM, a list) whose public keys the
# shipped programs trust besides their own signer's: the publisher's next key, so
# that this release accepts the next one signed with it.
#
# Every other program (tests, probes, tools, test copies of the shipped ones) is
# signed with the development key pair, made once under the build folder, in every
# build; they trust their own signer and the test-only next key (next-test-*.pem,
# with which the Wine tests sign a key rollover).
#
# tindra_sign(<target> [SHIPS]): after every link, strips the target's file, keeps its
# symbols beside it (<file>.debug, named in the file's debug link) and signs it in
# place; builds in the keys it trusts. Call it before tindra_dist, so that the copy in
# dist/ is the signed file.
include_guard(GLOBAL)

set(TINDRA_SIGNING_CERT "" CACHE STRING "Code-signing certificate (PEM file or pkcs11: URI)")
set(TINDRA_SIGNING_KEY "" CACHE STRING "Private key of the code-signing certificate (PEM file or pkcs11: URI)")
set(TINDRA_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module holding the signing key")
set(TINDRA_PKCS11_PIN_FILE "" CACHE FILEPATH "File holding the PIN of the PKCS#11 token")
set(TINDRA_TRUSTED_CERTS "" CACHE STRING
    "Certificates (PEM, ;-separated) whose keys the shipped programs trust besides their signer's")

find_program(OSSLSIGNCODE osslsigncode REQUIRED)
find_program(OPENSSL openssl REQUIRED)

set(_tindra_signing_dir ${CMAKE_BINARY_DIR}/signing)
file(MAKE_DIRECTORY ${_tindra_signing_dir})

# A self-signed code-signing key pair <name>-cert.pem / <name>-key.pem, made once.
function(_tindra_key_pair name subject)
  set(cert ${_tindra_signing_dir}/${name}-cert.pem)
  set(key ${_tindra_signing_dir}/${name}-key.pem)
  if(EXISTS ${cert} AND EXISTS ${key})
    return()
  endif()
  execute_process(
    COMMAND ${OPENSSL} req -x509 -newkey rsa:3072 -nodes -keyout ${key} -out ${cert}
            -days 3650 -subj "/CN=${subject}" -addext "extendedKeyUsage=codeSigning"
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "signing: could not create the key pair ${name} in ${_tindra_signing_dir}")
  endif()
  file(CHMOD ${key} PERMISSIONS OWNER_READ OWNER_WRITE)
  message(STATUS "signing: created the key pair ${name} in ${_tindra_signing_dir}")
endfunction()

_tindra_key_pair(dev "Tindra development build")
_tindra_key_pair(next-test "Tindra test of a key rollover")
set(TINDRA_DEV_CERT ${_tindra_signing_dir}/dev-cert.pem)
set(TINDRA_DEV_KEY ${_tindra_signing_dir}/dev-key.pem)

# The osslsigncode arguments that name a certificate and a key, in <out>. A pkcs11:
# URI separates its attributes with ";", CMake's list separator: it is passed on as
# $<SEMICOLON>, which a custom command turns back into one argument.
function(_tindra_signer_args out cert key)
  string(REPLACE ";" "$<SEMICOLON>" cert "${cert}")
  string(REPLACE ";" "$<SEMICOLON>" key "${key}")
  if(key MATCHES "^pkcs11:")
    if(NOT TINDRA_PKCS11_MODULE)
      message(FATAL_ERROR "signing: the key ${key} is a pkcs11: URI; give its module (TINDRA_PKCS11_MODULE)")
    endif()
    set(args -pkcs11module ${TINDRA_PKCS11_MODULE})
    if(cert MATCHES "^pkcs11:")
      list(APPEND args -pkcs11cert "${cert}")
    else()
      list(APPEND args -certs ${cert})
    endif()
    list(APPEND args -key "${key}")
    if(TINDRA_PKCS11_PIN_FILE)
      list(APPEND args -readpass ${TINDRA_PKCS11_PIN_FILE})
    endif()
  elseif(cert MATCHES "^pkcs11:")
    message(FATAL_ERROR "signing: a certificate in a token (${cert}) needs its key there too")
  else()
    set(args -certs ${cert} -key ${key})
  endif()
  set(${out} ${args} PARENT_SCOPE)
endfunction()

if(TINDRA_SIGNING_CERT AND TINDRA_SIGNING_KEY)
  set(TINDRA_SHIPPING_CERT "${TINDRA_SIGNING_CERT}")
  set(TINDRA_SHIPPING_KEY "${TINDRA_SIGNING_KEY}")
  foreach(name SIGNING_CERT SIGNING_KEY PKCS11_MODULE PKCS11_PIN_FILE)
    set(f "${TINDRA_${name}}")
    if(f AND NOT f MATCHES "^pkcs11:" AND NOT EXISTS "${f}")
      message(FATAL_ERROR "signing: ${f} does not exist")
    endif()
  endforeach()
elseif(TINDRA_SIGNING_CERT OR TINDRA_SIGNING_KEY)
  message(FATAL_ERROR "signing: give both TINDRA_SIGNING_CERT and TINDRA_SIGNING_KEY, or neither")
else()
  set(TINDRA_SHIPPING_CERT ${TINDRA_DEV_CERT})
  set(TINDRA_SHIPPING_KEY ${TINDRA_DEV_KEY})
endif()

# <out>.c: the table of update/win32/trusted_keys.h holding the public keys of `certs`,
# taken out by openssl as DER SubjectPublicKeyInfo. Rewritten only when it changes.
function(_tindra_key_table out)
  set(blobs "")
  set(entries "")
  set(n 0)
  foreach(cert ${ARGN})
    if(NOT EXISTS ${cert})
      message(FATAL_ERROR "signing: trusted certificate ${cert} does not exist")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${cert})
    set(der ${_tindra_signing_dir}/key-${n}.der)
    execute_process(COMMAND ${OPENSSL} x509 -in ${cert} -noout -pubkey
                    COMMAND ${OPENSSL} pkey -pubin -outform DER -out ${der}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0 OR NOT EXISTS ${der})
      message(FATAL_ERROR "signing: no public key could be read from ${cert}")
    endif()
    file(READ ${der} hex HEX)
    file(REMOVE ${der})
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND blobs "/* ${cert} */\nstatic const unsigned char key${n}[] = {${bytes}};\n")
    string(APPEND entries "  {key${n}, sizeof key${n}},\n")
    math(EXPR n "${n} + 1")
  endforeach()
  file(WRITE ${out}.new
       "/* Generated by cmake/signing.cmake. */\n#include \"update/win32/trusted_keys.h\"\n\n"
       "${blobs}\nconst struct tindra_key_blob tindra_further_trusted_keys[] = {\n"
       "${entries}  {NULL, 0},\n};\n")
  configure_file(${out}.new ${out} COPYONLY)
  file(REMOVE ${out}.new)
endfunction()

_tindra_key_table(${_tindra_signing_dir}/trusted_keys_shipping.c ${TINDRA_TRUSTED_CERTS})
_tindra_key_table(${_tindra_signing_dir}/trusted_keys_test.c ${_tindra_signing_dir}/next-test-cert.pem)

# What each kind of program is signed with; a program signs again when that changes.
# A certificate in a token is read from it here, so that a new one under the same URI
# signs again too.
foreach(kind shipping dev)
  string(TOUPPER ${kind} K)
  set(stamp ${_tindra_signing_dir}/${kind}-signer.txt)
  _tindra_signer_args(TINDRA_${K}_SIGNER "${TINDRA_${K}_CERT}" "${TINDRA_${K}_KEY}")
  set(token_cert "")
  if(TINDRA_${K}_CERT MATCHES "^pkcs11:")
    find_program(P11TOOL p11tool REQUIRED)
    execute_process(COMMAND ${P11TOOL} --provider ${TINDRA_PKCS11_MODULE} --export
                            "${TINDRA_${K}_CERT}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE token_cert ERROR_QUIET)
    if(NOT rc EQUAL 0 OR NOT token_cert MATCHES "BEGIN CERTIFICATE")
      message(FATAL_ERROR "signing: cannot read the certificate ${TINDRA_${K}_CERT} from its token")
    endif()
  endif()
  file(WRITE ${stamp}.new "${TINDRA_${K}_SIGNER}\n${token_cert}")
  configure_file(${stamp}.new ${stamp} COPYONLY)
  file(REMOVE ${stamp}.new)
endforeach()

function(tindra_sign target)
  cmake_parse_arguments(S "SHIPS" "" "" ${ARGN})
  if(S_SHIPS)
    set(kind SHIPPING)
    set(stamp ${_tindra_signing_dir}/shipping-signer.txt)
    set(keys ${_tindra_signing_dir}/trusted_keys_shipping.c)
  else()
    set(kind DEV)
    set(stamp ${_tindra_signing_dir}/dev-signer.txt)
    set(keys ${_tindra_signing_dir}/trusted_keys_test.c)
  endif()
  target_sources(${target} PRIVATE ${keys})
  target_include_directories(${target} PRIVATE ${TINDRA_SOURCE_ROOT})
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file} ${file}.stripped
    COMMAND ${OSSLSIGNCODE} sign ${TINDRA_${kind}_SIGNER} -h sha256 -n Tindra
            -in ${file}.stripped -out ${file}.signed
    COMMAND ${CMAKE_COMMAND} -E rm ${file}.stripped
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file}
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${stamp})
  if(NOT TINDRA_${kind}_CERT MATCHES "^pkcs11:")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${TINDRA_${kind}_CERT}")
  endif()
endfunction()
