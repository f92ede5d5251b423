// Context files (".cqv"): a working screen, i.e. the image files that were open, where each stood,
// how it was turned and whether it was shown, the positions of two panels and a comment. The
// current form is an XML document ("CONTEXT_DATA"); CCqvDataQV5 also reads the older chunked
// binary form (read only), converting its screen fractions to pixels of the primary display.
#pragma once
#include <quorin/uid.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "groupfiles/groupdata.h"

class CCqvImageData : public CCoreImageData {
  public:
    enum EShowState : std::int32_t { SHOW_NORMAL = 1, SHOW_STATE_2 = 2, SHOW_STATE_3 = 3 };

    CCqvImageData();
    ~CCqvImageData() override;
    CCqvImageData& operator=(const CCqvImageData& other);

    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;

    std::int32_t GetShowState() const { return m_showState; }
    void SetShowState(std::int32_t value) { m_showState = value; }

  private:
    std::int32_t m_showState = SHOW_NORMAL;
};

class CCqvData : public CCoreGroupData {
  public:
    static constexpr const char* kRootName = "CONTEXT_DATA";
    static constexpr const char* kComment = "Quorin Context File";

    CCqvData();
    ~CCqvData() override;
    CCqvData& operator=(const CCqvData& other);

    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;
    bool Load(const std::string& path, bool withIcon) override;
    bool Load(const std::string& path) override { return Load(path, true); }
    virtual bool Save();  // to Identifier
    virtual bool Save(const std::string& path);

    // A new context image appended to the list; null when it cannot be made.
    CCqvImageData* AddImageItem();

    const CGroupPoint& GetArcadeLocation() const { return m_arcade; }
    void SetArcadeLocation(const CGroupPoint& value) { m_arcade = value; }
    const CGroupPoint& GetCPanelLocation() const { return m_panel; }
    void SetCPanelLocation(const CGroupPoint& value) { m_panel = value; }
    std::uint8_t GetOldFormat() const { return m_oldFormat; }  // 1: read from the binary form
    void SetOldFormat(std::uint8_t value) { m_oldFormat = value; }
    const CUid& GetContextUID() const { return m_contextUID; }
    void SetContextUID(const CUid& value) { m_contextUID = value; }

  private:
    CGroupPoint m_arcade;
    CGroupPoint m_panel;
    std::uint8_t m_oldFormat = 0;
    CUid m_contextUID;
};

class CCqvDataQV5 : public CCqvData {
  public:
    CCqvDataQV5() = default;
    ~CCqvDataQV5() override = default;

    // The XML form first; when that fails, the older binary form. The binary attempt neither
    // sets nor clears the last error (unless the memory left cannot hold it: E_OUTOFMEMORY),
    // and changes nothing unless the whole file reads.
    bool Load(const std::string& path, bool withIcon) override;
    bool Load(const std::string& path) override { return Load(path, true); }

    // Reads the binary form from memory with the given screen size in pixels: locations,
    // comment, images and (with `withIcon`) the icon; icon chunks cut short leave the context
    // without an icon. All or nothing: on failure the object is unchanged. Identifier, Name and
    // CreationDate come from the file and are Load's to set. For want of memory the last error
    // is E_OUTOFMEMORY.
    bool ReadOldContext(const std::uint8_t* data, std::size_t size, bool withIcon,
                        std::int32_t screenWidth, std::int32_t screenHeight);

  private:
    // Load's binary attempt and ReadOldContext; std::bad_alloc for want of memory.
    bool LoadOldContext(const std::string& path, bool withIcon);
    bool ReadOldChunks(const std::uint8_t* data, std::size_t size, bool withIcon,
                       std::int32_t screenWidth, std::int32_t screenHeight);
};

namespace quorin {
// The primary display's size in pixels, which the binary contexts are converted with. There is
// no display here: it is 1024 x 768 unless the host says otherwise. Thread-safe.
void SetPrimaryScreenSize(std::int32_t width, std::int32_t height);
void GetPrimaryScreenSize(std::int32_t* width, std::int32_t* height);
// Largest binary context file read (its icon is at most 360,000 bytes).
inline constexpr std::uint64_t kMaxOldContextBytes = std::uint64_t{16} << 20;
}  // namespace quorin
