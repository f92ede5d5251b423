#include <quorin/series.h>

#include "records/info/recordfields.h"
#include "sdk/somutext.h"

using quorin::GetFieldText;
using quorin::PutFieldText;

// ---- CPersonName

void CPersonName::Set(std::string_view text) {
    m_text = text.substr(0, kMaxLength);
    std::string_view rest = m_text;
    for (int i = 0; i < 5; ++i) {
        m_components[i].clear();
        if (rest.data() == nullptr) continue;
        const std::size_t caret = rest.find('^');
        if (caret == std::string_view::npos) {
            m_components[i] = rest;
            rest = std::string_view();  // no components after the last
        } else {
            m_components[i] = rest.substr(0, caret);
            rest.remove_prefix(caret + 1);
        }
    }
}

void CPersonName::GetComponents(std::string* family, std::string* given, std::string* middle,
                                std::string* prefix, std::string* suffix) const {
    std::string* outs[5] = {family, given, middle, prefix, suffix};
    for (int i = 0; i < 5; ++i)
        if (outs[i]) *outs[i] = m_components[i];
}

// ---- CImageGroup

void CImageGroup::SetSeriesUID(std::string_view text) {
    if (text.empty())
        m_seriesUID.GenerateSeriesUID();
    else
        m_seriesUID.SetText(text);
}

void CImageGroup::SetInstanceUID(std::string_view text) {
    if (text.empty())
        m_instanceUID.GenerateInstanceUID();
    else
        m_instanceUID.SetText(text);
}

void CImageGroup::SetReferencedImage(std::string_view uid, std::int32_t classCode,
                                     std::int32_t number) {
    if (classCode == 0 || uid.empty()) return;
    m_referencedUID = uid;
    m_referencedClass = classCode;
    m_referencedNumber = number;
}

void CImageGroup::GetReferencedImage(std::string* uid, std::int32_t* classCode,
                                     std::int32_t* number) const {
    if (uid) *uid = m_referencedUID;
    if (classCode) *classCode = m_referencedClass;
    if (number) *number = m_referencedNumber;
}

void CImageGroup::FromSOMU(const SOMUSeries& block) {
    quorin::GetDateTimeFields(m_dateTime, block.szDate, block.szTime);
    m_seriesNumber = GetFieldText(block.szSeriesNumber);
    SetSeriesUID(GetFieldText(block.szSeriesUID));
    SetInstanceUID(GetFieldText(block.szInstanceUID));
    m_instanceNumber = GetFieldText(block.szInstanceNumber);
    m_referencedUID.clear();
    m_referencedClass = 0;
    m_referencedNumber = 0;
    SetReferencedImage(GetFieldText(block.szReferencedUID), block.nReferencedClass,
                       block.bReferencedNumber);
    m_personName.Set(GetFieldText(block.szPersonName));
}

void CImageGroup::ToSOMU(SOMUSeries& block) const {
    quorin::PutDateTimeFields(m_dateTime, block.szDate, block.szTime);
    PutFieldText(block.szSeriesNumber, m_seriesNumber);
    PutFieldText(block.szSeriesUID, m_seriesUID.GetText());
    PutFieldText(block.szInstanceUID, m_instanceUID.GetText());
    PutFieldText(block.szInstanceNumber, m_instanceNumber);
    PutFieldText(block.szReferencedUID, m_referencedUID);
    block.nReferencedClass = m_referencedClass;
    block.bReferencedNumber = m_referencedNumber != 0 ? 1 : 0;
    PutFieldText(block.szPersonName, m_personName.GetText());
}

// ---- CMPPS

bool CMPPS::RemoveCode(std::size_t index) {
    if (index >= m_codes.size()) return false;
    m_codes.erase(m_codes.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

void CMPPS::FromSOMU(const SOMUProcedureStep& block) {
    m_text1 = GetFieldText(block.szText1);
    m_text2 = GetFieldText(block.szText2);
    m_stepID = GetFieldText(block.szStepID);
    m_text4 = GetFieldText(block.szText4);
    m_codes.clear();
    // Every entry is looked at: an empty one is skipped, not taken for the end.
    for (const SOMUProcCode& entry : block.aCodes) {
        SProcCodeSeq code{GetFieldText(entry.szCodeValue), GetFieldText(entry.szCodingScheme),
                          GetFieldText(entry.szCodeMeaning)};
        if (code.strCodeValue.empty() && code.strCodingScheme.empty() &&
            code.strCodeMeaning.empty())
            continue;
        m_codes.push_back(std::move(code));
    }
}

void CMPPS::ToSOMU(SOMUProcedureStep& block) const {
    PutFieldText(block.szText1, m_text1);
    PutFieldText(block.szText2, m_text2);
    PutFieldText(block.szStepID, m_stepID);
    PutFieldText(block.szText4, m_text4);
    for (std::size_t i = 0; i < kSOMUProcCodeCount; ++i) {
        SOMUProcCode& entry = block.aCodes[i];
        const SProcCodeSeq* code = i < m_codes.size() ? &m_codes[i] : nullptr;
        PutFieldText(entry.szCodeValue, code ? code->strCodeValue : std::string());
        PutFieldText(entry.szCodingScheme, code ? code->strCodingScheme : std::string());
        PutFieldText(entry.szCodeMeaning, code ? code->strCodeMeaning : std::string());
    }
}
