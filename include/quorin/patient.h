// Whose image it is: the patient (CPatient) and the study it belongs to (CExam). Texts are
// variable-length in memory and cut to the SDK record's field widths by ToSOMU; paths are never
// cut: a path that does not fit its field fails the conversion.
#pragma once
#include <quorin/datetime.h>
#include <quorin/export.h>
#include <quorin/somuimage.h>
#include <quorin/uid.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QUORIN_EXPORT CExam {
  public:
    CExam() { Reset(); }
    CExam(const CExam&) = default;
    CExam& operator=(const CExam&) = default;
    virtual ~CExam() = default;

    // Texts emptied, a new study UID, date and time now, the value 0.
    void Reset();
    // Reset, then the given texts and date-time (YYYYMMDD, HHMMSS); a non-empty UID replaces the
    // generated one.
    void SetStudyInfo(std::string_view text1, std::string_view text2, std::string_view date,
                      std::string_view time, std::string_view studyUID, std::string_view text3,
                      std::string_view text4);
    // Copies to the outputs that are not null.
    void GetStudyInfo(std::string* text1, std::string* text2, std::string* date, std::string* time,
                      std::string* studyUID, std::string* text3, std::string* text4) const;
    CInfosDateTime& DateTime() { return m_dateTime; }
    const CInfosDateTime& DateTime() const { return m_dateTime; }
    const CUid& StudyUID() const { return m_studyUID; }
    void SetStudyUID(std::string_view text) { m_studyUID.SetText(text); }
    std::int32_t GetValue() const { return m_value; }
    void SetValue(std::int32_t value) { m_value = value; }

    void FromSOMU(const SOMUExam& block);
    void ToSOMU(SOMUExam& block) const;

  private:
    std::string m_text1;
    std::string m_text2;
    CInfosDateTime m_dateTime;
    CUid m_studyUID;
    std::string m_text3;
    std::string m_text4;
    std::int32_t m_value = 0;
};

class QUORIN_EXPORT CPatient {
  public:
    CPatient() = default;
    CPatient(const CPatient&) = default;
    CPatient& operator=(const CPatient&) = default;
    virtual ~CPatient() = default;

    void SetName(std::string_view family, std::string_view given, std::string_view middle,
                 std::string_view prefix, std::string_view suffix);
    void GetName(std::string* family, std::string* given, std::string* middle, std::string* prefix,
                 std::string* suffix) const;
    // "M" or "F" (either case given), anything else "O".
    void SetSex(std::string_view text);
    const std::string& GetSex() const { return m_sex; }
    void SetPatientID(std::string_view text) { m_patientID.SetText(text); }
    const std::string& GetPatientID() const { return m_patientID.GetText(); }
    void SetOtherID1(std::string_view text) { m_otherID1 = text; }
    void SetOtherID2(std::string_view text) { m_otherID2 = text; }
    void SetOtherID3(std::string_view text) { m_otherID3 = text; }
    const std::string& GetOtherID1() const { return m_otherID1; }
    const std::string& GetOtherID2() const { return m_otherID2; }
    const std::string& GetOtherID3() const { return m_otherID3; }
    void SetFilePath(std::string_view text) { m_filePath = text; }
    const std::string& GetFilePath() const { return m_filePath; }
    // Ignored for an empty text; one trailing separator is removed.
    void SetFolder(std::string_view text);
    const std::string& GetFolder() const { return m_folder; }
    CInfosDateTime& BirthDate() { return m_birthDate; }
    const CInfosDateTime& BirthDate() const { return m_birthDate; }
    CExam& Exam() { return m_exam; }
    const CExam& Exam() const { return m_exam; }
    std::vector<std::string>& Texts() { return m_texts; }

    // The patient fields, the folder (the record's directory) and the exam block.
    void FromSOMU(const SOMUImage& record);
    // False when the folder or the file path does not fit its field (that field is emptied;
    // every other field is written).
    bool ToSOMU(SOMUImage& record) const;

  private:
    std::string m_family;
    std::string m_given;
    CInfosDateTime m_birthDate;  // the date alone is exchanged
    std::string m_middle;
    std::string m_prefix;
    std::string m_suffix;
    std::string m_sex;
    std::vector<std::string> m_texts;
    CUid m_patientID;  // holds the ID text
    std::string m_otherID1;
    std::string m_otherID2;
    std::string m_otherID3;
    CExam m_exam;
    std::string m_filePath;
    std::string m_folder;
};
