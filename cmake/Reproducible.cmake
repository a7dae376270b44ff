# The same commit built in two folders, at two times, gives the same DLL byte for byte, so that
# anyone can rebuild a release and compare it with the one published.
if(WIN32)
    # No folder names in the objects: __FILE__ in assertions and headers, and debug information.
    # The later map wins for paths under both (the build folder usually sits in the source).
    add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
    # ld writes the link time into the PE header and the export directory unless told not to.
    add_link_options(-Wl,--no-insert-timestamp)
endif()
