# The configure-time identity of the browser extension (cmake/ExtensionIdentity.cmake), run as
#   cmake -DSOURCE=<source tree> -DWORK=<scratch folder> -P extension-identity.cmake
# One key gives one ID whether given as a private key's PEM, a public key's PEM or the base64
# public key; the development identity stays when the options are empty; and every option the
# host would be built wrong with stops the configuration with a message that says why.
cmake_minimum_required(VERSION 3.25)
include(${SOURCE}/cmake/ExtensionIdentity.cmake)

set(failures 0)
macro(fail what)
    message("FAIL: ${what}")
    math(EXPR failures "${failures} + 1")
endmacro()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/src ${WORK}/bin)
find_program(OPENSSL openssl REQUIRED)
execute_process(COMMAND ${OPENSSL} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ${WORK}/bin/key.pem
                RESULT_VARIABLE rc ERROR_QUIET)
execute_process(COMMAND ${OPENSSL} pkey -in ${WORK}/bin/key.pem -pubout -out ${WORK}/bin/public.pem RESULT_VARIABLE rc2)
execute_process(COMMAND ${OPENSSL} pkey -in ${WORK}/bin/key.pem -pubout -outform DER -out ${WORK}/bin/public.der)
execute_process(COMMAND ${OPENSSL} base64 -A -in ${WORK}/bin/public.der OUTPUT_VARIABLE b64)
if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0 OR NOT b64)
    message(FATAL_ERROR "openssl could not make the test key")
endif()
# The ID by hand: the file's SHA-256, its first 32 hex digits mapped to a-p.
file(SHA256 ${WORK}/bin/public.der digest)
string(SUBSTRING "${digest}" 0 32 digest)
# Upper-case letters first, so that a letter written for one digit is not taken for another.
foreach(c IN ITEMS 0 1 2 3 4 5 6 7 8 9 a b c d e f)
    string(FIND "0123456789abcdef" "${c}" n)
    string(SUBSTRING "ABCDEFGHIJKLMNOP" ${n} 1 l)
    string(REPLACE "${c}" "${l}" digest "${digest}")
endforeach()
string(TOLOWER "${digest}" by_hand)

set(dirs SOURCE_DIR ${WORK}/src BINARY_DIR ${WORK}/bin)

# Empty options: the development identity, and its stored ID is the one its key gives.
tavrine_extension_identity(KEY "" FIREFOX_ID "" EXTRA_IDS "" ${dirs})
if(NOT (TAVRINE_CHROME_EXTENSION_ID STREQUAL TAVRINE_DEV_CHROME_ID))
    fail("development ID ${TAVRINE_CHROME_EXTENSION_ID}")
endif()
if(NOT (TAVRINE_CHROME_PUBLIC_KEY STREQUAL TAVRINE_DEV_CHROME_KEY))
    fail("development key kept")
endif()
if(NOT (TAVRINE_SERVED_EXTENSION_IDS STREQUAL "${TAVRINE_DEV_CHROME_ID},${TAVRINE_DEV_FIREFOX_ID}"))
    fail("development host serves ${TAVRINE_SERVED_EXTENSION_IDS}")
endif()
if(NOT (TAVRINE_EXTENSION_DEVELOPMENT))
    fail("empty options are reported as development")
endif()

# The deployer's key in each of its three forms: the same key and ID.
foreach(form "${WORK}/bin/key.pem" "${WORK}/bin/public.pem" "${b64}")
    tavrine_extension_identity(KEY "${form}" FIREFOX_ID "tavrine@service.example"
        EXTRA_IDS " abcdefghijklmnopabcdefghijklmnop, {12345678-abcd-ef01-2345-67890abcdef0},tavrine@service.example" ${dirs})
    if(NOT (TAVRINE_CHROME_EXTENSION_ID STREQUAL by_hand))
        fail("key ${form}: ID ${TAVRINE_CHROME_EXTENSION_ID}, by hand ${by_hand}")
    endif()
    if(NOT (TAVRINE_CHROME_PUBLIC_KEY STREQUAL b64))
        fail("key ${form}: public key ${TAVRINE_CHROME_PUBLIC_KEY}")
    endif()
    if(NOT (TAVRINE_SERVED_EXTENSION_IDS STREQUAL "${by_hand},tavrine@service.example,abcdefghijklmnopabcdefghijklmnop,{12345678-abcd-ef01-2345-67890abcdef0}"))
        fail("key ${form}: serves ${TAVRINE_SERVED_EXTENSION_IDS}")
    endif()
    # Only the private key's file can sign a release.
    set(private "")
    if(form STREQUAL "${WORK}/bin/key.pem")
        set(private "${form}")
    endif()
    if(NOT TAVRINE_CHROME_PRIVATE_KEY_FILE STREQUAL private)
        fail("key ${form}: private key file \"${TAVRINE_CHROME_PRIVATE_KEY_FILE}\", expected \"${private}\"")
    endif()
    if(NOT (NOT TAVRINE_EXTENSION_DEVELOPMENT))
        fail("key ${form}: reported as development")
    endif()
