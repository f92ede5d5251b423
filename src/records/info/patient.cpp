#include <quorin/patient.h>

#include "records/info/recordfields.h"
#include "sdk/somutext.h"

using quorin::GetFieldText;
using quorin::PutFieldText;

// ---- CExam

void CExam::Reset() {
    m_text1.clear();
    m_text2.clear();
    m_text3.clear();
    m_text4.clear();
    m_studyUID.GenerateStudyUID();
    m_dateTime.SetNow();
    m_value = 0;
}

void CExam::SetStudyInfo(std::string_view text1, std::string_view text2, std::string_view date,
                         std::string_view time, std::string_view studyUID, std::string_view text3,
                         std::string_view text4) {
    Reset();
    m_text1 = text1;
    m_text2 = text2;
    m_dateTime.SetDateTime(date, time, DATE_ORDER_YMD);
    if (!studyUID.empty()) m_studyUID.SetText(studyUID);
    m_text3 = text3;
    m_text4 = text4;
}

void CExam::GetStudyInfo(std::string* text1, std::string* text2, std::string* date,
                         std::string* time, std::string* studyUID, std::string* text3,
                         std::string* text4) const {
    if (text1) *text1 = m_text1;
    if (text2) *text2 = m_text2;
    if (date) m_dateTime.GetDate(*date, DATE_ORDER_YMD);
    if (time) m_dateTime.GetTime(*time);
    if (studyUID) *studyUID = m_studyUID.GetText();
    if (text3) *text3 = m_text3;
    if (text4) *text4 = m_text4;
}

void CExam::FromSOMU(const SOMUExam& block) {
    m_text1 = GetFieldText(block.szText1);
    m_text2 = GetFieldText(block.szText2);
    quorin::GetDateTimeFields(m_dateTime, block.szDate, block.szTime);
    m_studyUID.SetText(GetFieldText(block.szStudyUID));
    m_text3 = GetFieldText(block.szText3);
    m_text4 = GetFieldText(block.szText4);
}

void CExam::ToSOMU(SOMUExam& block) const {
    PutFieldText(block.szText1, m_text1);
    PutFieldText(block.szText2, m_text2);
    quorin::PutDateTimeFields(m_dateTime, block.szDate, block.szTime);
    PutFieldText(block.szStudyUID, m_studyUID.GetText());
    PutFieldText(block.szText3, m_text3);
    PutFieldText(block.szText4, m_text4);
}

// ---- CPatient

void CPatient::SetName(std::string_view family, std::string_view given, std::string_view middle,
                       std::string_view prefix, std::string_view suffix) {
    m_family = family;
    m_given = given;
    m_middle = middle;
    m_prefix = prefix;
    m_suffix = suffix;
}

void CPatient::GetName(std::string* family, std::string* given, std::string* middle,
                       std::string* prefix, std::string* suffix) const {
    if (family) *family = m_family;
    if (given) *given = m_given;
    if (middle) *middle = m_middle;
    if (prefix) *prefix = m_prefix;
    if (suffix) *suffix = m_suffix;
}

void CPatient::SetSex(std::string_view text) {
    if (text == "m" || text == "M")
        m_sex = "M";
    else if (text == "f" || text == "F")
        m_sex = "F";
    else
        m_sex = "O";
}

void CPatient::SetFolder(std::string_view text) {
    if (text.empty()) return;
    if (text.back() == '\\' || text.back() == '/') text.remove_suffix(1);
    m_folder = text;
}

void CPatient::FromSOMU(const SOMUImage& record) {
    const SOMUPatient& p = record.patient;
    m_family = GetFieldText(p.szFamilyName);
    m_middle = GetFieldText(p.szMiddleName);
    m_given = GetFieldText(p.szGivenName);
    m_prefix = GetFieldText(p.szPrefix);
    m_suffix = GetFieldText(p.szSuffix);
    // An empty sex stays empty: nothing is invented for a record that says nothing.
    const std::string sex = GetFieldText(p.szSex);
    if (sex.empty())
        m_sex.clear();
    else
        SetSex(sex);
    m_birthDate.Clear();
    m_birthDate.SetDate(GetFieldText(p.szBirthDate), DATE_ORDER_YMD);
    const std::string folder = GetFieldText(record.szDirectory);
    if (folder.empty())
        m_folder.clear();
    else
        SetFolder(folder);
    m_patientID.SetText(GetFieldText(p.szPatientID));
    m_otherID1 = GetFieldText(p.szOtherID1);
    m_otherID2 = GetFieldText(p.szOtherID2);
    m_otherID3 = GetFieldText(p.szOtherID3);
    m_filePath = GetFieldText(p.szFilePath);
    m_exam.FromSOMU(p.exam);
}

bool CPatient::ToSOMU(SOMUImage& record) const {
    SOMUPatient& p = record.patient;
    PutFieldText(p.szFamilyName, m_family);
    PutFieldText(p.szMiddleName, m_middle);
    PutFieldText(p.szGivenName, m_given);
    PutFieldText(p.szPrefix, m_prefix);
    PutFieldText(p.szSuffix, m_suffix);
    PutFieldText(p.szSex, m_sex);
    std::string date;
    m_birthDate.GetDate(date, DATE_ORDER_YMD);
    PutFieldText(p.szBirthDate, date);
    const bool folderFits = quorin::PutFieldPath(record.szDirectory, m_folder);
    PutFieldText(p.szPatientID, m_patientID.GetText());
    PutFieldText(p.szOtherID1, m_otherID1);
    PutFieldText(p.szOtherID2, m_otherID2);
    PutFieldText(p.szOtherID3, m_otherID3);
    const bool pathFits = quorin::PutFieldPath(p.szFilePath, m_filePath);
    m_exam.ToSOMU(p.exam);
    return folderFits && pathFits;
}
