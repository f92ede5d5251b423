# The version script of libquorin.so. Exported: the V5Files_* functions, and every member,
# virtual table and type information of the classes a caller of the exports builds, reads or
# deletes (the header and its records, the preview record, the statistics class and the
# containers it takes and returns), and the free functions that build, copy and free the SDK
# records and blocks those classes exchange. The installed headers declare exactly this: the
# CTest check exports.headers (tools/check_exports.py) fails on a declaration left out here.
# Matched by their mangled names: a name is preceded by its length, so "7CHeader" never matches
# CHeaderBase or std:: instantiations.
set(QUORIN_EXPORTED_CLASSES
  CHeaderBase CHeader CPatient CExam CImageGroup CPersonName CEquipment CInfosImage CMPPS
  CAnatRegion CAnatTeethList CAnatToothNumber CInfosOrient CInfosFilter CInfosCorners
  CPixelSize CDrawingStore CInfosDateTime CUid SBasicPreviewInfo CImgStatistic)
# CTVector<double, unsigned int>, CTMatrix<double, unsigned int>, the 8-bit pixels a histogram
# counts (CTMatrix<unsigned char, unsigned int> and its rows, CTVector<unsigned char, unsigned
# int>) and CTHistogram<unsigned char, unsigned int, double>
set(QUORIN_EXPORTED_TEMPLATES 8CTVectorIdjE 8CTMatrixIdjE 8CTVectorIhjE 8CTMatrixIhjE
  11CTHistogramIhjdE)
# Free functions: the SImage helpers (a record with its pixel block, its copy and release, and
# the release of any locked block a record owns), the SDK image record's zero-fill, blocks and
# release, the drawing list's release and copy, and the user's tooth notation.
set(QUORIN_EXPORTED_FUNCTIONS
  AllocSImage FreeSImage DuplicateSImage FreeGlobalPointer InitSOMUImage FreeSOMUImageData
  FreeDrawingList FreeDrawingItem CopyDrawingRecord IsUniversalToothNotation)
# The same in namespace quorin.
set(QUORIN_EXPORTED_QUORIN_FUNCTIONS AllocRecordBlock)

set(names "")
foreach(cls ${QUORIN_EXPORTED_CLASSES})
  string(LENGTH ${cls} len)
  list(APPEND names "${len}${cls}")
endforeach()
list(APPEND names ${QUORIN_EXPORTED_TEMPLATES})
set(patterns "    V5Files_*;\n")
foreach(fn ${QUORIN_EXPORTED_FUNCTIONS})
  string(LENGTH ${fn} len)
  string(APPEND patterns "    _Z${len}${fn}*;\n")
endforeach()
foreach(fn ${QUORIN_EXPORTED_QUORIN_FUNCTIONS})
  string(LENGTH ${fn} len)
  string(APPEND patterns "    _ZN6quorin${len}${fn}E*;\n")
endforeach()
foreach(name ${names})
  string(APPEND patterns "    _ZN${name}*; _ZNK${name}*; _ZTV${name}; _ZTI${name}; _ZTS${name};\n")
endforeach()
set(QUORIN_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/quorin.map)
file(CONFIGURE OUTPUT ${QUORIN_VERSION_SCRIPT}
  CONTENT "{\n  global:\n${patterns}  local:\n    *;\n};\n")
