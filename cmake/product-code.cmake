# trv_product_code(<target>): what the code that ships in TRVControl.DLL is
# compiled with beyond the tree's flags, for size. Test programs link the same
# objects, so they test what ships.
#
# - No RTTI: nothing in the product asks for a type at run time.
# - libstdc++'s templates instantiated where they are used. It declares the
#   members of std::string and std::wstring extern and links them from whole
#   archive members; on MinGW the linker keeps every function that has unwind
#   data, so one referenced member brought in all of them.
function(trv_product_code target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti -include ${CMAKE_SOURCE_DIR}/cmake/instantiate-in-place.h>)
endfunction()
