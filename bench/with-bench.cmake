# Adds the benchmarks to a build whose top-level CMakeLists does not list bench/ (used by the
# run scripts): deferred to the end of the top level, so that the libraries exist by then.
function(cf_add_benchmarks)
  include(${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL cf_add_benchmarks)
