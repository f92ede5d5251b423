// The group data model: a group data file (full-mouth series, template, context) describes images
// that belong together on one screen. One class tree of items, in which a group is itself an
// item that owns an ordered list of items and an icon. This unit holds the item, group and image
// item classes, their XML elements, and the load and save steps the concrete groups share.
#pragma once
#include <quorin/datetime.h>
#include <quorin/geometry.h>
#include <quorin/simage.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/info/geometry.h"
#include "records/info/lutgray.h"

class CXmlDocument;
class CXmlElement;
class CCoreGroupData;

// Class identifiers as the data files store them.
enum EGroupClassID : std::int32_t {
    CLASSID_ITEM = 0,
    CLASSID_GROUP = 1,
    CLASSID_IMAGE = 2,
    CLASSID_FMS_TEMPLATE = 3,
    CLASSID_FMS = 4,
    CLASSID_CQV = 5,
    CLASSID_FMS_IMAGE = 6,
    CLASSID_CQV_IMAGE = 7,
};

struct CGroupRect {  // screen pixels
    std::int32_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    bool operator==(const CGroupRect&) const = default;
};
struct CGroupPoint {
    std::int32_t X = 0, Y = 0;
    bool operator==(const CGroupPoint&) const = default;
};
struct CGroupSize {
    std::int32_t Dx = 0, Dy = 0;
    bool operator==(const CGroupSize&) const = default;
};

class CCoreItemData {
  public:
    CCoreItemData();
    virtual ~CCoreItemData();
    CCoreItemData(const CCoreItemData&) = delete;
    // Identifier and frame rectangle (not the class, the owner or the last error).
    CCoreItemData& operator=(const CCoreItemData& other);

    // Diagnostic walk; writes nothing.
    virtual void Dump(const std::string& prefix) const;
    // Reads the fields this class declares from an element; a missing element keeps its field.
    virtual void Read(CXmlElement& node);
    // Writes the fields as child elements; false when the document could not take them.
    virtual bool Write(CXmlElement& node);
    // Free releases what the object owns, Reset puts the fields to their defaults; with
    // `withBase` the base classes' parts go first.
    virtual void Free(bool withBase);
    virtual void Reset(bool withBase);
    void FreeAndReset(bool withBase);

    std::int32_t GetClassID() const { return m_classID; }
    CCoreGroupData* GetOwner() const { return m_owner; }
    const std::string& GetIdentifier() const { return m_identifier; }
    void SetIdentifier(const std::string& value) { m_identifier = value; }
    const CGroupRect& GetFrameLocation() const { return m_frame; }
    void SetFrameLocation(const CGroupRect& value) { m_frame = value; }

    // The last failure: a Windows error code, a COM result or a parse error code (0 = none).
    std::int32_t GetErrorCode() const { return m_errorCode; }
    const std::string& GetErrorText() const { return m_errorText; }

  protected:
    friend class CCoreGroupData;
    void SetClassID(std::int32_t id) { m_classID = id; }
    void SetError(std::int32_t code, const std::string& text);
    void SetErrorFromSystem(std::int32_t code);       // the system's text for the code
    void SetErrorFrom(const CXmlDocument& document);  // the document's code and text

  private:
    std::int32_t m_errorCode = 0;
    std::string m_errorText;
    std::int32_t m_classID = CLASSID_ITEM;
    CCoreGroupData* m_owner = nullptr;  // the group whose list holds the item; not owned
    std::string m_identifier;  // image: file name relative to the group file; group: file path
    CGroupRect m_frame;
};

class CCoreGroupData : public CCoreItemData {
  public:
    static constexpr std::int32_t kCurrentVersion = 4;

    CCoreGroupData();
    ~CCoreGroupData() override;
    // The item and group fields except the pixel size. The target's items are replaced by
    // clones of the source's only when its first item can be cloned (later ones that cannot are
    // left out); otherwise the target keeps its own. Its icon is replaced by a copy of the
    // source's only when the source has one with pixels.
    CCoreGroupData& operator=(const CCoreGroupData& other);

    void Dump(const std::string& prefix) const override;
    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;

    virtual bool Load(const std::string& path, bool withIcon) = 0;
    virtual bool Load(const std::string& path) = 0;

