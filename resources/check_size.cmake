# Fails the build when FILE is larger than LIMIT bytes. The setup finds its
# archive only when it starts within the first 250,006 bytes of its own file,
# so the program image has to stay below that, with room to spare.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
    message(FATAL_ERROR "${FILE} is ${size} bytes; the image must stay below ${LIMIT} bytes")
endif()
message(STATUS "${FILE}: ${size} bytes")
