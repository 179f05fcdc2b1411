# The browser extension's identity, one for the whole build: the Chrome/Edge build's public
# key and the ID it gives, the Firefox add-on ID, and the IDs the native host serves. The
# host is built with the same IDs the extension carries, so a build whose host would refuse
# its own extension cannot be configured.
#
#   tavrine_extension_identity(KEY <key> FIREFOX_ID <id> EXTRA_IDS <ids> SOURCE_DIR <dir> BINARY_DIR <dir>)
#     KEY         the deployer's Chrome extension key: its public key (base64 DER
#                 SubjectPublicKeyInfo, the manifest's "key") or the absolute path of a PEM file
#                 with its private or public key; empty: the development key below
#     FIREFOX_ID  the Firefox add-on ID; empty: the development ID below
#     EXTRA_IDS   further IDs the host serves (store items), comma-separated
#   sets in the caller's scope: TAVRINE_CHROME_PUBLIC_KEY, TAVRINE_CHROME_EXTENSION_ID,
#   TAVRINE_FIREFOX_ADDON_ID, TAVRINE_SERVED_EXTENSION_IDS, TAVRINE_EXTENSION_DEVELOPMENT
#   (true when the development key or ID is in use), TAVRINE_CHROME_PRIVATE_KEY_FILE (KEY when
#   it names a private key's file, with which a release can be signed) and
#   TAVRINE_EXTENSION_SUMMARY (a line).

# For development only: nobody holds this key's private half, so no CRX signed with it can
# be made; an unpacked build that carries it gets the ID below, and so can anybody's.
set(TAVRINE_DEV_CHROME_KEY
    "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAoaxu1FbVNM1WUlujzKWswGGA2n1RX9irsXn5XucdmejdWGy8CZCOMvXLEy+Yspk/re4YbFmkFrsXtpOd+32ZGLsxTDC6UoJQkaiNn4DnWwFQ5QfMff/+z4nbhAivO9pYzjE7CQnrKdpUtmVepuGeaVeRqc0aqiYLWcuTe8mC30Mfw6dhbc03/DR1jlcdp0LOXV8Y7BQMZD5WCGPylxL+u28aozz7yYDKhsMhxI+54JA3y4qCIrQGUApIzeKHJl/Ss4ablxTsOn+fF6ZHfRRduWiXS5XoGzV5UF7CSgPwAC5IPg4O0jFtvXV4ZJlWbPtd4M5LiJVf0iFn/hKI4953RQIDAQAB")
set(TAVRINE_DEV_CHROME_ID "obmdnoebbgjmgcflgkimndgfemiokbbc")
set(TAVRINE_DEV_FIREFOX_ID "bridge@tavrine.example")

# The host's own reading of an ID (bridge/ExtensionList.cpp): 32 letters a-p are a Chrome/Edge
# ID, anything else a Firefox add-on ID. Firefox's rule for an add-on ID: an e-mail-like name
# or a GUID in braces, at most 80 characters (addons.mozilla.org's limit).
set(_TAVRINE_CHROME_ID_RE "^[a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p][a-p]$")
set(_TAVRINE_FIREFOX_ID_RE "^([A-Za-z0-9._-]*@[A-Za-z0-9._-]+|{[0-9A-Fa-f]+-[0-9A-Fa-f]+-[0-9A-Fa-f]+-[0-9A-Fa-f]+-[0-9A-Fa-f]+})$")

# OpenSSL turns a PEM key into its public key; "-passin pass:" makes a key with a password
# fail here instead of waiting for one at the terminal.
function(_tavrine_public_key_of_pem file out)
    find_program(TAVRINE_OPENSSL NAMES openssl)
    if(NOT TAVRINE_OPENSSL)
        message(FATAL_ERROR "openssl is needed to read the extension key ${file} (tools/install-deps.sh installs it)")
    endif()
    foreach(kind private public)
        set(pubin)
        if(kind STREQUAL "public")
            set(pubin -pubin)
        endif()
        execute_process(
            COMMAND ${TAVRINE_OPENSSL} pkey ${pubin} -in ${file} -passin pass: -pubout -outform DER
            COMMAND ${TAVRINE_OPENSSL} base64 -A
            OUTPUT_VARIABLE b64 ERROR_VARIABLE err RESULTS_VARIABLE rcs)
        if(rcs STREQUAL "0;0" AND b64)
            set(${out} "${b64}" PARENT_SCOPE)
            set(${out}_kind ${kind} PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "TAVRINE_CHROME_EXTENSION_KEY: ${file} holds no private or public key that OpenSSL can read "
                        "without a password (a PKCS#8 PEM, as Chromium's packer takes it)")