    std::int32_t GetVersion() const { return m_version; }
    void SetVersion(std::int32_t value) { m_version = value; }
    const CInfosDateTime& GetCreationDate() const { return m_creationDate; }
    void SetCreationDate(const CInfosDateTime& value) { m_creationDate = value; }
    void SetCreationDate(const std::string& text) { m_creationDate.SetDate(text, DATE_ORDER_YMD); }
    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& value) { m_name = value; }
    const std::string& GetComments() const { return m_comments; }
    void SetComments(const std::string& value) { m_comments = value; }
    float GetPixelSize() const { return m_pixelSize; }
    void SetPixelSize(float value) { m_pixelSize = value; }
    const CGroupSize& GetScreenSize() const { return m_screenSize; }
    void SetScreenSize(const CGroupSize& value) { m_screenSize = value; }

    // The icon (may be null); with `detach` the caller takes it and the group forgets it.
    SImage* GetIcon(bool detach);
    const SImage* PeekIcon() const { return m_icon; }
    // Frees the current icon and adopts `image` (may be null).
    void SetIcon(SImage* image);

    std::size_t GetItemCount() const { return m_items.size(); }
    CCoreItemData* GetItem(std::int64_t index) const;  // null outside 0 .. count - 1
    CCoreItemData* GetFirstItem();                     // restarts the cursor
    CCoreItemData* GetNextItem();                      // null at the end
    // Appends the item (the group owns it from then on) and makes this group its owner; ignores
    // null. When the list cannot grow, the item is deleted and std::bad_alloc thrown.
    void AddItem(CCoreItemData* item);
    void DeleteAllItems();
    void ReplaceItems(CCoreItemData* item);
    // A new copy of a series (4), frame (6) or context image (7); null for anything else.
    static CCoreItemData* CloneItem(const CCoreItemData* item);

    // The icon element under the root.
    void ReadIcon(CXmlElement& root);
    bool WriteIcon(CXmlElement& root);

  protected:
    // The steps every group file shares: the document is parsed, its root checked, the object
    // reset and read. False with the last error set when any step fails (the object unchanged,
    // or emptied when the memory ran out while it was read: E_OUTOFMEMORY).
    bool LoadXml(const std::string& path, bool withIcon, const char* rootName);
    // LoadXml's steps; std::bad_alloc for want of memory before the document is read.
    bool LoadXmlSteps(const std::string& path, bool withIcon, const char* rootName);
    // Reads an already parsed document (for LoadXml and for documents held in memory).
    bool ReadDocument(CXmlDocument& document, bool withIcon, const char* rootName);
    // Writes comment, root, fields and icon, then saves through a temporary file.
    bool SaveXml(const std::string& path, const char* rootName, const char* comment);

  private:
    std::int32_t m_version = kCurrentVersion;
    CInfosDateTime m_creationDate;
    std::string m_name;
    std::string m_comments;
    float m_pixelSize = 1.0f;
    CGroupSize m_screenSize;
    SImage* m_icon = nullptr;  // owned (FreeSImage)
    std::size_t m_cursor = 0;
    std::vector<std::unique_ptr<CCoreItemData>> m_items;
};

class CCoreImageData : public CCoreItemData {
  public:
    CCoreImageData();
    ~CCoreImageData() override;
    // The item part, the UID, filter, transformation, grey LUT and annotation flag; the
    // orientation and display records stay the target's.
    CCoreImageData& operator=(const CCoreImageData& other);

    void Read(CXmlElement& node) override;
    bool Write(CXmlElement& node) override;
    void Free(bool withBase) override;
    void Reset(bool withBase) override;

    std::uint8_t GetDisplayGraphicObject() const { return m_displayGraphicObject; }
    void SetDisplayGraphicObject(std::uint8_t value) { m_displayGraphicObject = value; }
    const std::string& GetSOPInstanceUID() const { return m_sopInstanceUID; }
    void SetSOPInstanceUID(const std::string& value) { m_sopInstanceUID = value; }
    CInfosFilter& Filter() { return m_filter; }
    const CInfosFilter& Filter() const { return m_filter; }
    CInfosLUTGray& LUTGray() { return m_lutGray; }
    const CInfosLUTGray& LUTGray() const { return m_lutGray; }
    const CInfosOrient& GetOrientation() const { return m_orient; }
    void SetOrientation(const CInfosOrient& value) { m_orient = value; }
    CInfosDisplay& Display() { return m_display; }
    const CInfosDisplay& Display() const { return m_display; }
    std::int32_t GetTransformation() const { return m_transformation; }
    void SetTransformation(std::int32_t value) { m_transformation = value; }

  private:
    std::uint8_t m_displayGraphicObject = 0;
    std::string m_sopInstanceUID;
    CInfosFilter m_filter;
    CInfosLUTGray m_lutGray{239, 256};
    CInfosOrient m_orient;
    CInfosDisplay m_display;
    std::int32_t m_transformation = 0;
};

namespace quorin {
// Value conversions of the group files: integers as the runtime's atoi reads them (leading
// blanks, optional sign, digits up to the first other character, saturating; 0 for no number).
std::int32_t GroupTextToInt(const std::string& text);
// Child element readers: true (and the value set) when the element at `path` exists.
bool ReadGroupText(CXmlElement& node, const std::string& path, std::string& value);
bool ReadGroupInt(CXmlElement& node, const std::string& path, std::int32_t& value);
bool ReadGroupFlag(CXmlElement& node, const std::string& path, std::uint8_t& value);
// Writes an element `name` with children `names[i]` = values[i].
bool WriteGroupInts(CXmlElement& node, const char* name, const char* const* names,
                    const std::int32_t* values, std::size_t count);
// Closes an element that has children: its end tag on its own line.
bool CloseGroupElement(CXmlElement& node);
// A path as the group files' loads and saves take it: every isspace character off both ends.
std::string TrimGroupPath(const std::string& path);
}  // namespace quorin
