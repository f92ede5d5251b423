#include "records/info/equipment.h"

#include <quorin/equipment.h>

#include <cstdio>
#include <cstring>

#include "platform/system/devicelib.h"
#include "records/info/recordfields.h"
#include "sdk/somutext.h"

using quorin::GetFieldText;
using quorin::PutFieldText;

// ---- CEquipment

void CEquipment::Reset() {
    m_manufacturer = kManufacturer;
    m_modelName.clear();
    m_text3.clear();
    m_dateTime.Clear();
    m_text11.clear();
    m_softwareVersions.clear();
    m_text13.clear();
    m_text14.clear();
    m_institutionName.clear();
    m_text16.clear();
    m_stationName.clear();
    m_text18.clear();
    m_text19.clear();
    m_value16 = 0;
    m_contributing.clear();
    m_value32 = 0;
}

void CEquipment::SetContributingEquipment(std::string_view text) {
    // Room for the terminating zero of the record's field.
    m_contributing = text.substr(0, kSOMUContributingWidth - 1);
    // A text with an embedded zero ends there, as it would in the field.
    m_contributing.resize(std::strlen(m_contributing.c_str()));
}

void CEquipment::FromSOMU(const SOMUEquipment& block) {
    m_manufacturer = GetFieldText(block.szManufacturer);
    m_modelName = GetFieldText(block.szModelName);
    m_text3 = GetFieldText(block.szText3);
    quorin::GetDateTimeFields(m_dateTime, block.szDate, block.szTime);
    m_text11 = GetFieldText(block.szText11);
    m_softwareVersions = GetFieldText(block.szSoftwareVersions);
    m_text13 = GetFieldText(block.szText13);
    m_text14 = GetFieldText(block.szText14);
    m_institutionName = GetFieldText(block.szInstitutionName);
    m_text16 = GetFieldText(block.szText16);
    m_stationName = GetFieldText(block.szStationName);
    m_text18 = GetFieldText(block.szText18);
    m_text19 = GetFieldText(block.szText19);
    m_value16 = block.nValue;
    SetContributingEquipment(GetFieldText(block.szContributingEquipment));
}

void CEquipment::ToSOMU(SOMUEquipment& block) const {
    PutFieldText(block.szManufacturer, m_manufacturer);
    PutFieldText(block.szModelName, m_modelName);
    PutFieldText(block.szText3, m_text3);
    quorin::PutDateTimeFields(m_dateTime, block.szDate, block.szTime);
    PutFieldText(block.szText11, m_text11);
    PutFieldText(block.szSoftwareVersions, m_softwareVersions);
    PutFieldText(block.szText13, m_text13);
    PutFieldText(block.szText14, m_text14);
    PutFieldText(block.szInstitutionName, m_institutionName);
    PutFieldText(block.szText16, m_text16);
    PutFieldText(block.szStationName, m_stationName);
    PutFieldText(block.szText18, m_text18);
    PutFieldText(block.szText19, m_text19);
    block.nValue = m_value16;
    PutFieldText(block.szContributingEquipment, m_contributing);
}

void quorin::AppendVersionEntries(const SQVVersionEntry* list, std::string& out) {
    constexpr std::size_t kLimit = kSOMUContributingWidth - 1;
    const auto piece = [](const char(&field)[32]) {
        std::string text = GetFieldText(field);
        if (text.size() > 12) text.resize(12);
        return text;
    };
    int count = 0;
    for (const SQVVersionEntry* entry = list; entry != nullptr && count < 5;
         entry = entry->pNext, ++count) {
        const std::string text = piece(entry->szText1) + "#" + piece(entry->szText2) + "#" +
                                 piece(entry->szText3) + "#" + "Acquisition Software Module" + "\\";
        if (out.size() >= kLimit) break;
        out.append(text, 0, kLimit - out.size());
    }
}

void CEquipment::GetAcquisitionModuleVersion(const char* libraryName, std::string& out) {
    if (libraryName == nullptr) return;
    win::HMODULE library = win::LoadLibraryA(libraryName);
    if (library == nullptr) return;
    using GetVersionFn = SQVVersionEntry* (*)();
    using FreeVersionFn = void (*)(SQVVersionEntry*);
    auto getVersion = reinterpret_cast<GetVersionFn>(win::GetProcAddress(library, "pQVGetVersion"));
    if (getVersion != nullptr) {
        SQVVersionEntry* list = getVersion();
        quorin::AppendVersionEntries(list, out);
        // The list belongs to the library's heap: only the library may free it. Without its
        // release call the list is left alone rather than freed by a foreign allocator.
        auto freeVersion =
            reinterpret_cast<FreeVersionFn>(win::GetProcAddress(library, "QVFreeVersion"));
        if (freeVersion != nullptr && list != nullptr) freeVersion(list);
    }
    win::FreeLibrary(library);
}

