# The decoder is the core's tenant codec alone: no core library, no agent.
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/core/config/tenant_codec.cc)
