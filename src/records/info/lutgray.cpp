#include "records/info/lutgray.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/core/globalmem.h"
#include "records/core/rounding.h"
#include "records/dib/dibbuffer.h"

namespace {

// A value rounded half up and kept within [0, top]; NaN counts as 0.
std::uint16_t RoundClamp(double value, std::uint32_t top) {
    return static_cast<std::uint16_t>(std::min(quorin::RoundHalfUp<std::uint32_t>(value), top));
}

}  // namespace

CInfosLUTGray::CInfosLUTGray(std::uint8_t mask, std::uint16_t maxEntries)
    : m_mask(mask), m_maxEntries(maxEntries) {
    ResetValues();
}

CInfosLUTGray::CInfosLUTGray(std::int32_t brightness, std::int32_t contrast, std::int32_t gamma,
                             std::uint8_t inversion, std::uint16_t maxEntries, std::uint8_t mask)
    : m_mask(mask), m_maxEntries(maxEntries) {
    ResetValues();
    SetBrightness(brightness);
    SetContrast(contrast);
    SetGamma(gamma);
    m_inversion = inversion;
}

CInfosLUTGray::CInfosLUTGray(std::uint32_t center, std::uint32_t width, std::uint32_t n,
                             std::uint8_t inversion, std::uint16_t maxEntries, std::uint8_t mask)
    : m_mask(mask), m_maxEntries(maxEntries) {
    ResetValues();
    SetWindow(center, width, inversion, n, maxEntries);
}

CInfosLUTGray::CInfosLUTGray(const CInfosLUTGray& other) : m_mask(239) {
    *this = other;
}

CInfosLUTGray& CInfosLUTGray::operator=(const CInfosLUTGray& other) {
    if (this == &other) return *this;
    Reset();
    m_brightness = other.m_brightness;
    m_contrast = other.m_contrast;
    m_gamma = other.m_gamma;
    m_inversion = other.m_inversion;
    m_mask = other.m_mask;
    m_table = other.m_table;
    m_maxEntries = other.m_maxEntries;
    return *this;
}

void CInfosLUTGray::ResetValues() {
    m_brightness = 0;
    m_contrast = 0;
    if (m_mask & kGamma) m_gamma = 0;
    m_inversion = 0;
    m_table.clear();
    m_table.shrink_to_fit();
}

void CInfosLUTGray::Reset() {
    ResetValues();
}

std::int32_t CInfosLUTGray::Clamp(std::int32_t value) const {
    const auto half = static_cast<std::int32_t>(EffectiveMax() / 2);
    // A table of one entry leaves no room either way: every value is neutral.
    if (half == 0) return 0;
    return std::clamp(value, -half, half - 1);
}

void CInfosLUTGray::SetTable(const std::uint16_t* table, std::int32_t n) {
    Reset();
    if (table == nullptr || n <= 0) return;
    m_table.assign(table, table + n);
}

bool CInfosLUTGray::GetTable(std::uint16_t* out, std::uint32_t n) const {
    if (out == nullptr) return false;
    if (n == 0) return true;
    const std::uint32_t top = n - 1;

    if (!m_table.empty()) {
        const auto m = static_cast<std::uint32_t>(m_table.size());
        if (n == m) {
            std::copy(m_table.begin(), m_table.end(), out);
        } else if (n < m) {
            const std::uint32_t k = m / n;
            for (std::uint32_t i = 0; i < n; ++i)
                out[i] = static_cast<std::uint16_t>(m_table[std::size_t{i} * k] / k);
        } else {
            // Between two entries the values step linearly; the last slope runs to the end.
            const std::int64_t k = n / m;
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint32_t j =
                    std::min<std::uint32_t>(static_cast<std::uint32_t>(i / k), m - 1);
                const std::int64_t t = i - std::int64_t{j} * k;
                std::int64_t slope = 0;
                if (j + 1 < m)
                    slope = std::int64_t{m_table[j + 1]} - m_table[j];
                else if (m >= 2)
                    slope = std::int64_t{m_table[m - 1]} - m_table[m - 2];
                const std::int64_t v = std::int64_t{m_table[j]} * k + t * slope;
                out[i] = static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, top));
            }
        }
        return true;
    }

    const std::uint32_t scale = n / EffectiveMax();
    const double C = static_cast<double>(std::int64_t{scale} * GetContrast());
    const double B = static_cast<double>(std::int64_t{scale} * GetBrightness());
    const double G = static_cast<double>(std::int64_t{scale} * GetGamma());
    const double N = n;
    const double H = N / 2;

    const double K = C >= 0 ? H / (H - C) : (H + C) / H;
    const double O = (H - 1) - (H - 1 - B) * K;

    double A = 0, X = 0, Y = 0;
    if (G > 0) {
        A = (H - G) * (H - G) / (2 * (H - G) - N);
        X = (N - 1) - A;
        Y = A;
    } else if (G < 0) {
        A = (H + G) * (H + G) / (2 * (H + G) - N);
        X = A;
        Y = (N - 1) - A;
    }
    const double P = (A - N - 1) * A;

    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint16_t v = RoundClamp(K * i + O, top);
        if (G != 0) {
            v = (G == -H) ? static_cast<std::uint16_t>(top) : RoundClamp(P / (X - v) + Y, top);
        }
        if (m_inversion) v = static_cast<std::uint16_t>(top - v);
        out[i] = v;
    }
    return true;
}

