#include "pixel/cr/crparams.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "platform/core/path.h"
#include "platform/files/ini.h"

namespace {

// One value of the section as the INI reader gives it: 10 characters at most with the NUL.
float ReadValue(const std::string& path, const char* section, const char* key) {
    char text[10] = {};
    win::GetPrivateProfileStringA(section, key, "", text, sizeof text, path.c_str());
    const double value = win::AtofClassic(text);
    // "inf", "nan" and numbers beyond single precision would poison the level mapping.
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) return 0.0f;
    return static_cast<float>(value);
}

}  // namespace

bool CEnhanceFilterParamFile::Read(SCRFilterParam* records, const char* section) const {
    if (records == nullptr) return false;
    char key[32];
    for (int d = 0; d < 6; ++d) {
        std::snprintf(key, sizeof key, "ENHFACTOR%d", d);
        records[d].ENHFACTOR = ReadValue(m_path, section, key);
    }
    for (int d = 0; d < 6; ++d) {
        std::snprintf(key, sizeof key, "LARGESCALETHRESHOLD%d", d);
        records[d].LARGESCALETHRESHOLD = ReadValue(m_path, section, key);
    }
    for (int d = 0; d < 3; ++d) {
        records[d].NOISESUPPRESSFACTOR = 1.0f;
        records[d].NOISETHRESHOLD = 0.0f;
    }
    for (int d = 0; d < 3; ++d) {
        std::snprintf(key, sizeof key, "NOISESUPPRESSFACTOR%d", d);
        records[d + 3].NOISESUPPRESSFACTOR = ReadValue(m_path, section, key);
    }
    for (int d = 0; d < 3; ++d) {
        std::snprintf(key, sizeof key, "NOISETHRESHOLD%d", d);
        records[d + 3].NOISETHRESHOLD = ReadValue(m_path, section, key);
    }
    const float boost = ReadValue(m_path, section, "LARGESCALEBOOSTFACTOR");
    for (int d = 0; d < 6; ++d) records[d].LARGESCALEBOOSTFACTOR = boost;
    return true;
}

namespace quorin {

const char* CRParamSection(CRParamSet set) {
    switch (set) {
        case CRParamSet::kPanoSharpness:
            return "CRPANOSHARPNESS";
        case CRParamSet::kPanoContrast:
            return "CRPANOCONTRAST";
        case CRParamSet::kIntraOralSharpness:
            break;
    }
    return "CRIOSHARPNESS";
}

void DefaultCRRecords(CRParamSet set, SCRFilterParam* records) {
    static constexpr float kGains[3][6] = {{0.0f, 3.3f, 3.3f, 2.8f, 1.85f, 1.5f},
                                           {0.0f, 1.5f, 2.1f, 1.8f, 1.5f, 1.3f},
                                           {0.0f, 3.6f, 3.0f, 2.75f, 2.5f, 2.0f}};
    static constexpr float kLargeScale[6] = {10, 25, 25, 25, 25, 25};
    const float* gains = kGains[static_cast<int>(set)];
    for (int d = 0; d < 6; ++d)
        records[d] = SCRFilterParam{gains[d], kLargeScale[d], 1.0f, 0.0f, 1.0f};
}

std::unique_ptr<SCRFilterParam[]> ReadCRRecordSet(CRParamSet set) {
    std::unique_ptr<SCRFilterParam[]> records(new (std::nothrow) SCRFilterParam[6]());
    if (!records) return nullptr;
    if (win::FileExists(kCRFilterIniPath))
        CEnhanceFilterParamFile(kCRFilterIniPath).Read(records.get(), CRParamSection(set));
    else
        DefaultCRRecords(set, records.get());
    return records;
}

}  // namespace quorin
