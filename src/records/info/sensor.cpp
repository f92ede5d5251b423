#include "records/info/sensor.h"

#include <quorin/somuimage.h>

namespace {
constexpr std::int32_t kTypeCRIntraOral = 14;
}

void CInfosZel::Reset() {
    m_sensorA = 0;
    m_sensorB = 0;
    m_level = 0;
    m_modified = 1;
    m_valid = 0;
    for (std::int32_t& p : m_parameters) p = 0;
}

void CInfosZel::CopyValues(const CInfosZel& other) {
    m_value = other.m_value;
    m_sensorA = other.m_sensorA;
    m_sensorB = other.m_sensorB;
    m_level = other.m_level;
    m_modified = other.m_modified;
    m_valid = other.m_valid;
    for (int i = 0; i < 6; ++i) m_parameters[i] = other.m_parameters[i];
}

void CInfosZel::SetSensorValues(std::uint16_t a, std::uint16_t b) {
    m_sensorA = a;
    m_sensorB = b;
}

bool CInfosZel::GetSensorValues(std::uint16_t* a, std::uint16_t* b) const {
    if (a != nullptr) *a = m_sensorA;
    if (b != nullptr) *b = m_sensorB;
    return m_sensorA != 0 || m_sensorB != 0;
}

void CInfosZel::SetParameters(std::int32_t p1, std::int32_t p2, std::int32_t p3, std::int32_t p4,
                              std::int32_t p5, std::int32_t p6) {
    const std::int32_t values[6] = {p1, p2, p3, p4, p5, p6};
    for (int i = 0; i < 6; ++i) m_parameters[i] = values[i];
}

int CInfosZel::GetParameters(std::int32_t* p1, std::int32_t* p2, std::int32_t* p3, std::int32_t* p4,
                             std::int32_t* p5, std::int32_t* p6) const {
    std::int32_t* outs[6] = {p1, p2, p3, p4, p5, p6};
    for (int i = 0; i < 6; ++i)
        if (outs[i] != nullptr) *outs[i] = m_parameters[i];
    return 1;
}

std::uint8_t CInfosZel::SetFilterLevel(std::int32_t level) {
    if (level != m_level) {
        m_modified = 1;
        m_level = level;
        Notify(0);
    }
    return m_modified;
}

void CInfosZel::ToSOMU(SOMUImage& record) const {
    SOMUSensor& sensor = record.sensor;
    if (record.nImageType == kTypeCRIntraOral) {
        record.cr.nValue2 = m_level;
        sensor.bCRSensor = 1;
    } else {
        sensor.nFilterLevel = m_level;
        sensor.bSensorPresent = (m_sensorA != 0 || m_sensorB != 0) ? 1 : 0;
    }
    // The parameters go into the record for every type, so that a round trip keeps them.
    for (int i = 0; i < 6; ++i) sensor.anParameters[i] = m_parameters[i];
    const std::uint32_t a = m_sensorA;
    const std::uint32_t b = m_sensorB;
    sensor.nPacked = ((b & 0xFFu) << 24) | ((a >> 8) << 16) | ((b >> 8) << 8) | (a & 0xFFu);
    sensor.nSum = static_cast<std::int32_t>(b + a);
    sensor.nDifference = static_cast<std::int32_t>(b - a);
}

void CInfosZel::FromSOMU(const SOMUImage& record) {
    const SOMUSensor& sensor = record.sensor;
    m_level = record.nImageType == kTypeCRIntraOral ? record.cr.nValue2 : sensor.nFilterLevel;
    const std::uint32_t packed = sensor.nPacked;
    const std::uint16_t a =
        static_cast<std::uint16_t>((packed & 0xFFu) | ((packed >> 8) & 0xFF00u));
    const std::uint16_t b = static_cast<std::uint16_t>((packed >> 24) | (packed & 0xFF00u));
    const auto sum = static_cast<std::int32_t>(std::uint32_t{b} + a);
    const auto difference = static_cast<std::int32_t>(std::uint32_t{b} - a);
    if (sum == sensor.nSum && difference == sensor.nDifference) {
        m_sensorA = a;
        m_sensorB = b;
        m_valid = 1;
    } else {
        m_sensorA = 0;
        m_sensorB = 0;
        m_valid = 0;
    }
    for (int i = 0; i < 6; ++i) m_parameters[i] = sensor.anParameters[i];
}

void CInfosPanoProcess::Reset() {
    m_modified = 1;
    m_level = 1;
    m_enabled = 1;
}

std::uint8_t CInfosPanoProcess::SetLevel(std::int32_t level) {
    if (level != m_level) {
        m_modified = 1;
        m_level = m_enabled ? level : 0;
        Notify(0);
    }
    return m_modified;
}
