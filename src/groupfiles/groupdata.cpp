// Items, groups and image items of the group data files, their XML elements, the icon element,
// and the load and save steps the series, template and context files share.
#include "groupfiles/groupdata.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "groupfiles/contextdata.h"
#include "groupfiles/fmsdata.h"
#include "groupfiles/xmldocument.h"
#include "platform/core/globalmem.h"
#include "platform/core/lasterror.h"
#include "platform/files/ini.h"
#include "sdk/simage.h"

namespace quorin {

std::int32_t GroupTextToInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{1} << 32) break;  // saturates below
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

bool ReadGroupText(CXmlElement& node, const std::string& path, std::string& value) {
    std::unique_ptr<CXmlElement> element = node.SelectElement(path);
    if (!element) return false;
    element->GetText(value);
    return true;
}

bool ReadGroupInt(CXmlElement& node, const std::string& path, std::int32_t& value) {
    std::string text;
    if (!ReadGroupText(node, path, text)) return false;
    value = GroupTextToInt(text);
    return true;
}

bool ReadGroupFlag(CXmlElement& node, const std::string& path, std::uint8_t& value) {
    std::int32_t number = 0;
    if (!ReadGroupInt(node, path, number)) return false;
    value = number != 0 ? 1 : 0;
    return true;
}

bool WriteGroupInts(CXmlElement& node, const char* name, const char* const* names,
                    const std::int32_t* values, std::size_t count) {
    std::unique_ptr<CXmlElement> element = node.CreateChild(name, "");
    if (!element) return false;
    bool ok = true;
    for (std::size_t i = 0; i < count; ++i) ok &= element->AddIntChild(names[i], values[i]);
    return CloseGroupElement(*element) && ok;
}

bool CloseGroupElement(CXmlElement& node) {
    return node.AppendIndentation(false);
}

