// The series an image belongs to (CImageGroup, with its person name CPersonName) and the
// performed procedure step with its procedure codes (CMPPS, SProcCodeSeq). Series and instance
// UIDs are generated when missing.
#pragma once
#include <quorin/datetime.h>
#include <quorin/export.h>
#include <quorin/somuimage.h>
#include <quorin/uid.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QUORIN_EXPORT CPersonName {
  public:
    static constexpr std::size_t kMaxLength = 65;

    // Keeps the first 65 characters and splits them at "^" into at most five components.
    void Set(std::string_view text);
    const std::string& GetText() const { return m_text; }
    // Family, given, middle, prefix, suffix; to the outputs that are not null.
    void GetComponents(std::string* family, std::string* given, std::string* middle,
                       std::string* prefix, std::string* suffix) const;

  private:
    std::string m_text;
    std::string m_components[5];
};

class QUORIN_EXPORT CImageGroup {
  public:
    CImageGroup() = default;
    CImageGroup(const CImageGroup&) = default;
    CImageGroup& operator=(const CImageGroup&) = default;
    virtual ~CImageGroup() = default;

    // The text, or a newly generated UID when it is empty.
    void SetSeriesUID(std::string_view text);
    void SetInstanceUID(std::string_view text);
    const CUid& SeriesUID() const { return m_seriesUID; }
    const CUid& InstanceUID() const { return m_instanceUID; }
    void SetSeriesNumber(std::string_view text) { m_seriesNumber = text; }
    void SetInstanceNumber(std::string_view text) { m_instanceNumber = text; }
    const std::string& GetSeriesNumber() const { return m_seriesNumber; }
    const std::string& GetInstanceNumber() const { return m_instanceNumber; }
    // Only when the class code is not 0 and the UID is not empty.
    void SetReferencedImage(std::string_view uid, std::int32_t classCode, std::int32_t number);
    void GetReferencedImage(std::string* uid, std::int32_t* classCode, std::int32_t* number) const;
    CPersonName& PersonName() { return m_personName; }
    const CPersonName& PersonName() const { return m_personName; }
    CInfosDateTime& DateTime() { return m_dateTime; }
    const CInfosDateTime& DateTime() const { return m_dateTime; }

    void FromSOMU(const SOMUSeries& block);
    void ToSOMU(SOMUSeries& block) const;

  private:
    CInfosDateTime m_dateTime;
    std::string m_seriesNumber;
    CUid m_seriesUID;
    CUid m_instanceUID;
    std::string m_instanceNumber;
    CPersonName m_personName;
    std::string m_referencedUID;
    std::int32_t m_referencedClass = 0;  // 0: no referenced image
    std::int32_t m_referencedNumber = 0;
};

struct SProcCodeSeq {
    std::string strCodeValue;     // 16 characters in the record
    std::string strCodingScheme;  // 16
    std::string strCodeMeaning;   // 64
};

class QUORIN_EXPORT CMPPS {
  public:
    CMPPS() = default;
    CMPPS(const CMPPS&) = default;
    CMPPS& operator=(const CMPPS&) = default;
    virtual ~CMPPS() = default;

    void Reset() { *this = CMPPS(); }
    void SetText1(std::string_view text) { m_text1 = text; }
    void SetText2(std::string_view text) { m_text2 = text; }
    void SetStepID(std::string_view text) { m_stepID = text; }
    void SetText4(std::string_view text) { m_text4 = text; }
    const std::string& GetText1() const { return m_text1; }
    const std::string& GetText2() const { return m_text2; }
    const std::string& GetStepID() const { return m_stepID; }
    const std::string& GetText4() const { return m_text4; }

    void AddCode(const SProcCodeSeq& code) { m_codes.push_back(code); }
    std::size_t GetCodeCount() const { return m_codes.size(); }
    const SProcCodeSeq* GetCode(std::size_t index) const {
        return index < m_codes.size() ? &m_codes[index] : nullptr;
    }
    bool RemoveCode(std::size_t index);
    void RemoveAllCodes() { m_codes.clear(); }

    // Up to 32 codes go into the record; reading back skips entries whose texts are all empty.
    void FromSOMU(const SOMUProcedureStep& block);
    void ToSOMU(SOMUProcedureStep& block) const;

  private:
    std::string m_text1;
    std::string m_text2;
    std::string m_stepID;
    std::string m_text4;
    std::vector<SProcCodeSeq> m_codes;
};
