# The Base64 figures are measured against OpenSSL in the same run; iconv comes with the C library.
target_link_libraries(${BENCH_TARGET} PRIVATE OpenSSL::Crypto)
