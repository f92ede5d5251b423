#include "records/info/geometry.h"

#include <quorin/geometry.h>
#include <quorin/simage.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/core/globalmem.h"
#include "records/dib/dibbuffer.h"

// ---- CInfosOrient

CInfosOrient& CInfosOrient::operator=(const CInfosOrient& other) {
    m_mirror = other.m_mirror;
    m_flip = other.m_flip;
    m_value = other.m_value;
    m_rotation = other.m_rotation;
    return *this;
}

void CInfosOrient::Reset() {
    m_mirror = 0;
    m_flip = 0;
    m_value = 0;
    m_rotation = 0;
    m_set[0] = m_set[1] = m_set[2] = 1;
}

void CInfosOrient::FromSOMU(const SOMUOrientation& block) {
    m_mirror = block.bMirror;
    m_flip = block.bFlip;
    m_value = block.nValue;
    m_rotation = block.nRotation;
    m_set[0] = m_set[1] = m_set[2] = 1;
}

void CInfosOrient::ToSOMU(SOMUOrientation& block) const {
    block.bMirror = m_mirror;
    block.bFlip = m_flip;
    block.nValue = m_value;
    block.nRotation = m_rotation;
}

bool CInfosOrient::Rotate(std::int32_t angle) {
    const std::int64_t next = (std::int64_t{m_rotation} + angle) % 360;
    if (next != 0 && next != 90 && next != 180 && next != 270) return false;
    m_rotation = static_cast<std::int32_t>(next);
    return true;
}

// ---- CInfosCorners

void CInfosCorners::SetCorner(int index, std::int32_t x, std::int32_t y) {
    static constexpr std::int32_t kBits[4] = {kCorner1, kCorner2, kCorner3, kCorner4};
    m_x[index] = x;
    m_y[index] = y;
    if (x == 0 && y == 0)
        m_mask &= ~kBits[index];
    else
        m_mask |= kBits[index];
}

void CInfosCorners::SetCorners(const std::int32_t* values) {
    if (values == nullptr) return;
    for (int i = 0; i < 4; ++i) SetCorner(i, values[2 * i], values[2 * i + 1]);
}

bool CInfosCorners::GetCorner(int index, std::int32_t* x, std::int32_t* y) const {
    if (index < 0 || index > 3) return false;
    if (x) *x = m_x[index];
    if (y) *y = m_y[index];
    return true;
}

void CInfosCorners::ToSOMU(std::int32_t (&corners)[8]) const {
    for (int i = 0; i < 4; ++i) {
        corners[2 * i] = m_x[i];
        corners[2 * i + 1] = m_y[i];
    }
}

void CInfosCorners::Rotate(std::int32_t angle) {
    // Each new corner from an old one (swap: x and y exchanged).
    struct Source {
        int corner;
        bool swap;
    };
    const Source* map = nullptr;
    static constexpr Source k90[4] = {{2, true}, {0, true}, {3, true}, {1, true}};
    static constexpr Source k180[4] = {{3, false}, {2, false}, {1, false}, {0, false}};
    static constexpr Source k270[4] = {{1, true}, {3, true}, {0, true}, {2, true}};
    if (angle == 90) map = k90;
    if (angle == 180) map = k180;
    if (angle == 270) map = k270;
    if (map == nullptr) return;
    const CInfosCorners old = *this;
    for (int i = 0; i < 4; ++i) {
        const int s = map[i].corner;
        if (map[i].swap)
            SetCorner(i, old.m_y[s], old.m_x[s]);
        else
            SetCorner(i, old.m_x[s], old.m_y[s]);
    }
}

void CInfosCorners::Mirror() {
    const CInfosCorners old = *this;
    SetCorner(0, old.m_x[1], old.m_y[1]);
    SetCorner(1, old.m_x[0], old.m_y[0]);
    SetCorner(2, old.m_x[3], old.m_y[3]);
    SetCorner(3, old.m_x[2], old.m_y[2]);
}

