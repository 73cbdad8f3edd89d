// Forced into the product's C++ sources (cmake/product-code.cmake): the
// standard library's templates are instantiated in the objects that use them
// rather than linked from its prebuilt instantiations.
#pragma once
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
