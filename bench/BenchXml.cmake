# The XML figures are measured against libxml2 and pugixml in the same run.
find_package(LibXml2 REQUIRED)
find_package(pugixml REQUIRED)
target_link_libraries(${BENCH_TARGET} PRIVATE LibXml2::LibXml2 pugixml::pugixml)