endfunction()

# The ID Chrome gives a key: the first 16 bytes of the SHA-256 of the DER public key, each
# half-byte written as a letter from a (0) to p (15). The key is read back through OpenSSL, so
# that base64 which is not a public key is refused here.
function(_tavrine_chrome_id b64 out_id out_key)
    find_program(TAVRINE_OPENSSL NAMES openssl)
    if(NOT TAVRINE_OPENSSL)
        message(FATAL_ERROR "openssl is needed to compute the extension ID (tools/install-deps.sh installs it)")
    endif()
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E echo_append "${b64}"
        COMMAND ${TAVRINE_OPENSSL} base64 -d -A
        COMMAND ${TAVRINE_OPENSSL} pkey -pubin -inform DER -outform DER
        COMMAND ${TAVRINE_OPENSSL} dgst -sha256 -r
        OUTPUT_VARIABLE digest ERROR_VARIABLE err RESULTS_VARIABLE rcs)
    if(NOT rcs STREQUAL "0;0;0;0" OR NOT digest MATCHES "^([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])")
        message(FATAL_ERROR "TAVRINE_CHROME_EXTENSION_KEY: \"${b64}\" is not a base64 DER public key "
                            "(SubjectPublicKeyInfo) nor the path of a key file")
    endif()
    set(hex "${CMAKE_MATCH_1}")
    set(id "")
    foreach(i RANGE 31)
        string(SUBSTRING "${hex}" ${i} 1 nibble)
        string(FIND "0123456789abcdef" "${nibble}" n)
        string(SUBSTRING "abcdefghijklmnop" ${n} 1 letter)
        string(APPEND id "${letter}")
    endforeach()
    # The same key in the canonical base64 of its DER form, as the manifest carries it.
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E echo_append "${b64}"
        COMMAND ${TAVRINE_OPENSSL} base64 -d -A
        COMMAND ${TAVRINE_OPENSSL} pkey -pubin -inform DER -outform DER
        COMMAND ${TAVRINE_OPENSSL} base64 -A
        OUTPUT_VARIABLE canonical RESULTS_VARIABLE rcs)
    set(${out_id} "${id}" PARENT_SCOPE)
    set(${out_key} "${canonical}" PARENT_SCOPE)
endfunction()

