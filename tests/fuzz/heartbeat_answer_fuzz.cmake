# The core's skip step and command processing with the transport's parser
# compiled in (its library keeps the parser to itself) and the real command
# parser; the server and the store are faked in the target.
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/suite/agtransport/server_response.cc)
set(AG_FUZZ_LIBS agcore_impl)
