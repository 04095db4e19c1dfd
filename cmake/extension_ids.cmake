# The fixed identities of the browser extension and of the native messaging host it talks to.
# Every file that names one (the extension's manifests, the host's manifests, the page library's
# message tag, qardex_extension.h for the host's check of its caller) is generated from here.
set(QARDEX_NATIVE_HOST "com.qardex.host")
# The public half (DER, base64) of the RSA-2048 key that fixes the Chromium extension's id; the
# private half is not kept: the stores sign what they publish.
set(QARDEX_EXTENSION_KEY "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAvqHSkURVquY2TJ8rqPgy/fpsYVY3f2Nw5xSce0g/CYqpEKRfUOII6ogIuG8c5qizNamgfX9RYQTGpHCz5Ik2/qQCN/vJT+hOAgyAaJSs86HS77JFIh9L3jfloGxuLadE5K7hxj2bxv/w76x5IBV5mQq5xaCV1wBPBlB3q4izN0q1Z2kOvC61pKLGAfPZjIDrhan9udQNahJiFItrmlPqg8bG/Oy9Ei+IgOdY1wDM7it6uOkm8OvnHQj6cRwP1BHR9FBPa0gBVop3cKu4B8ThwrbCbcUavDgIsn6bzv7c0tnD2inhwuEBMvtJahu7fNZrIsb54XP59y6MO1KZvnA5yQIDAQAB")
set(QARDEX_FIREFOX_EXTENSION_ID "qardex@qardex.example")
# Marks the window messages between the page library and the extension's content script.
set(QARDEX_EXTENSION_TAG "qardex-extension")

# Chromium's id of an extension: the first 128 bits of the SHA-256 of its key, each hex digit
# 0-f written as a letter a-p.
find_program(QARDEX_OPENSSL openssl REQUIRED)
execute_process(
  COMMAND sh -c "printf %s \"$1\" | \"$2\" base64 -d -A | \"$2\" dgst -sha256 -r" sh
          ${QARDEX_EXTENSION_KEY} ${QARDEX_OPENSSL}
  OUTPUT_VARIABLE _key_digest RESULT_VARIABLE _digest_status)
string(SUBSTRING "${_key_digest}" 0 32 _key_digest)
if(NOT _digest_status EQUAL 0 OR NOT _key_digest MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "cannot compute the extension's id from QARDEX_EXTENSION_KEY")
endif()
set(QARDEX_CHROMIUM_EXTENSION_ID "")
foreach(_at RANGE 31)
  string(SUBSTRING "${_key_digest}" ${_at} 1 _digit)
  string(FIND "0123456789abcdef" "${_digit}" _value)
  string(SUBSTRING "abcdefghijklmnop" ${_value} 1 _letter)
  string(APPEND QARDEX_CHROMIUM_EXTENSION_ID "${_letter}")
endforeach()
message(STATUS "Chromium extension id: ${QARDEX_CHROMIUM_EXTENSION_ID}")