std::string TrimGroupPath(const std::string& path) {
    std::size_t first = 0, last = path.size();
    while (first < last && std::isspace(static_cast<unsigned char>(path[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(path[last - 1]))) --last;
    return path.substr(first, last - first);
}

}  // namespace quorin

namespace {

using quorin::ReadGroupFlag;
using quorin::ReadGroupInt;
using quorin::ReadGroupText;

constexpr const char* kRectNames[] = {"X1", "Y1", "X2", "Y2"};
constexpr const char* kSizeNames[] = {"Dx", "Dy"};
constexpr const char* kIconNames[] = {"Width", "Height", "SamplesPerPixel", "BitsPerSample"};
constexpr std::uint64_t kMaxLUTEntries = 65536;

// A decimal text as the float the file means; out-of-range values become infinities rather than
// an undefined conversion.
float ToFloat(double value) {
    if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// An icon's samples as the file stores them, (bits - 1) / 8 + 1 bytes each, and as the image
// record holds them, in elements of 1, 2 or 4 bytes (17 to 24 bits: 3 bytes in the file, 4 in
// the record).
struct IconLayout {
    std::uint64_t samples = 0;  // width x height x samples per pixel
    std::uint32_t fileBytesPerSample = 0;
    std::uint32_t recordBytesPerSample = 0;
    std::uint64_t FileBytes() const { return samples * fileBytesPerSample; }
    std::uint64_t RecordBytes() const { return samples * recordBytesPerSample; }
};

// False for numbers no icon can have (each must be positive, bits at most 32, the block within
// the record limit).
bool IconLayoutOf(std::int64_t width, std::int64_t height, std::int64_t samples, std::int64_t bits,
                  IconLayout* layout) {
    if (width <= 0 || height <= 0 || samples <= 0 || bits <= 0 || bits > 32) return false;
    if (width > UINT32_MAX || height > UINT32_MAX || samples > UINT32_MAX) return false;
    layout->fileBytesPerSample = static_cast<std::uint32_t>(bits - 1) / 8 + 1;
    layout->recordBytesPerSample = bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
    std::uint64_t bytes = 0;
    if (!quorin::PixelBlockBytes(
            static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
            static_cast<std::uint32_t>(samples), layout->recordBytesPerSample, &bytes))
        return false;
    layout->samples = bytes / layout->recordBytesPerSample;
    return true;
}

// Copies `count` samples from elements of `fromBytes` to elements of `toBytes` (little-endian:
// a wider element takes the sample in its low bytes, a narrower one keeps the low bytes).
void ConvertSamples(const std::uint8_t* from, std::uint32_t fromBytes, std::uint8_t* to,
                    std::uint32_t toBytes, std::uint64_t count) {
    if (fromBytes == toBytes) {
        std::memcpy(to, from, static_cast<std::size_t>(count * fromBytes));
        return;
    }
    const std::uint32_t take = std::min(fromBytes, toBytes);
    for (std::uint64_t i = 0; i < count; ++i, from += fromBytes, to += toBytes) {
        std::memcpy(to, from, take);
        std::memset(to + take, 0, toBytes - take);
    }
}

// A new item of a class the files hold; null for any other class, and for one of those that
// the memory left cannot hold (the document then notes the shortage).
CCoreItemData* NewItemOfClass(std::int32_t classID, CXmlDocument& document) {
    CCoreItemData* item = nullptr;
    switch (classID) {
        case CLASSID_FMS:
            item = new (std::nothrow) CFmsData;
            break;
        case CLASSID_FMS_IMAGE:
            item = new (std::nothrow) CFmsImageData;
            break;
        case CLASSID_CQV_IMAGE:
            item = new (std::nothrow) CCqvImageData;
            break;
        default:
            return nullptr;
    }
    if (item == nullptr) document.NoteOutOfMemory();
    return item;
}

template <class T>
CCoreItemData* CopyOf(const CCoreItemData* item) {
    const auto* source = dynamic_cast<const T*>(item);
    if (source == nullptr) return nullptr;
    T* copy = new (std::nothrow) T;
    if (copy != nullptr) *copy = *source;
    return copy;
}

}  // namespace

// ---- CCoreItemData

CCoreItemData::CCoreItemData() {
    Reset(false);
}

CCoreItemData::~CCoreItemData() {
    Free(false);
}

CCoreItemData& CCoreItemData::operator=(const CCoreItemData& other) {
    if (this == &other) return *this;
    m_identifier = other.m_identifier;
    m_frame = other.m_frame;
    return *this;
}

void CCoreItemData::Dump(const std::string& /*prefix*/) const {}

void CCoreItemData::Free(bool /*withBase*/) {}

void CCoreItemData::Reset(bool /*withBase*/) {
    m_classID = CLASSID_ITEM;
    m_identifier.clear();
    m_frame = CGroupRect{};
}

void CCoreItemData::FreeAndReset(bool withBase) {
    Free(withBase);
    Reset(withBase);
}

void CCoreItemData::Read(CXmlElement& node) {
    FreeAndReset(false);
    ReadGroupText(node, "Identifier", m_identifier);
    std::int32_t* rect[] = {&m_frame.X1, &m_frame.Y1, &m_frame.X2, &m_frame.Y2};
    for (int i = 0; i < 4; ++i)
        ReadGroupInt(node, std::string("FrameLocation/") + kRectNames[i], *rect[i]);
}

bool CCoreItemData::Write(CXmlElement& node) {
    const std::int32_t rect[] = {m_frame.X1, m_frame.Y1, m_frame.X2, m_frame.Y2};
    bool ok = node.AddIntChild("ClassID", m_classID);
    ok &= node.AddTextChild("Identifier", m_identifier);
    ok &= quorin::WriteGroupInts(node, "FrameLocation", kRectNames, rect, 4);
    return ok;
}

void CCoreItemData::SetError(std::int32_t code, const std::string& text) {
    m_errorCode = code;
    m_errorText = text;
}

void CCoreItemData::SetErrorFromSystem(std::int32_t code) {
    m_errorCode = code;
    try {
        m_errorText = quorin::SystemMessage(code);
    } catch (const std::bad_alloc&) {  // the code says it all
        m_errorText.clear();
    }
}

void CCoreItemData::SetErrorFrom(const CXmlDocument& document) {
    SetError(document.GetErrorCode(), document.GetErrorText());
}

// ---- CCoreGroupData

CCoreGroupData::CCoreGroupData() {
    Reset(false);
}

CCoreGroupData::~CCoreGroupData() {
    Free(false);
}

CCoreGroupData& CCoreGroupData::operator=(const CCoreGroupData& other) {
    if (this == &other) return *this;
    CCoreItemData::operator=(other);
    m_version = other.m_version;
    m_creationDate = other.m_creationDate;
    m_name = other.m_name;
    m_comments = other.m_comments;
    m_screenSize = other.m_screenSize;  // the pixel size stays the target's
    // The items are replaced only when the first one can be cloned; later items that cannot be
    // are left out. Everything is cloned before anything is deleted, so that copying a group into
    // one of its own items stays sound.
    std::vector<std::unique_ptr<CCoreItemData>> clones;
    if (!other.m_items.empty()) {
        std::unique_ptr<CCoreItemData> first(CloneItem(other.m_items.front().get()));
        if (first) {
            clones.push_back(std::move(first));
            for (std::size_t i = 1; i < other.m_items.size(); ++i)
                if (CCoreItemData* clone = CloneItem(other.m_items[i].get()))
                    clones.emplace_back(clone);
        }
    }
    if (!clones.empty()) {
        ReplaceItems(clones.front().release());
        for (std::size_t i = 1; i < clones.size(); ++i) AddItem(clones[i].release());
    }
    // The icon is replaced only by a source icon that has pixels.
    if (other.m_icon != nullptr && other.m_icon->pPixels != nullptr)
        SetIcon(DuplicateSImage(other.m_icon));
    return *this;
}

void CCoreGroupData::Dump(const std::string& prefix) const {
    CCoreItemData::Dump(prefix + "   ");
    for (const auto& item : m_items) item->Dump(prefix + "  ");
}

void CCoreGroupData::Free(bool withBase) {
    if (withBase) CCoreItemData::Free(true);
    SetIcon(nullptr);
    DeleteAllItems();
}

void CCoreGroupData::Reset(bool withBase) {
    if (withBase) CCoreItemData::Reset(true);
    SetClassID(CLASSID_GROUP);
    m_version = kCurrentVersion;
    m_creationDate.Clear();
    m_name.clear();
    m_comments.clear();
    m_pixelSize = 1.0f;
    m_screenSize = CGroupSize{};
    m_cursor = 0;
}

void CCoreGroupData::Read(CXmlElement& node) {
    CCoreItemData::Read(node);
    FreeAndReset(false);
    ReadGroupInt(node, "Version", m_version);
    std::string text;
    if (ReadGroupText(node, "CreationDate", text)) m_creationDate.SetDate(text, DATE_ORDER_YMD);
    ReadGroupText(node, "Name", m_name);
    ReadGroupText(node, "Comments", m_comments);
    ReadGroupInt(node, "ScreenSize/Dx", m_screenSize.Dx);
    ReadGroupInt(node, "ScreenSize/Dy", m_screenSize.Dy);
    if (ReadGroupText(node, "PixelSize", text))
        m_pixelSize = ToFloat(win::AtofClassic(text.c_str()));

    // Items by Index 1, 2, ... up to the first missing one; unknown classes are skipped.
    for (const auto& element : node.SelectIndexedElements("ItemData", "Index")) {
        std::int32_t classID = -1;
        if (!ReadGroupInt(*element, "ClassID", classID)) continue;
        std::unique_ptr<CCoreItemData> item(NewItemOfClass(classID, *element->Document()));
        if (!item) continue;
        item->Read(*element);
        AddItem(item.release());
    }
}

bool CCoreGroupData::Write(CXmlElement& node) {
    bool ok = CCoreItemData::Write(node);
    m_version = kCurrentVersion;
    ok &= node.AddIntChild("Version", kCurrentVersion);
    std::string date;
    m_creationDate.GetDate(date, DATE_ORDER_YMD);
    ok &= node.AddTextChild("CreationDate", date);
    ok &= node.AddTextChild("Name", m_name);
    ok &= node.AddTextChild("Comments", m_comments);
    const std::int32_t size[] = {m_screenSize.Dx, m_screenSize.Dy};
    ok &= quorin::WriteGroupInts(node, "ScreenSize", kSizeNames, size, 2);
    // "%02f"; values of 10 and more simply take more characters.
    char pixelSize[64];
    std::snprintf(pixelSize, sizeof pixelSize, "%02f", static_cast<double>(m_pixelSize));
    ok &= node.AddTextChild("PixelSize", pixelSize);
    for (std::size_t i = 0; ok && i < m_items.size(); ++i) {
        std::unique_ptr<CXmlElement> element = node.CreateChild("ItemData", "");
        ok = element != nullptr &&
             element->SetIntAttribute("Index", static_cast<std::int32_t>(i + 1));
        ok = ok && m_items[i]->Write(*element) && quorin::CloseGroupElement(*element);
    }
    return ok;
}

SImage* CCoreGroupData::GetIcon(bool detach) {
    SImage* icon = m_icon;
    if (detach) m_icon = nullptr;
    return icon;
}

void CCoreGroupData::SetIcon(SImage* image) {
    if (m_icon == image) return;
    FreeSImage(m_icon, false);
    m_icon = image;
}

CCoreItemData* CCoreGroupData::GetItem(std::int64_t index) const {
    if (index < 0 || static_cast<std::uint64_t>(index) >= m_items.size()) return nullptr;
    return m_items[static_cast<std::size_t>(index)].get();
}

CCoreItemData* CCoreGroupData::GetFirstItem() {
    m_cursor = 0;
    return GetNextItem();
}

CCoreItemData* CCoreGroupData::GetNextItem() {
    if (m_cursor >= m_items.size()) return nullptr;
    return m_items[m_cursor++].get();
}

void CCoreGroupData::AddItem(CCoreItemData* item) {
    if (item == nullptr) return;
    std::unique_ptr<CCoreItemData> owned(item);  // deleted when the list cannot grow
    m_items.push_back(std::move(owned));
    item->m_owner = this;
}

void CCoreGroupData::DeleteAllItems() {
    // Items go one by one, so an item is never reachable through the list once it is deleted.
    while (!m_items.empty()) m_items.pop_back();
    m_cursor = 0;
}

void CCoreGroupData::ReplaceItems(CCoreItemData* item) {
    DeleteAllItems();
    AddItem(item);
}

CCoreItemData* CCoreGroupData::CloneItem(const CCoreItemData* item) {
    if (item == nullptr) return nullptr;
    switch (item->GetClassID()) {
        case CLASSID_FMS:
            return CopyOf<CFmsData>(item);
        case CLASSID_FMS_IMAGE:
            return CopyOf<CFmsImageData>(item);
        case CLASSID_CQV_IMAGE:
            return CopyOf<CCqvImageData>(item);
        default:
            return nullptr;
    }
}

void CCoreGroupData::ReadIcon(CXmlElement& root) {
    SetIcon(nullptr);
    std::unique_ptr<CXmlElement> icon = root.SelectElement("IconImage");
    if (!icon) return;
    std::int32_t numbers[4] = {};
    for (int i = 0; i < 4; ++i) ReadGroupInt(*icon, kIconNames[i], numbers[i]);
    IconLayout layout;
    std::unique_ptr<CXmlElement> data = icon->SelectElement("Data");
    if (!IconLayoutOf(numbers[0], numbers[1], numbers[2], numbers[3], &layout) || !data) return;
    // The payload is sized against the expected block before it is decoded.
    const std::uint64_t bytes = layout.FileBytes();
    std::vector<std::uint8_t> pixels;
    if (bytes > quorin::kMaxXmlBinaryBytes || !data->ReadBinary(pixels, bytes) ||
        pixels.size() != bytes)
        return;
    SImage* image =
        AllocSImage(static_cast<std::uint32_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1]),
                    static_cast<std::uint32_t>(numbers[2]), static_cast<std::uint32_t>(numbers[3]),
                    false, nullptr);
    if (image == nullptr) {  // the layout was checked: only the memory can fail
        root.Document()->NoteOutOfMemory();
        return;
    }
    ConvertSamples(pixels.data(), layout.fileBytesPerSample,
                   static_cast<std::uint8_t*>(image->pPixels), layout.recordBytesPerSample,
                   layout.samples);
    SetIcon(image);
}

