# Writes a self-signed certificate and an RSA key, encrypted with the default pass phrase,
# into one PEM file. Run by the build when the file is missing.
if(EXISTS ${OUT})
    return()
endif()
get_filename_component(dir ${OUT} DIRECTORY)
set(tmp ${dir}/ssl-tmp)
file(MAKE_DIRECTORY ${tmp})
execute_process(
    COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -keyout ${tmp}/key.pem -passout pass:k4m5n6
            -out ${tmp}/cert.pem -subj /CN=localhost -days 3650
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl could not make the key pair")
endif()
file(READ ${tmp}/cert.pem cert)
file(READ ${tmp}/key.pem key)
file(WRITE ${OUT}.part "${cert}${key}")
file(CHMOD ${OUT}.part PERMISSIONS OWNER_READ OWNER_WRITE)
file(RENAME ${OUT}.part ${OUT})
file(REMOVE_RECURSE ${tmp})