// ---- CDetector

void CDetector::Reset() {
    m_manufacturer = CEquipment::kManufacturer;
    m_modelName.clear();
    m_text3.clear();
    m_value = 0;
}

void CDetector::FromSOMU(const SOMUDetector& block) {
    m_manufacturer = GetFieldText(block.szManufacturer);
    m_modelName = GetFieldText(block.szModelName);
    m_text3 = GetFieldText(block.szText3);
    m_value = block.nValue;
}

void CDetector::ToSOMU(SOMUDetector& block) const {
    PutFieldText(block.szManufacturer, m_manufacturer);
    PutFieldText(block.szModelName, m_modelName);
    PutFieldText(block.szText3, m_text3);
    block.nValue = m_value;
}

// ---- CInfosImage

void CInfosImage::Reset() {
    m_dateTime1.SetNow();
    m_comments.clear();
    m_ratio.clear();
    m_lossy = 0;
    m_value = 0;
    m_dateTime2.Clear();
}

void CInfosImage::SetImageComments(std::string_view text) {
    m_comments = text.substr(0, kMaxComments);
}

void CInfosImage::SetLossyCompression(std::int32_t flag, std::string_view ratio) {
    m_lossy = flag;
    if (flag != 0) m_ratio = ratio;
}

std::int32_t CInfosImage::GetLossyCompression(std::string* ratio) const {
    if (ratio != nullptr) *ratio = m_lossy != 0 ? m_ratio : std::string();
    return m_lossy;
}

void CInfosImage::FromSOMU(const SOMUImageInfo& block) {
    SetImageComments(GetFieldText(block.szComments));
    m_ratio.clear();
    SetLossyCompression(block.nLossy, GetFieldText(block.szLossyRatio));
    quorin::GetDateTimeFields(m_dateTime1, block.szDate1, block.szTime1);
    m_value = block.bValue;
    m_text = GetFieldText(block.szText);
    quorin::GetDateTimeFields(m_dateTime2, block.szDate2, block.szTime2);
}

void CInfosImage::ToSOMU(SOMUImageInfo& block) const {
    PutFieldText(block.szComments, m_comments);
    block.nLossy = m_lossy;
    std::string ratio;
    GetLossyCompression(&ratio);
    PutFieldText(block.szLossyRatio, ratio);
    quorin::PutDateTimeFields(m_dateTime1, block.szDate1, block.szTime1);
    block.bValue = m_value;
    PutFieldText(block.szText, m_text);
    quorin::PutDateTimeFields(m_dateTime2, block.szDate2, block.szTime2);
}

// ---- CInfosExp

std::string CInfosExp::ExposureText(bool unsignedTime) const {
    const double kv = m_voltage * 0.01;
    const double ma = m_current * 0.01;
    char text[96];
    if (m_time <= 1000) {
        if (unsignedTime)
            std::snprintf(text, sizeof text, "%gKV %gmA %ums", kv, ma, unsigned{m_time});
        else
            std::snprintf(text, sizeof text, "%gKV %gmA %dms", kv, ma, int{m_time});
    } else {
        std::snprintf(text, sizeof text, "%gKV %gmA %gs", kv, ma, m_time * 0.001);
    }
    return text;
}

bool CInfosExp::GetExposureText(std::string& text) const {
    if (m_voltage == 0 && m_current == 0 && m_time == 0) return false;
    text += ExposureText(false);
    return true;
}

bool CInfosExp::GetExposureText(char* buffer, std::size_t size) const {
    if (buffer == nullptr || size == 0) return false;
    if (m_voltage == 0 && m_current == 0 && m_time == 0) return false;
    const std::string text = ExposureText(true);
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return true;
}

bool CInfosExp::GetDoseText(std::string& text, std::int32_t kind) const {
    char buffer[96];
    // Units in the system's 8-bit code page (0xB2: superscript two).
    if (kind == 1)
        std::snprintf(buffer, sizeof buffer, "%f mGy.cm\xB2", double{m_doseArea});
    else if (kind == 2)
        std::snprintf(buffer, sizeof buffer, "%f mGy.mm", double{m_doseLength});
    else
        return false;
    text += buffer;
    return true;
}

void CInfosExp::FromSOMU(const SOMUExposure& block) {
    m_voltage = block.nVoltage;
    m_current = block.nCurrent;
    m_time = block.nTime;
    m_doseArea = block.fDoseArea;
    m_doseLength = block.fDoseLength;
    m_value = block.nValue;
}

void CInfosExp::ToSOMU(SOMUExposure& block) const {
    block.nVoltage = m_voltage;
    block.nCurrent = m_current;
    block.nTime = m_time;
    block.fDoseArea = m_doseArea;
    block.fDoseLength = m_doseLength;
    block.nValue = m_value;
}