bool CInfosLUTGray::GetTable8(std::uint8_t* out) const {
    if (out == nullptr) return false;
    std::uint16_t table[256];
    GetTable(table, 256);
    for (int i = 0; i < 256; ++i) out[i] = static_cast<std::uint8_t>(table[i] & 0xFF);
    return true;
}

bool CInfosLUTGray::IsInversed() const {
    if (!m_table.empty()) return m_table.front() > m_table.back();
    return m_inversion != 0;
}

void CInfosLUTGray::Invert() {
    if (m_table.empty()) {
        m_inversion = m_inversion ? 0 : 1;
        return;
    }
    const std::uint16_t largest = *std::max_element(m_table.begin(), m_table.end());
    for (std::uint16_t& e : m_table) e = static_cast<std::uint16_t>(largest - e);
}

bool CInfosLUTGray::SetSettings(std::int32_t brightness, std::int32_t contrast, std::int32_t gamma,
                                std::uint8_t inversion, std::uint16_t maxEntries) {
    if (!m_table.empty()) return false;
    m_maxEntries = maxEntries;
    SetBrightness(brightness);
    SetContrast(contrast);
    SetGamma(gamma);
    m_inversion = inversion;
    return true;
}

void CInfosLUTGray::GetSettings(std::int32_t* brightness, std::int32_t* contrast,
                                std::int32_t* gamma, std::uint8_t* inversion,
                                std::uint16_t* maxEntries) const {
    const bool table = !m_table.empty();
    if (brightness) *brightness = table ? 0 : GetBrightness();
    if (contrast) *contrast = table ? 0 : GetContrast();
    if (gamma) *gamma = table ? 0 : GetGamma();
    if (inversion) *inversion = table ? 0 : m_inversion;
    if (maxEntries) *maxEntries = table ? 0 : static_cast<std::uint16_t>(EffectiveMax());
}

void CInfosLUTGray::SetWindow(std::uint32_t center, std::uint32_t width, std::uint8_t inversion,
                              std::uint32_t n, std::uint16_t maxEntries) {
    if (!m_table.empty() || n <= 1 || center > n - 1 || width > n) return;
    Reset();
    if (maxEntries > 0) m_maxEntries = maxEntries;
    const std::uint32_t M = EffectiveMax();
    const double Hm = static_cast<double>(M / 2);
    const double contrast = (1.0 - static_cast<double>(width) / n) * (Hm - 1);
    const double brightness = (Hm - 1) - (static_cast<double>(center) / n) * (M - 1);
    SetContrast(static_cast<std::int32_t>(contrast));
    SetBrightness(static_cast<std::int32_t>(brightness));
    m_inversion = inversion;
}

bool CInfosLUTGray::GetWindow(std::int32_t* center, std::int32_t* width, const void* /*reserved*/,
                              std::uint32_t n) const {
    if (!m_table.empty() || GetGamma() != 0 || GetContrast() < 0) {
        if (center) *center = static_cast<std::int32_t>(n / 2) - 1;
        if (width) *width = static_cast<std::int32_t>(n);
        return false;
    }
    const std::uint32_t M = EffectiveMax();
    const double Hm = M / 2.0;
    const double c = GetContrast();
    const double b = GetBrightness();
    const double k = Hm / (Hm - c);
    const double O = (Hm - 1) - (Hm - 1 - b) * k;
    const double s = static_cast<double>(n / M);
    if (center) *center = static_cast<std::int32_t>((n - 2 * s * O) / (2 * k));
    if (width) *width = static_cast<std::int32_t>(n / k);
    return true;
}

