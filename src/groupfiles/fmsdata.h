// Full-mouth series (".fms" files) and the templates they are made from: a layout of frames,
// each holding one radiograph, stored as a small XML document ("FMS_DATA" or "TEMPLATE_DATA").
// Reading a template or a series converts the coordinates of files older than version 4.
#pragma once
#include <quorin/uid.h>

#include <cstdint>
#include <string>

#include "groupfiles/groupdata.h"

class CFmsTemplateData : public CCoreGroupData {
  public:
    static constexpr const char* kRootName = "TEMPLATE_DATA";
    static constexpr const char* kComment = "Quorin FMS Template File";
    // Factor from the older coordinate unit to screen pixels (the float 0.039 as a double).
    static constexpr double kOldUnitToPixels = static_cast<double>(0.039f);

    CFmsTemplateData();
    ~CFmsTemplateData() override;
    CFmsTemplateData& operator=(const CFmsTemplateData& other);  // group part and template fields

    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;
    bool Load(const std::string& path, bool withIcon) override;
    bool Load(const std::string& path) override { return Load(path, true); }
    virtual bool Save();  // to Identifier
    virtual bool Save(const std::string& path);
    virtual void UpgradeOldVersion();

    const CGroupPoint& GetCenterLocation() const { return m_center; }
    void SetCenterLocation(const CGroupPoint& value) { m_center = value; }
    std::uint8_t GetFitImageToFrame() const { return m_fitImageToFrame; }
    void SetFitImageToFrame(std::uint8_t value) { m_fitImageToFrame = value; }
    std::uint8_t GetSecondFit() const { return m_secondFit; }
    void SetSecondFit(std::uint8_t value) { m_secondFit = value; }
    std::uint8_t GetFreeFormat() const { return m_freeFormat; }
    void SetFreeFormat(std::uint8_t value) { m_freeFormat = value; }
    std::uint8_t GetUserDefined() const { return m_userDefined; }
    void SetUserDefined(std::uint8_t value) { m_userDefined = value; }
    std::uint8_t GetExtraOralFMS() const { return m_extraOralFMS; }
    void SetExtraOralFMS(std::uint8_t value) { m_extraOralFMS = value; }
    std::uint8_t GetSuperimpositionFMS() const { return m_superimpositionFMS; }
    void SetSuperimpositionFMS(std::uint8_t value) { m_superimpositionFMS = value; }
    const std::string& GetTemplateIdentifier() const { return m_templateIdentifier; }
    void SetTemplateIdentifier(const std::string& value) { m_templateIdentifier = value; }

  protected:
    virtual const char* RootName() const { return kRootName; }
    virtual const char* CommentText() const { return kComment; }

  private:
    CGroupPoint m_center;
    std::uint8_t m_fitImageToFrame = 0;
    std::uint8_t m_secondFit = 1;  // cleared whenever FitImageToFrame is read; never written
    std::uint8_t m_freeFormat = 0;
    std::uint8_t m_userDefined = 1;
    std::uint8_t m_extraOralFMS = 0;
    std::uint8_t m_superimpositionFMS = 0;
    std::string m_templateIdentifier;  // read and written by CFmsData only
};

class CFmsData : public CFmsTemplateData {
  public:
    static constexpr const char* kRootName = "FMS_DATA";
    static constexpr const char* kComment = "Quorin FMS File";

    CFmsData();
    ~CFmsData() override;
    CFmsData& operator=(const CFmsData& other);  // the template copy, then the UID

    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;
    // Load and Save are the template's, with this class's root name and comment.

    const CUid& GetFMSUID() const { return m_fmsUID; }
    void SetFMSUID(const CUid& value) { m_fmsUID = value; }

  protected:
    const char* RootName() const override { return kRootName; }
    const char* CommentText() const override { return kComment; }

  private:
    CUid m_fmsUID;
};

class CFmsImageData : public CCoreImageData {
  public:
    static constexpr int kToothCount = 6;
    // The nine frame values, in file order.
    enum EFrameValue : int {
        FRAME_NUMBER,
        TOP_ATTACHMENT,
        TOP_FRAME,
        BOTTOM_ATTACHMENT,
        BOTTOM_FRAME,
        LEFT_ATTACHMENT,
        LEFT_FRAME,
        RIGHT_ATTACHMENT,
        RIGHT_FRAME,
        FRAME_VALUE_COUNT
    };

    CFmsImageData();
    ~CFmsImageData() override;
    CFmsImageData& operator=(const CFmsImageData& other);

    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;

    CInfosDateTime GetAcquisitionDate() const { return m_acquisitionDate; }
    void SetAcquisitionDate(const CInfosDateTime& value) { m_acquisitionDate = value; }
    std::int32_t GetFrameType() const { return m_frameType; }  // 0: not an image frame
    void SetFrameType(std::int32_t value) { m_frameType = value; }
    std::int32_t GetFrameImageType() const { return m_frameImageType; }
    void SetFrameImageType(std::int32_t value) { m_frameImageType = value; }
    std::int32_t GetToothNumber(int index) const;  // 0 outside 0..5
    void SetToothNumber(std::int32_t value, int index);
    std::int32_t GetFrameValue(EFrameValue which) const;
    void SetFrameValue(EFrameValue which, std::int32_t value);

  private:
    CInfosDateTime m_acquisitionDate;
    std::int32_t m_frameType = 1;
    std::int32_t m_frameImageType = 1;
    std::int32_t m_teeth[kToothCount] = {};
    std::int32_t m_frameValues[FRAME_VALUE_COUNT] = {};
};
