# The reader is one core file without dependencies.
target_sources(${AG_FUZZ_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/core/config/otp_file.cc)
set(AG_FUZZ_LIBS "")