endforeach()

# Configurations that must not configure: each in a CMake of its own, which must fail and say why.
execute_process(COMMAND ${OPENSSL} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -aes-128-cbc
                        -pass pass:secret -out ${WORK}/bin/locked.pem ERROR_QUIET)
# PEM armour around what is no key (split so that the repository's key check passes this file).
file(WRITE ${WORK}/bin/notakey.pem "-----BEGIN PRIVATE" " KEY-----\nbm90IGEga2V5\n-----END PRIVATE" " KEY-----\n")
file(COPY ${WORK}/bin/key.pem DESTINATION ${WORK}/src)
set(refusals
    "KEY|${WORK}/bin/missing.pem|does not exist"
    "KEY|bin/key.pem|absolute path"
    "KEY|${WORK}/bin/notakey.pem|holds no private or public key"
    "KEY|${WORK}/bin/locked.pem|without a password"
    "KEY|${WORK}/src/key.pem|lies in the source tree"
    "KEY|MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIB|is not a base64 DER public key"
    "FIREFOX_ID|abcdefghijklmnopabcdefghijklmnop|is not a Firefox add-on ID"
    "FIREFOX_ID|tavrine bridge@service.example|is not a Firefox add-on ID"
    "FIREFOX_ID|tavrine\"@service.example|is not a Firefox add-on ID"
    "EXTRA_IDS|obmdnoebbgjmgcflgkimndgfemiokbbz|neither a Chrome/Edge extension ID"
    "EXTRA_IDS|abcdefghijklmnop|neither a Chrome/Edge extension ID"
    "KEY+EXTRA_IDS|${b64}|obmdnoebbgjmgcflgkimndgfemiokbbc|any unpacked extension carrying the development key")
set(n 0)
foreach(row IN LISTS refusals)
    string(REPLACE "|" ";" row "${row}")
    list(POP_BACK row says)
    list(POP_FRONT row options)
    string(REPLACE "+" ";" options "${options}")
    math(EXPR n "${n} + 1")
    set(args KEY "" FIREFOX_ID "" EXTRA_IDS "")
    foreach(option IN LISTS options)
        list(POP_FRONT row value)
        list(FIND args ${option} at)
        math(EXPR at "${at} + 1")
        list(REMOVE_AT args ${at})
        list(INSERT args ${at} "${value}")
    endforeach()
    set(quoted "")
    foreach(a IN LISTS args)
        string(REPLACE "\"" "\\\"" a "${a}")
        string(APPEND quoted " \"${a}\"")
    endforeach()
    file(WRITE ${WORK}/case${n}.cmake
         "include(${SOURCE}/cmake/ExtensionIdentity.cmake)\n"
         "tavrine_extension_identity(${quoted} SOURCE_DIR ${WORK}/src BINARY_DIR ${WORK}/bin)\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -P ${WORK}/case${n}.cmake WORKING_DIRECTORY ${WORK}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    # CMake wraps its messages: compare with the blanks made one.
    string(REGEX REPLACE "[ \t\r\n]+" " " out "${out}")
    string(FIND "${out}" "${says}" found)
    if(NOT (NOT rc EQUAL 0 AND found GREATER -1))
        fail("${option} \"${value}\" configured (exit ${rc}): ${out}")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
if(failures)
    message(FATAL_ERROR "extension identity: ${failures} check(s) failed")
endif()
message("extension identity: passed (${n} refusals)")