bool CCoreGroupData::WriteIcon(CXmlElement& root) {
    if (m_icon == nullptr || m_icon->pPixels == nullptr) return true;
    IconLayout layout;
    if (!IconLayoutOf(m_icon->nWidth, m_icon->nHeight, m_icon->nSamplesPerPixel,
                      m_icon->nBitsPerSample, &layout))
        return true;
    // Never read past the pixel block: its numbers may not match what it holds.
    win::HGLOBAL block = win::GlobalHandle(m_icon->pPixels);
    if (block == nullptr || win::GlobalSize(block) < layout.RecordBytes()) return true;
    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(layout.FileBytes()));
    } catch (const std::exception&) {
        return false;
    }
    ConvertSamples(static_cast<const std::uint8_t*>(m_icon->pPixels), layout.recordBytesPerSample,
                   data.data(), layout.fileBytesPerSample, layout.samples);
    std::unique_ptr<CXmlElement> icon = root.CreateChild("IconImage", "");
    if (!icon) return false;
    const std::uint32_t numbers[] = {m_icon->nWidth, m_icon->nHeight, m_icon->nSamplesPerPixel,
                                     m_icon->nBitsPerSample};
    bool ok = true;
    for (int i = 0; i < 4; ++i)
        ok &= icon->AddIntChild(kIconNames[i], static_cast<std::int32_t>(numbers[i]));
    ok &= icon->AddBinaryChild("Data", data.data(), data.size());
    return quorin::CloseGroupElement(*icon) && ok;
}

