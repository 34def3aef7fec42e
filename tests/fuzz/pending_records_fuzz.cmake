# The readers are core code: the target takes the core's objects (the store
# is never reached, so nothing is faked).
set(AG_FUZZ_LIBS agcore_impl)
