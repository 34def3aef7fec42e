# The parser is one file of the transport with JsonCpp: no HTTP, no agent.
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/suite/agtransport/server_response.cc)
target_link_libraries(${AG_FUZZ_TARGET} PRIVATE PkgConfig::JSONCPP)