void CInfosCorners::Flip() {
    const CInfosCorners old = *this;
    SetCorner(0, old.m_x[2], old.m_y[2]);
    SetCorner(2, old.m_x[0], old.m_y[0]);
    SetCorner(1, old.m_x[3], old.m_y[3]);
    SetCorner(3, old.m_x[1], old.m_y[1]);
}

// ---- CInfosFilter

void CInfosFilter::Reset() {
    m_filter = 0;
    m_parameter = 0;
    m_processed = 0;
    m_set1 = 1;
    m_set2 = 1;
}

void CInfosFilter::SetFilter(std::int32_t filter, std::int32_t parameter) {
    if (m_processed == 1) {
        m_filter = 0;
        m_parameter = 0;
    } else {
        m_filter = filter;
        m_parameter = parameter;
    }
    m_set1 = 1;
    m_set2 = 1;
}

std::int32_t CInfosFilter::GetFilter(std::int32_t* filter, std::int32_t* parameter) const {
    if (filter) *filter = m_filter;
    if (parameter) *parameter = m_filter != 0 ? m_parameter : 0;
    return m_filter;
}

// ---- CPixelSize

bool CPixelSize::SetFromArray(const double* values, std::size_t count) {
    if (values == nullptr || count < 2) return false;
    m_x = values[0];
    m_y = values[1];
    return true;
}

bool CPixelSize::IsSet() const {
    return std::fabs(m_x) > 1e-6 && std::fabs(m_y) > 1e-6;
}

// ---- Program texts

namespace {

std::string ProgramText(std::uint16_t program) {
    char text[16];
    std::snprintf(text, sizeof text, "P%u", static_cast<unsigned>(program));
    return text;
}

bool CopyCut(const std::string& text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return false;
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return true;
}

}  // namespace

// ---- CInfosPano

void CInfosPano::GetProgramText(std::string& text) const {
    text = ProgramText(m_program);
}

bool CInfosPano::GetProgramText(char* buffer, std::size_t size) const {
    return CopyCut(ProgramText(m_program), buffer, size);
}

bool CInfosPano::SetPoints(std::uint16_t count, const std::uint32_t* points) {
    if (count == 0 || points == nullptr) return false;
    m_points.assign(points, points + count);
    return true;
}

std::uint16_t CInfosPano::GetPoints(std::uint32_t** table) const {
    if (table == nullptr) return GetPointCount();
    *table = nullptr;
    if (m_points.empty()) return 0;
    const std::size_t bytes = m_points.size() * sizeof(std::uint32_t);
    auto* copy = static_cast<std::uint32_t*>(quorin::AllocRecordBlock(bytes));
    if (copy == nullptr) return 0;
    std::memcpy(copy, m_points.data(), bytes);
    *table = copy;
    return GetPointCount();
}

void CInfosPano::FromSOMU(const SOMUPano& block) {
    m_program = block.nProgram;
    m_points.clear();
    // A count without a table (or with a table too small for it) is no table.
    if (block.nPointCount > 0 && block.pPoints != nullptr &&
        quorin::BlockHolds(block.pPoints, std::uint64_t{block.nPointCount} * sizeof(std::uint32_t)))
        SetPoints(block.nPointCount, block.pPoints);
}

bool CInfosPano::ToSOMU(SOMUPano& block) const {
    block.nProgram = m_program;
    // The record owns its table: the old one goes first.
    FreeGlobalPointer(block.pPoints);
    block.pPoints = nullptr;
    block.nPointCount = 0;
    if (m_points.empty()) return true;
    std::uint32_t* table = nullptr;
    const std::uint16_t count = GetPoints(&table);
    if (table == nullptr) return false;
    block.pPoints = table;
    block.nPointCount = count;
    return true;
}

// ---- CInfosCeph