bool CCoreGroupData::LoadXml(const std::string& path, bool withIcon, const char* rootName) {
    try {
        return LoadXmlSteps(path, withIcon, rootName);
    } catch (const std::bad_alloc&) {  // before the object is reset: it is unchanged
        SetErrorFromSystem(quorin::kXmlErrorOutOfMemory);
        return false;
    }
}

bool CCoreGroupData::LoadXmlSteps(const std::string& path, bool withIcon, const char* rootName) {
    CXmlDocument document;
    if (document.GetErrorCode() != 0) {  // no memory for an empty document
        SetErrorFrom(document);
        return false;
    }
    const std::string trimmed = quorin::TrimGroupPath(path);
    if (trimmed.empty()) {
        SetErrorFromSystem(static_cast<std::int32_t>(win::ERROR_BAD_ARGUMENTS));
        return false;
    }
    if (!document.Load(trimmed)) {
        SetErrorFrom(document);
        return false;
    }
    return ReadDocument(document, withIcon, rootName);
}

bool CCoreGroupData::ReadDocument(CXmlDocument& document, bool withIcon, const char* rootName) {
    std::unique_ptr<CXmlElement> root = document.SelectRoot();
    if (!root) {
        SetErrorFrom(document);
        return false;
    }
    std::string name;
    root->GetName(name);
    if (name != rootName) {
        SetErrorFromSystem(static_cast<std::int32_t>(win::ERROR_DATATYPE_MISMATCH));
        return false;
    }
    // The object becomes what the file holds: nothing of an earlier state stays behind.
    FreeAndReset(true);
    try {
        Read(*root);
        if (withIcon) ReadIcon(*root);
    } catch (const std::bad_alloc&) {
        document.NoteOutOfMemory();
    }
    // A field or item the memory left could not take is not missing from the file: rather no
    // group than less than it holds.
    if (document.OutOfMemory()) {
        FreeAndReset(true);
        SetErrorFromSystem(quorin::kXmlErrorOutOfMemory);
        return false;
    }
    return true;
}

