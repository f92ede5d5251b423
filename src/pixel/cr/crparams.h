// The pyramid parameters of the computed-radiography images: six records per set (record i for
// pyramid level i, 0 the finest), read from the INI file "C:\Temp\CRFilterParams.ini" when it
// exists and taken from built-in defaults otherwise.
#pragma once
#include <memory>
#include <string>

#include "pixel/filters/pyramid.h"

// Reads one section of the INI file into a set of six records.
class CEnhanceFilterParamFile {
  public:
    explicit CEnhanceFilterParamFile(std::string path) : m_path(std::move(path)) {}
    virtual ~CEnhanceFilterParamFile() = default;

    // Keys ENHFACTOR0..5 and LARGESCALETHRESHOLD0..5 fill records 0..5; records 0..2 get
    // NOISESUPPRESSFACTOR 1.0 and NOISETHRESHOLD 0.0; NOISESUPPRESSFACTOR0..2 and
    // NOISETHRESHOLD0..2 fill records 3..5; LARGESCALEBOOSTFACTOR fills all six. Each value is
    // read into 10 characters and converted as atof does (a missing key or a non-number reads
    // as 0.0; a value that is not a finite single-precision number also reads as 0.0). False
    // only for a null set.
    bool Read(SCRFilterParam* records, const char* section) const;
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

namespace quorin {

inline constexpr char kCRFilterIniPath[] = "C:\\Temp\\CRFilterParams.ini";

enum class CRParamSet { kPanoSharpness, kPanoContrast, kIntraOralSharpness };

// The section of a set: "CRPANOSHARPNESS", "CRPANOCONTRAST", "CRIOSHARPNESS".
const char* CRParamSection(CRParamSet set);
// The built-in records of a set.
void DefaultCRRecords(CRParamSet set, SCRFilterParam* records);
// A new set of six records: from the INI file when it exists, else the defaults; null when it
// cannot be allocated.
std::unique_ptr<SCRFilterParam[]> ReadCRRecordSet(CRParamSet set);

}  // namespace quorin
