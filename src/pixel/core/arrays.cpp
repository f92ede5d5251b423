#include "pixel/core/arrays.h"

template class CMemBlock<unsigned char>;
template class C2DArr<unsigned short>;
template class CImage<unsigned short>;
