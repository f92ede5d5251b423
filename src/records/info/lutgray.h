// How a grey image is to be displayed: brightness, contrast, gamma and inversion, or an explicit
// 16-bit table, and the look-up tables of any size made from them. Two listener kinds reset
// themselves when the record they watch changes: CInfosLUTGrayZel (intra-oral sensor settings)
// and CInfosLUTGrayPano (panoramic processing level).
#pragma once
#include <quorin/somuimage.h>

#include <cstdint>
#include <vector>

#include "records/info/sensor.h"

class CInfosLUTGray {
  public:
    // Valid-mask bits.
    static constexpr std::uint8_t kGamma = 1;
    static constexpr std::uint8_t kBrightness = 2;
    static constexpr std::uint8_t kContrast = 4;

    CInfosLUTGray(std::uint8_t mask, std::uint16_t maxEntries);
    CInfosLUTGray(std::int32_t brightness, std::int32_t contrast, std::int32_t gamma,
                  std::uint8_t inversion, std::uint16_t maxEntries, std::uint8_t mask);
    // The settings of a window (SetWindow).
    CInfosLUTGray(std::uint32_t center, std::uint32_t width, std::uint32_t n,
                  std::uint8_t inversion, std::uint16_t maxEntries, std::uint8_t mask);
    CInfosLUTGray(const CInfosLUTGray& other);
    CInfosLUTGray& operator=(const CInfosLUTGray& other);
    virtual ~CInfosLUTGray() = default;

    virtual void Reset();
    virtual bool IsValid(std::uint8_t mask) const { return (m_mask & mask) != 0; }

    std::int32_t GetBrightness() const { return IsValid(kBrightness) ? m_brightness : 0; }
    std::int32_t GetContrast() const { return IsValid(kContrast) ? m_contrast : 0; }
    std::int32_t GetGamma() const { return IsValid(kGamma) ? m_gamma : 0; }
    void SetBrightness(std::int32_t value) { m_brightness = Clamp(value); }
    void SetContrast(std::int32_t value) { m_contrast = Clamp(value); }
    void SetGamma(std::int32_t value) { m_gamma = (m_mask & kGamma) ? Clamp(value) : 0; }
    std::uint8_t GetMask() const { return m_mask; }
    std::uint16_t GetMaxEntries() const { return m_maxEntries; }

    bool HasNoTable() const { return m_table.empty(); }
    bool IsNeutral() const { return HasNoTable() && GetGamma() == 0; }
    // Replaces the settings by a copy of `n` entries (nothing for a null table or n 0).
    void SetTable(const std::uint16_t* table, std::int32_t n);
    const std::vector<std::uint16_t>& Table() const { return m_table; }

    // Fills `n` entries (values 0 .. n-1) from the table or the settings; false for a null out.
    bool GetTable(std::uint16_t* out, std::uint32_t n) const;
    // 256 entries: the low byte of each entry of GetTable(256).
    bool GetTable8(std::uint8_t* out) const;

    bool IsInversed() const;
    void Invert();

    // Only without a table.
    bool SetSettings(std::int32_t brightness, std::int32_t contrast, std::int32_t gamma,
                     std::uint8_t inversion, std::uint16_t maxEntries);
    void GetSettings(std::int32_t* brightness, std::int32_t* contrast, std::int32_t* gamma,
                     std::uint8_t* inversion, std::uint16_t* maxEntries) const;

    // Settings from a window over an n-entry input range; see the record's unit.
    void SetWindow(std::uint32_t center, std::uint32_t width, std::uint8_t inversion,
                   std::uint32_t n, std::uint16_t maxEntries);
    // The window that the settings' straight line maps onto the output of an n-entry table.
    bool GetWindow(std::int32_t* center, std::int32_t* width, const void* reserved,
                   std::uint32_t n) const;

    // Exchange with the SDK record's LUT settings (the record's table is a copy it owns).
    void FromSettings(const SOMULUTSettings& block);
    bool ToSettings(SOMULUTSettings& block) const;

  protected:
    void ResetValues();  // the base Reset, callable from constructors
    std::int32_t Clamp(std::int32_t value) const;
    std::uint32_t EffectiveMax() const { return m_maxEntries == 0 ? 256u : m_maxEntries; }

    std::int32_t m_brightness = 0;
    std::int32_t m_contrast = 0;
    std::int32_t m_gamma = 0;
    std::uint8_t m_inversion = 0;
    std::uint8_t m_mask = 0;
    std::vector<std::uint16_t> m_table;  // the explicit table; empty when none
    std::uint16_t m_maxEntries = 0;      // 0 means 256
};

// Resets itself (keeping its inversion) whenever its sensor record changes.
class CInfosLUTGrayZel : public CInfosLUTGray, public CInfosZel::IListener {
  public:
    explicit CInfosLUTGrayZel(CInfosZel* zel);
    CInfosLUTGrayZel(const CInfosLUTGrayZel& other);             // registers with the same record
    CInfosLUTGrayZel& operator=(const CInfosLUTGrayZel& other);  // the values only
    ~CInfosLUTGrayZel() override;

    void OnChange(CInfosZel* sender, std::int32_t arg) override;
    void OnDetach(CInfosZel* sender) override;
    const CInfosZel* Source() const { return m_zel; }

  private:
    CInfosZel* m_zel;  // not owned; null once detached
};

// Resets itself (keeping its inversion) whenever the panoramic processing level changes; its
// gamma counts only while the processing is off.
class CInfosLUTGrayPano : public CInfosLUTGray, public CInfosPanoProcess::IListener {
  public:
    static constexpr std::int32_t kDefaultGamma = 48;

    explicit CInfosLUTGrayPano(CInfosPanoProcess* pano);
    CInfosLUTGrayPano(const CInfosLUTGrayPano& other);
    CInfosLUTGrayPano& operator=(const CInfosLUTGrayPano& other);
    ~CInfosLUTGrayPano() override;

    void Reset() override;
    bool IsValid(std::uint8_t mask) const override;
    void OnChange(CInfosPanoProcess* sender, std::int32_t arg) override;
    void OnDetach(CInfosPanoProcess* sender) override;
    const CInfosPanoProcess* Source() const { return m_pano; }

  private:
    CInfosPanoProcess* m_pano;  // not owned; null once detached
    std::int32_t m_defaultGamma = kDefaultGamma;
};