void CInfosLUTGray::FromSettings(const SOMULUTSettings& block) {
    Reset();
    m_maxEntries = block.nMaxEntries;
    SetBrightness(block.nBrightness);
    SetContrast(block.nContrast);
    SetGamma(block.nGamma);
    m_inversion = block.bInversion;
    // A count without a table, or a table smaller than its count, is no table.
    if (block.nTableCount > 0 && block.pTable != nullptr &&
        quorin::BlockHolds(block.pTable, std::uint64_t(block.nTableCount) * sizeof(std::uint16_t)))
        m_table.assign(block.pTable, block.pTable + block.nTableCount);
}

bool CInfosLUTGray::ToSettings(SOMULUTSettings& block) const {
    block.nBrightness = m_brightness;
    block.nContrast = m_contrast;
    block.nGamma = m_gamma;
    block.bInversion = m_inversion;
    block.nMaxEntries = static_cast<std::uint16_t>(EffectiveMax());
    // The record owns its table: the old one goes before the new copy takes its place.
    FreeGlobalPointer(block.pTable);
    block.pTable = nullptr;
    block.nTableCount = 0;
    bool ok = true;
    if (!m_table.empty()) {
        const std::size_t bytes = m_table.size() * sizeof(std::uint16_t);
        auto* table = static_cast<std::uint16_t*>(quorin::AllocRecordBlock(bytes));
        if (table != nullptr) {
            std::memcpy(table, m_table.data(), bytes);
            block.pTable = table;
            block.nTableCount = static_cast<std::int32_t>(m_table.size());
        } else {
            ok = false;
        }
    }
    block.bNoTable = block.pTable == nullptr ? 1 : 0;
    block.bNeutral = (block.pTable == nullptr && GetGamma() == 0) ? 1 : 0;
    return ok;
}

// ---- Listener kinds

CInfosLUTGrayZel::CInfosLUTGrayZel(CInfosZel* zel) : CInfosLUTGray(7, 256), m_zel(zel) {
    if (m_zel) m_zel->AddListener(this);
}

CInfosLUTGrayZel::CInfosLUTGrayZel(const CInfosLUTGrayZel& other)
    : CInfosLUTGray(other), m_zel(other.m_zel) {
    if (m_zel) m_zel->AddListener(this);
}

CInfosLUTGrayZel& CInfosLUTGrayZel::operator=(const CInfosLUTGrayZel& other) {
    CInfosLUTGray::operator=(other);
    return *this;
}

CInfosLUTGrayZel::~CInfosLUTGrayZel() {
    if (m_zel) m_zel->RemoveListener(this);
}

void CInfosLUTGrayZel::OnChange(CInfosZel* /*sender*/, std::int32_t /*arg*/) {
    const std::uint8_t inversion = m_inversion;
    Reset();
    m_inversion = inversion;
}

void CInfosLUTGrayZel::OnDetach(CInfosZel* sender) {
    if (sender == m_zel) m_zel = nullptr;
}

CInfosLUTGrayPano::CInfosLUTGrayPano(CInfosPanoProcess* pano)
    : CInfosLUTGray(239, 256), m_pano(pano) {
    m_gamma = m_defaultGamma;
    if (m_pano) m_pano->AddListener(this);
}

CInfosLUTGrayPano::CInfosLUTGrayPano(const CInfosLUTGrayPano& other)
    : CInfosLUTGray(other), m_pano(other.m_pano), m_defaultGamma(other.m_defaultGamma) {
    if (m_pano) m_pano->AddListener(this);
}

CInfosLUTGrayPano& CInfosLUTGrayPano::operator=(const CInfosLUTGrayPano& other) {
    CInfosLUTGray::operator=(other);
    return *this;
}

CInfosLUTGrayPano::~CInfosLUTGrayPano() {
    if (m_pano) m_pano->RemoveListener(this);
}

void CInfosLUTGrayPano::Reset() {
    CInfosLUTGray::Reset();
    m_gamma = m_defaultGamma;
}

bool CInfosLUTGrayPano::IsValid(std::uint8_t mask) const {
    if ((m_mask & mask & ~kGamma) != 0) return true;
    if ((mask & kGamma) == 0 || (m_mask & kGamma) == 0) return false;
    // Gamma counts only while the panoramic processing is off.
    return m_pano == nullptr || m_pano->IsEnabled() == 0 || m_pano->GetLevel() == 0;
}

void CInfosLUTGrayPano::OnChange(CInfosPanoProcess* /*sender*/, std::int32_t /*arg*/) {
    const std::uint8_t inversion = m_inversion;
    Reset();
    m_inversion = inversion;
}

void CInfosLUTGrayPano::OnDetach(CInfosPanoProcess* sender) {
    if (sender == m_pano) m_pano = nullptr;
}
