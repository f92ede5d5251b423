// The library's own instantiations of the installed vector, matrix and histogram templates: their
// members are made once, in containers.cpp and histogram.cpp, and stay inside the library (the
// installed headers name the ones other programs get).
#pragma once
#include <quorin/histogram.h>
#include <quorin/matrix.h>
#include <quorin/vector.h>

extern template class CTVector<unsigned short>;
extern template class CTVector<unsigned int>;
extern template class CTMatrix<unsigned short>;
extern template class CTMatrix<unsigned int>;
extern template class CTHistogram<unsigned char, unsigned int, unsigned int>;
extern template class CTHistogram<unsigned short, unsigned int, unsigned int>;
extern template class CTHistogram<unsigned int, unsigned int, unsigned int>;
extern template class CTHistogram<unsigned short, unsigned int, double>;
extern template class CTHistogram<unsigned int, unsigned int, double>;
