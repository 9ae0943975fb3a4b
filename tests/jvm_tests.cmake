# The launcher with the reference library and the JVM runtime library.
