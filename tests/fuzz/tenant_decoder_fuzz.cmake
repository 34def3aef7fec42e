# The decoder is the core's tenant codec alone: no core library, no agent,
# no suite library.
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/core/config/tenant_codec.cc)
set(AG_FUZZ_LIBS PkgConfig::JSONCPP OpenSSL::Crypto)