function(tavrine_extension_identity)
    cmake_parse_arguments(X "" "KEY;FIREFOX_ID;EXTRA_IDS;SOURCE_DIR;BINARY_DIR" "" ${ARGN})
    string(STRIP "${X_KEY}" key)
    set(development FALSE)
    set(private_file "")
    if(key STREQUAL "")
        set(b64 "${TAVRINE_DEV_CHROME_KEY}")
        set(development TRUE)
        set(chrome_kind "development key")
    elseif(key MATCHES "^[A-Za-z0-9+/]+=*$" AND NOT EXISTS "${key}")
        set(b64 "${key}")
        set(chrome_kind "public key")
    else()
        if(NOT IS_ABSOLUTE "${key}")
            message(FATAL_ERROR "TAVRINE_CHROME_EXTENSION_KEY: give the key file as an absolute path, not \"${key}\"")
        endif()
        if(NOT EXISTS "${key}" OR IS_DIRECTORY "${key}")
            message(FATAL_ERROR "TAVRINE_CHROME_EXTENSION_KEY: the key file ${key} does not exist")
        endif()
        # A private key inside the sources could be committed; a build tree is never committed.
        file(REAL_PATH "${key}" real)
        file(REAL_PATH "${X_SOURCE_DIR}" src)
        file(REAL_PATH "${X_BINARY_DIR}" bin)
        string(FIND "${real}" "${src}/" in_src)
        string(FIND "${real}" "${bin}/" in_bin)
        if(in_src EQUAL 0 AND NOT in_bin EQUAL 0)
            message(FATAL_ERROR "TAVRINE_CHROME_EXTENSION_KEY: ${key} lies in the source tree; keep the key outside it")
        endif()
        _tavrine_public_key_of_pem("${key}" b64)
        set(chrome_kind "${b64_kind} key of ${key}")
        if(b64_kind STREQUAL "private")
            set(private_file "${key}")
        endif()
    endif()
    _tavrine_chrome_id("${b64}" chrome_id canonical)

    string(STRIP "${X_FIREFOX_ID}" firefox_id)
    set(firefox_kind "given")
    if(firefox_id STREQUAL "")
        set(firefox_id "${TAVRINE_DEV_FIREFOX_ID}")
        set(development TRUE)
        set(firefox_kind "development ID")
    endif()
    string(LENGTH "${firefox_id}" len)
    if(NOT firefox_id MATCHES "${_TAVRINE_FIREFOX_ID_RE}" OR len GREATER 80)
        message(FATAL_ERROR "TAVRINE_FIREFOX_EXTENSION_ID: \"${firefox_id}\" is not a Firefox add-on ID "
                            "(name@domain or {GUID}, at most 80 characters)")
    endif()

    # The build's own two first, then the deployer's further IDs, each once.
    set(served "${chrome_id}" "${firefox_id}")
    string(REPLACE "," ";" extra "${X_EXTRA_IDS}")
    foreach(id IN LISTS extra)
        string(STRIP "${id}" id)
        if(id STREQUAL "")
            continue()
        endif()
        string(LENGTH "${id}" len)
        if(NOT id MATCHES "${_TAVRINE_CHROME_ID_RE}" AND (NOT id MATCHES "${_TAVRINE_FIREFOX_ID_RE}" OR len GREATER 80))
            message(FATAL_ERROR "TAVRINE_EXTENSION_IDS: \"${id}\" is neither a Chrome/Edge extension ID (32 letters a-p) "
                                "nor a Firefox add-on ID (name@domain or {GUID}); the host would serve no browser with it")
        endif()
        # Anybody can load an unpacked extension that carries the development key, and so
        # claim its ID: a build with a key of its own does not serve that ID.
        if(id STREQUAL TAVRINE_DEV_CHROME_ID AND NOT key STREQUAL "")
            message(FATAL_ERROR "TAVRINE_EXTENSION_IDS: the development ID ${id} is listed beside a key of the build's own; "
                                "any unpacked extension carrying the development key could reach the host. Remove it")
        endif()
        list(APPEND served "${id}")
    endforeach()
    list(REMOVE_DUPLICATES served)

    # What the host will make of the list: its own extension must be among what it serves,
    # each ID read as the kind of browser that sends it.
    if(NOT chrome_id MATCHES "${_TAVRINE_CHROME_ID_RE}" OR firefox_id MATCHES "${_TAVRINE_CHROME_ID_RE}")
        message(FATAL_ERROR "the host would refuse its own extension: Chrome ID \"${chrome_id}\", Firefox ID \"${firefox_id}\"")
    endif()

    list(JOIN served "," served_text)
    set(TAVRINE_CHROME_PUBLIC_KEY "${canonical}" PARENT_SCOPE)
    set(TAVRINE_CHROME_EXTENSION_ID "${chrome_id}" PARENT_SCOPE)
    set(TAVRINE_FIREFOX_ADDON_ID "${firefox_id}" PARENT_SCOPE)
    set(TAVRINE_SERVED_EXTENSION_IDS "${served_text}" PARENT_SCOPE)
    set(TAVRINE_EXTENSION_DEVELOPMENT ${development} PARENT_SCOPE)
    set(TAVRINE_CHROME_PRIVATE_KEY_FILE "${private_file}" PARENT_SCOPE)
    set(TAVRINE_EXTENSION_SUMMARY "Chrome/Edge ID ${chrome_id} (${chrome_kind}), Firefox ID ${firefox_id} (${firefox_kind})"
        PARENT_SCOPE)
endfunction()