bool CCoreGroupData::SaveXml(const std::string& path, const char* rootName, const char* comment) {
    CXmlDocument document;
    if (document.GetErrorCode() != 0) {  // no memory for an empty document
        SetErrorFrom(document);
        return false;
    }
    const std::string trimmed = quorin::TrimGroupPath(path);
    if (trimmed.empty()) {
        SetErrorFromSystem(static_cast<std::int32_t>(win::ERROR_BAD_ARGUMENTS));
        return false;
    }
    document.AddComment(comment);
    std::unique_ptr<CXmlElement> root = document.CreateRoot(rootName, "");
    if (!root) {
        SetErrorFrom(document);
        return false;
    }
    if (GetIdentifier().empty()) SetIdentifier(trimmed);
    // A document that could not take every field is not saved: no file loses data.
    if (!Write(*root) || !WriteIcon(*root) || !quorin::CloseGroupElement(*root) ||
        !document.Save(trimmed)) {
        SetErrorFrom(document);
        return false;
    }
    return true;
}

// ---- CCoreImageData

CCoreImageData::CCoreImageData() {
    Reset(false);
}

CCoreImageData::~CCoreImageData() {
    Free(false);
}

CCoreImageData& CCoreImageData::operator=(const CCoreImageData& other) {
    if (this == &other) return *this;
    CCoreItemData::operator=(other);
    m_sopInstanceUID = other.m_sopInstanceUID;
    m_filter = other.m_filter;
    m_transformation = other.m_transformation;
    m_lutGray = other.m_lutGray;
    m_displayGraphicObject = other.m_displayGraphicObject;
    return *this;  // the orientation and display records stay the target's
}

