# The reader is one core file with JsonCpp: no store, no agent.
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/core/casupp/install_status_file.cc)
set(AG_FUZZ_LIBS PkgConfig::JSONCPP)
