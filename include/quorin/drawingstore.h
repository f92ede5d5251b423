// The annotations stored with an image: one blob of bytes that travels with the image file, its
// parsed list of drawing records, and their exchange with the SDK record's drawing list. The
// store also mirrors and rotates the drawings when the image is mirrored or rotated.
//
// Three blob forms are read (little-endian drawing list, style section, older big-endian form);
// only the drawing-list form is written. Which optional fields a drawing-list blob carries is
// decided by the writer version, compared as text with "1.599990", "1.8.0.0" and "1.8.1.0".
#pragma once
#include <quorin/drawinglist.h>
#include <quorin/export.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One entry of the font table of a style section.
struct SDrawingFont {
    std::uint16_t nValue1 = 0;
    std::uint16_t nValue2 = 0;
    std::string faceName;
};

class QUORIN_EXPORT CDrawingStore {
  public:
    // Blob forms, recognised by their first bytes.
    static constexpr std::uint16_t kDrawingListMagic = 0xACDB;   // 16-bit LE at offset 4
    static constexpr std::uint16_t kStyleSectionMagic = 0x444A;  // 16-bit LE at offset 4
    static constexpr std::uint16_t kOldFormMagic = 0xDCBA;       // bytes 0 and 1, big-endian
    static constexpr const char* kNewestVersion = "1.8.1.0";

    // What AddDrawing does with its item.
    enum AddMode {
        kAppend = 1,    // append a copy
        kReplace = 2,   // replace the drawing with the same id
        kRemove = 3,    // remove the drawing with the same id
        kMove = 4,      // move the drawing with the same id to the given position
        kInsertAt = 5,  // insert a copy before the given position (at the end past it)
    };

    CDrawingStore();
    ~CDrawingStore();
    CDrawingStore(const CDrawingStore& other);  // deep copy; empty when memory runs out
    CDrawingStore& operator=(const CDrawingStore& other);

    // Frees the blob, the colour, font and style tables and the parsed drawing list.
    void Clear();
    // Clear, and the sequence counters of NextDrawingId back to 0 (a header's reset).
    void Reset();

    // Copies a blob in, with the image size its drawings refer to and the drawing flag, and
    // parses it. A blob that is refused (unknown form, truncated, invalid field) leaves the store
    // without drawings (its bytes are kept as they are) and gives false.
    bool SetDrawingData(const void* data, std::size_t size, std::int32_t width, std::int32_t height,
                        std::uint8_t flag);
    // Parses the store's blob again (the form is told by its first bytes).
    bool Parse();
    // Reads an older big-endian blob into the drawing list; drawings that cannot be read are
    // dropped. False only when the blob is not of that form or memory runs out.
    bool ParseOldForm(const std::uint8_t* data, std::size_t size);

    // Size in bytes of the drawing-list blob the drawings would be written as; 0 when it would
    // not fit the blob's 32-bit size field. Without a parsed list the blob held is reported.
    std::uint32_t ComputeBlobSize();
    // Writes the drawings into the store's blob (drawing-list form) and returns it with its
    // size; null and 0 when memory runs out. A store without a parsed list (nothing, or a style
    // section) keeps and returns its blob as it is. When no writer version is set, the newest
    // layout is written and becomes the writer version.
    const std::uint8_t* WriteBlob(std::uint32_t* size);
    const std::uint8_t* GetBlob() const { return m_blob.empty() ? nullptr : m_blob.data(); }
    std::uint32_t GetBlobSize() const { return static_cast<std::uint32_t>(m_blob.size()); }

    // Exchange with the SDK record's drawing list. SetDrawingList refuses (false, store
    // unchanged) a list holding an item that could not be stored (fewer than 1 point or points
    // missing; a type-6 data length outside 1 to 9,998). GetDrawingList frees what the target
    // list holds first (it must be zeros or a list this library filled).
    bool SetDrawingList(const SOMUDrawingList& list);
    bool GetDrawingList(SOMUDrawingList* list) const;

    // See AddMode. `position` counts from 0. Sets the changed flag and gives true on success.
    bool AddDrawing(int mode, const SOMUDrawingItem* item, int position = -1);
    // (type << 16) | the type's next sequence number; types sharing a counter: 1 and 4, 11 and
    // 20. Types 15, 16, 17, 19 and those outside 1 to 21 get sequence 0.
    std::int32_t NextDrawingId(std::int32_t type);

    // Mirror line x = width / 2 (ten times that with `tenfold`).
    void Mirror(bool tenfold);
    // `angle` pi/2 (a clockwise quarter turn: x' = width - y, y' = x) or pi (x' = width - x,
    // y' = height - y); width and height are those of the rotated image and become the store's.
    void Rotate(std::int32_t width, std::int32_t height, double angle);

    bool HasDrawingList() const { return m_hasList; }
    int GetDrawingCount() const { return static_cast<int>(m_drawings.size()); }
    const SOMUDrawingItem* GetDrawing(int index) const;

    // Font entry, or null past the end; an empty table first becomes {655, 500, "Arial"}.
    const SDrawingFont* GetFont(int index);
    int GetColorCount() const { return static_cast<int>(m_colors.size() / 3); }
    const std::uint8_t* GetColor(int index) const;  // three bytes, null past the end
    int GetStyleItemCount() const { return m_styleItemCount; }

    void SetWriterVersion(const char* version) { m_version = version ? version : ""; }
    const char* GetWriterVersion() const { return m_version.c_str(); }
    // Whether the writer version decides the layout (true at construction); when it does not,
    // every optional field is present.
    void SetVersionApplies(bool applies) { m_versionApplies = applies; }
    void SetDrawingFlag(std::uint8_t flag) { m_drawingFlag = flag; }
    std::uint8_t GetDrawingFlag() const { return m_drawingFlag; }
    bool IsChanged() const { return m_changed != 0; }
    void SetChanged(bool changed) { m_changed = changed ? 1 : 0; }
    std::int32_t GetWidth() const { return m_width; }
    std::int32_t GetHeight() const { return m_height; }
    void SetSize(std::int32_t width, std::int32_t height) {
        m_width = width;
        m_height = height;
    }

  private:
    bool ParseDrawingList(const std::uint8_t* data, std::size_t size);
    bool ParseStyleSection(const std::uint8_t* data, std::size_t size);
    bool WriteDrawingList(std::vector<std::uint8_t>* blob);
    std::uint64_t DrawingListSize() const;
    // Version rules of the layout in force.
    bool HasText() const;
    bool HasSecondValue() const;
    bool HasPointTexts() const;
    void ClearDrawings();
    void ClearStyle();
    void CopyFrom(const CDrawingStore& other);
    int FindDrawing(std::int32_t id) const;
    void NoteDrawingId(std::int32_t id);

    std::uint8_t m_changed = 0;  // the drawings changed since they were read
    std::uint8_t m_flag2 = 0;
    std::vector<std::uint8_t> m_colors;  // 3 bytes per colour
    std::vector<SDrawingFont> m_fonts;
    int m_styleItemCount = 0;
    std::vector<std::uint8_t> m_styleItems;  // the style items as read (type byte and data)
    std::vector<std::uint8_t> m_blob;
    bool m_hasList = false;
    std::vector<SOMUDrawingItem> m_drawings;  // each item owns its blocks
    std::int32_t m_counters[16] = {};         // sequence counters of NextDrawingId
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::uint8_t m_drawingFlag = 1;
    std::string m_version;
    bool m_versionApplies = true;
};