void CCoreImageData::Free(bool withBase) {
    if (withBase) CCoreItemData::Free(true);
}

void CCoreImageData::Reset(bool withBase) {
    if (withBase) CCoreItemData::Reset(true);
    SetClassID(CLASSID_IMAGE);
    m_displayGraphicObject = 0;
    m_sopInstanceUID.clear();
    m_filter.Reset();
    m_lutGray = CInfosLUTGray(239, 256);
    m_orient.Reset();
    m_display = CInfosDisplay();
    m_transformation = 0;
}

void CCoreImageData::Read(CXmlElement& node) {
    CCoreItemData::Read(node);
    FreeAndReset(false);
    ReadGroupText(node, "SOPInstanceUID", m_sopInstanceUID);

    // The filter is stored (and marked set) even when neither element is there; the processed
    // flag comes after, so it does not clear the filter just read.
    std::int32_t filter = 0, parameter = 0, number = 0;
    m_filter.GetFilter(&filter, &parameter);
    ReadGroupInt(node, "FilterInfos/Filter", filter);
    ReadGroupInt(node, "FilterInfos/Parameter", parameter);
    m_filter.SetFilter(filter, parameter);
    if (ReadGroupInt(node, "FilterInfos/Filtered", number)) m_filter.SetProcessed(number);
    ReadGroupInt(node, "FilterInfos/Transformation", m_transformation);

    std::uint8_t flag = 0;
    if (ReadGroupFlag(node, "OrientationInfos/Mirrored", flag)) m_orient.SetMirror(flag);
    if (ReadGroupInt(node, "OrientationInfos/Rotation", number)) m_orient.SetRotation(number);
    if (ReadGroupInt(node, "DisplayInfos/ColorLUT", number)) m_display.SetColorLUT(number);
    ReadGroupFlag(node, "OverlayInfos/DisplayGraphicObject", m_displayGraphicObject);

    std::int32_t useSettings = 0;
    if (ReadGroupInt(node, "GrayLUTInfos/UseSettings", useSettings) && useSettings != 0) {
        std::int32_t brightness = 0, contrast = 0, gamma = 0;
        std::uint8_t inversion = 0;
        std::uint16_t entries = 0;
        m_lutGray.GetSettings(&brightness, &contrast, &gamma, &inversion, &entries);
        ReadGroupInt(node, "GrayLUTInfos/Brightness", brightness);
        ReadGroupInt(node, "GrayLUTInfos/Contrast", contrast);
        ReadGroupInt(node, "GrayLUTInfos/Gamma", gamma);
        ReadGroupFlag(node, "GrayLUTInfos/Inversed", inversion);
        if (ReadGroupInt(node, "GrayLUTInfos/Entries", number) && number >= 0 && number <= 0xFFFF)
            entries = static_cast<std::uint16_t>(number);
        m_lutGray.SetSettings(brightness, contrast, gamma, inversion, entries);
    } else {
        std::int32_t entries = 0;
        ReadGroupInt(node, "GrayLUTInfos/Entries", entries);
        std::unique_ptr<CXmlElement> data = node.SelectElement("GrayLUTInfos/Data");
        std::vector<std::uint8_t> bytes;
        // The entry count bounds the payload before it is decoded.
        if (data && entries > 0 && static_cast<std::uint64_t>(entries) <= kMaxLUTEntries &&
            data->ReadBinary(bytes, static_cast<std::size_t>(entries) * 2) &&
            bytes.size() == static_cast<std::size_t>(entries) * 2) {
            std::vector<std::uint16_t> table(static_cast<std::size_t>(entries));
            for (std::size_t i = 0; i < table.size(); ++i)
                table[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            m_lutGray.SetTable(table.data(), entries);
        }
    }
}

bool CCoreImageData::Write(CXmlElement& node) {
    bool ok = CCoreItemData::Write(node);
    ok &= node.AddTextChild("SOPInstanceUID", m_sopInstanceUID);

    std::int32_t filter = 0, parameter = 0;
    m_filter.GetFilter(&filter, &parameter);
    static constexpr const char* kFilterNames[] = {"Filter", "Parameter", "Filtered",
                                                   "Transformation"};
    const std::int32_t filterValues[] = {filter, parameter, m_filter.GetProcessed(),
                                         m_transformation};
    ok &= quorin::WriteGroupInts(node, "FilterInfos", kFilterNames, filterValues, 4);

    static constexpr const char* kOrientNames[] = {"Mirrored", "Rotation"};
    const std::int32_t orientValues[] = {m_orient.GetMirror(), m_orient.GetRotation()};
    ok &= quorin::WriteGroupInts(node, "OrientationInfos", kOrientNames, orientValues, 2);

    static constexpr const char* kDisplayNames[] = {"ColorLUT"};
    const std::int32_t displayValues[] = {m_display.GetColorLUT()};
    ok &= quorin::WriteGroupInts(node, "DisplayInfos", kDisplayNames, displayValues, 1);

    static constexpr const char* kOverlayNames[] = {"DisplayGraphicObject"};
    const std::int32_t overlayValues[] = {m_displayGraphicObject};
    ok &= quorin::WriteGroupInts(node, "OverlayInfos", kOverlayNames, overlayValues, 1);

    std::unique_ptr<CXmlElement> lut = node.CreateChild("GrayLUTInfos", "");
    if (!lut) return false;
    if (m_lutGray.HasNoTable()) {
        std::int32_t brightness = 0, contrast = 0, gamma = 0;
        std::uint8_t inversion = 0;
        std::uint16_t entries = 0;
        m_lutGray.GetSettings(&brightness, &contrast, &gamma, &inversion, &entries);
        ok &= lut->AddIntChild("UseSettings", 1);
        ok &= lut->AddIntChild("Brightness", brightness);
        ok &= lut->AddIntChild("Contrast", contrast);
        ok &= lut->AddIntChild("Gamma", gamma);
        ok &= lut->AddFlagChild("Inversed", inversion);
        ok &= lut->AddIntChild("Entries", entries == 0 ? 256 : entries);
    } else {
        const auto count = static_cast<std::uint32_t>(m_lutGray.Table().size());
        std::vector<std::uint16_t> table(count);
        m_lutGray.GetTable(table.data(), count);
        std::vector<std::uint8_t> bytes(2 * static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < table.size(); ++i) {
            bytes[2 * i] = static_cast<std::uint8_t>(table[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<std::uint8_t>(table[i] >> 8);
        }
        ok &= lut->AddIntChild("UseSettings", 0);
        ok &= lut->AddIntChild("Entries", static_cast<std::int32_t>(count));
        ok &= lut->AddBinaryChild("Data", bytes.data(), bytes.size());
    }
    return quorin::CloseGroupElement(*lut) && ok;
}
