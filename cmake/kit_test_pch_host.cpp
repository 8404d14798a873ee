// The target that builds the precompiled header the test executables share.