void CInfosCeph::Reset() {
    for (double& v : m_values1) v = 0.0;
    for (double& v : m_values2) v = 0.0;
    m_value1 = m_value2 = m_program = 0;
    m_flags[0] = m_flags[1] = m_flags[2] = 0;
    m_byte = 0;
    m_angle = 0;
    m_byte2 = 1;
    m_value3 = 0;
}

void CInfosCeph::SetValues(double (&target)[8], const double* values, std::size_t n) {
    const std::size_t count = values == nullptr ? 0 : (n < 8 ? n : 8);
    for (std::size_t i = 0; i < 8; ++i) target[i] = i < count ? values[i] : 0.0;
}

void CInfosCeph::GetProgramText(std::string& text) const {
    text = ProgramText(m_program);
}

bool CInfosCeph::GetProgramText(char* buffer, std::size_t size) const {
    return CopyCut(ProgramText(m_program), buffer, size);
}

void CInfosCeph::GetAngleText(std::string& text) const {
    char buffer[16];
    // The degree sign of the system's 8-bit code page.
    std::snprintf(buffer, sizeof buffer, "%d\xB0", static_cast<int>(m_angle));
    text = buffer;
}

void CInfosCeph::FromSOMU(const SOMUCeph& block) {
    std::memcpy(m_values1, block.adValues1, sizeof m_values1);
    std::memcpy(m_values2, block.adValues2, sizeof m_values2);
    m_value1 = block.nValue1;
    m_value2 = block.nValue2;
    m_program = block.nProgram;
    m_flags[0] = block.nMode == 1 ? 1 : 0;
    m_flags[1] = block.nMode == 2 ? 1 : 0;
    m_flags[2] = block.bFlag3;
    m_byte = block.bByte;
    m_angle = block.nAngle;
    m_byte2 = block.bByte2;
    m_value3 = block.nValue3;
}

void CInfosCeph::ToSOMU(SOMUCeph& block) const {
    std::memcpy(block.adValues1, m_values1, sizeof m_values1);
    std::memcpy(block.adValues2, m_values2, sizeof m_values2);
    block.nValue1 = m_value1;
    block.nValue2 = m_value2;
    block.nProgram = m_program;
    block.nMode = m_flags[0] ? 1 : (m_flags[1] ? 2 : 0);
    block.bFlag3 = m_flags[2];
    block.bByte = m_byte;
    block.nAngle = m_angle;
    block.bByte2 = m_byte2;
    block.nValue3 = m_value3;
}

// ---- SImageSettingsSC

SImageSettingsSC::SImageSettingsSC(std::int32_t v1, std::int32_t v2, std::int32_t v3,
                                   std::int32_t v4, std::int32_t v5, std::uint8_t flag1,
                                   std::uint8_t flag2)
    : anValues{v1, v2, v3, v4, v5}, bFlag1(flag1), bFlag2(flag2), bSet(1) {}

SImageSettingsSC::SImageSettingsSC(const SImageSettingsSC& other) : bSet(1) {
    *this = other;
}

SImageSettingsSC& SImageSettingsSC::operator=(const SImageSettingsSC& other) {
    for (int i = 0; i < 5; ++i) anValues[i] = other.anValues[i];
    bFlag1 = other.bFlag1;
    bFlag2 = other.bFlag2;
    return *this;
}

bool SImageSettingsSC::operator==(const SImageSettingsSC& other) const {
    for (int i = 0; i < 5; ++i)
        if (anValues[i] != other.anValues[i]) return false;
    return bFlag1 == other.bFlag1 && bFlag2 == other.bFlag2;
}

void SImageSettingsSC::FromSOMU(const SOMUColorSettings& block) {
    for (int i = 0; i < 5; ++i) anValues[i] = block.anValues[i];
    bFlag1 = block.bFlag1;
    bFlag2 = block.bFlag2;
}

void SImageSettingsSC::ToSOMU(SOMUColorSettings& block) const {
    for (int i = 0; i < 5; ++i) block.anValues[i] = anValues[i];
    block.bFlag1 = bFlag1;
    block.bFlag2 = bFlag2;
}
