# The support library reads the file; the transport's record conversion is
# one file of its own (the transport library does not export it).
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/suite/agtransport/proxy_settings.cc)
