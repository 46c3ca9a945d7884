# The whole read of a text catalogue, without Qt.
didira_add_fuzzer(catalogue_fuzzer
  ${CMAKE_SOURCE_DIR}/fuzz/CatalogueFuzzer.cpp
  ${CMAKE_SOURCE_DIR}/catalogue/CatalogueRead.cpp
  ${CMAKE_SOURCE_DIR}/catalogue/SheetFile.cpp
  ${CMAKE_SOURCE_DIR}/catalogue/Odbc.cpp
  ${CMAKE_SOURCE_DIR}/catalogue/TextCodec.cpp)
target_link_libraries(catalogue_fuzzer PRIVATE PkgConfig::ODBC didira_flags)
