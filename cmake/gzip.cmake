# Compresses one file as Debian keeps manual pages (gzip -9n: no name or time inside, so the same
# page gives the same bytes).
#   cmake -DGZIP=<gzip> -DIN=<file> -DOUT=<file.gz> -P gzip.cmake
execute_process(COMMAND "${GZIP}" -9nc "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${IN} failed: ${status}")
endif()
