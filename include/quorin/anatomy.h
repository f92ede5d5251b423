// Which part of the mouth an image shows: the anatomic region (four numbers and a coded text)
// and the teeth shown. Tooth numbers are stored in the two-digit FDI notation (ISO 3950) and
// shown or entered in the user's notation, FDI or Universal (1-32 permanent, A-T primary),
// chosen by the settings QUORIN\QV\ToothNotation (1: Universal) or, without it,
// QUORIN\QV\Language (2: Universal). The SDK record carries up to six teeth in that notation.
#pragma once
#include <quorin/export.h>
#include <quorin/somuimage.h>

#include <cstdint>
#include <string>
#include <vector>

// Whether the user's tooth notation is Universal; reads the settings. A conversion of several
// teeth reads it once and hands it on, so that all its teeth use the same notation.
QUORIN_EXPORT bool IsUniversalToothNotation();

class QUORIN_EXPORT CAnatToothNumber {
  public:
    CAnatToothNumber() = default;
    explicit CAnatToothNumber(const char* fdi) { SetNumber(fdi); }
    CAnatToothNumber(const CAnatToothNumber&) = default;
    CAnatToothNumber& operator=(const CAnatToothNumber&) = default;
    virtual ~CAnatToothNumber() = default;

    void Clear() { m_number.clear(); }
    // The FDI text as stored.
    void GetNumber(std::string& text) const { text = m_number; }
    const std::string& GetNumber() const { return m_number; }
    // Stores the text as given (null: empty).
    void SetNumber(const char* text) { m_number = text != nullptr ? text : ""; }

    // FDI: the stored text; Universal: converted by the table, 1 to 9 as "01" to "09".
    void FormatNumber(std::string& out, bool universal) const;
    // Ignores texts that are empty or longer than 2 characters; otherwise strips leading blanks
    // and zeros, upper-cases, takes a number of the other notation for what it is, and stores
    // the FDI number.
    void SetInNotation(const char* text, bool universal);
    // Strips leading blanks and zeros, upper-cases, converts Universal to FDI and stores it.
    void SetFromUniversal(const char* text);
    // SetInNotation / FormatNumber in the user's notation (read from the settings once).
    void SetFromDisplay(const char* text) { SetInNotation(text, IsUniversalToothNotation()); }
    std::string GetDisplay() const;

    // True when the text is a number of the given notation; otherwise converts it in place from
    // the other notation (unchanged when it is in neither) and gives false.
    static bool ValidateOrConvert(std::string& text, bool universal);
    // FDI to Universal (true) or Universal to FDI (false); a text not in the table is unchanged.
    static void ConvertNotation(std::string& text, bool toUniversal);

    // True when the number, without blanks and leading zeros, has fewer than 2 characters.
    bool IsEmpty() const;

  private:
    std::string m_number;
};

class QUORIN_EXPORT CAnatRegion {
  public:
    CAnatRegion() = default;
    CAnatRegion(const CAnatRegion&) = default;
    CAnatRegion& operator=(const CAnatRegion&) = default;  // the four values and the code
    virtual ~CAnatRegion() = default;

    void Reset();
    void SetCode(const char* text) { m_code = text != nullptr ? text : ""; }
    const std::string& GetCode() const { return m_code; }
    void SetValue(int index, std::int32_t value);
    std::int32_t GetValue(int index) const;

    // `anRegion` and `szRegionCode` of the SDK record; the code is cut to 16 characters and
    // always terminated.
    void FromSOMU(const SOMUImage& record);
    void ToSOMU(SOMUImage& record) const;

  private:
    std::int32_t m_values[4] = {};
    std::string m_code;
};

class QUORIN_EXPORT CAnatTeethList {
  public:
    CAnatTeethList() = default;
    CAnatTeethList(const CAnatTeethList& other);  // each tooth through AddTooth
    CAnatTeethList& operator=(const CAnatTeethList& other);
    virtual ~CAnatTeethList() = default;

    // Appends a copy unless the tooth is empty.
    void AddTooth(const CAnatToothNumber& tooth);
    void RemoveAll() { m_teeth.clear(); }
    int GetCount() const { return static_cast<int>(m_teeth.size()); }
    const CAnatToothNumber* GetAt(int index) const;

    // Up to 6 entries of 3 characters, in the user's notation, up to the first empty entry.
    void FromSOMU(const char (&field)[kSOMUTeethCount][3]);
    void FromSOMU(const char (&field)[kSOMUTeethCount][3], bool universal);
    // The first 6 teeth in the user's notation whose number fits an entry (2 characters);
    // the other entries empty.
    void ToSOMU(char (&field)[kSOMUTeethCount][3]) const;
    void ToSOMU(char (&field)[kSOMUTeethCount][3], bool universal) const;

  private:
    std::vector<CAnatToothNumber> m_teeth;
};
