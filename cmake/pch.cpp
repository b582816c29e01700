// Compiled only to make the test programs' shared precompiled header.
