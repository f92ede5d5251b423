# The version script of libquorin.so. Exported: the V5Files_* functions, and every member,
# virtual table and type information of the classes a caller of the exports builds, reads or
# deletes (the header and its records, the preview record, the statistics class and the three
# containers it takes and returns). Matched by their mangled names: a class name is preceded
# by its length, so "7CHeader" never matches CHeaderBase or std:: instantiations.
set(QUORIN_EXPORTED_CLASSES
  CHeaderBase CHeader CPatient CExam CImageGroup CPersonName CEquipment CInfosImage CMPPS
  CAnatRegion CAnatTeethList CAnatToothNumber CInfosOrient CInfosFilter CInfosCorners
  CPixelSize CDrawingStore CInfosDateTime CUid SBasicPreviewInfo CImgStatistic)
# CTVector<double, unsigned int>, CTMatrix<double, unsigned int>,
# CTHistogram<unsigned char, unsigned int, double>
set(QUORIN_EXPORTED_TEMPLATES 8CTVectorIdjE 8CTMatrixIdjE 11CTHistogramIhjdE)

set(names "")
foreach(cls ${QUORIN_EXPORTED_CLASSES})
  string(LENGTH ${cls} len)
  list(APPEND names "${len}${cls}")
endforeach()
list(APPEND names ${QUORIN_EXPORTED_TEMPLATES})
set(patterns "    V5Files_*;\n")
foreach(name ${names})
  string(APPEND patterns "    _ZN${name}*; _ZNK${name}*; _ZTV${name}; _ZTI${name}; _ZTS${name};\n")
endforeach()
set(QUORIN_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/quorin.map)
file(CONFIGURE OUTPUT ${QUORIN_VERSION_SCRIPT}
  CONTENT "{\n  global:\n${patterns}  local:\n    *;\n};\n")
