# Makes a C++ raw string literal of a web page's file, to build it in.
file(READ ${IN} content)
if(content MATCHES "\\)PAGE\"")
  message(FATAL_ERROR "${IN} holds the literal's delimiter")
endif()
file(WRITE ${OUT} "R\"PAGE(${content})PAGE\"\n")
