// Context files in their XML form: the context and context image elements, loading and saving.
#include "groupfiles/contextdata.h"

#include <new>

#include "groupfiles/xmldocument.h"

namespace {

using quorin::ReadGroupInt;
using quorin::ReadGroupText;

constexpr const char* kPointNames[] = {"X", "Y"};

}  // namespace

// ---- CCqvImageData

CCqvImageData::CCqvImageData() {
    Reset(false);
}

CCqvImageData::~CCqvImageData() {
    Free(false);
}

CCqvImageData& CCqvImageData::operator=(const CCqvImageData& other) {
    if (this == &other) return *this;
    CCoreImageData::operator=(other);
    m_showState = other.m_showState;
    return *this;
}

void CCqvImageData::Free(bool withBase) {
    if (withBase) CCoreImageData::Free(true);
}

void CCqvImageData::Reset(bool withBase) {
    if (withBase) CCoreImageData::Reset(true);
    SetClassID(CLASSID_CQV_IMAGE);
    m_showState = SHOW_NORMAL;
}

void CCqvImageData::Read(CXmlElement& node) {
    CCoreImageData::Read(node);
    FreeAndReset(false);
    ReadGroupInt(node, "ShowState", m_showState);
}

bool CCqvImageData::Write(CXmlElement& node) {
    bool ok = CCoreImageData::Write(node);
    return node.AddIntChild("ShowState", m_showState) && ok;
}

// ---- CCqvData

CCqvData::CCqvData() {
    Reset(false);
}

CCqvData::~CCqvData() {
    Free(false);
}

CCqvData& CCqvData::operator=(const CCqvData& other) {
    if (this == &other) return *this;
    CCoreGroupData::operator=(other);
    m_arcade = other.m_arcade;
    m_panel = other.m_panel;
    m_oldFormat = other.m_oldFormat;
    m_contextUID = other.m_contextUID;
    return *this;
}

void CCqvData::Free(bool withBase) {
    if (withBase) CCoreGroupData::Free(true);
}

void CCqvData::Reset(bool withBase) {
    if (withBase) CCoreGroupData::Reset(true);
    SetClassID(CLASSID_CQV);
    m_arcade = CGroupPoint{};
    m_panel = CGroupPoint{};
    m_oldFormat = 0;
    m_contextUID.Clear();
}

void CCqvData::Read(CXmlElement& node) {
    CCoreGroupData::Read(node);
    FreeAndReset(false);
    ReadGroupInt(node, "ArcadeLocation/X", m_arcade.X);
    ReadGroupInt(node, "ArcadeLocation/Y", m_arcade.Y);
    ReadGroupInt(node, "CPanelLocation/X", m_panel.X);
    ReadGroupInt(node, "CPanelLocation/Y", m_panel.Y);
    std::string text;
    if (ReadGroupText(node, "ContextUID", text)) m_contextUID.SetText(text);
}

bool CCqvData::Write(CXmlElement& node) {
    bool ok = CCoreGroupData::Write(node);
    const std::int32_t arcade[] = {m_arcade.X, m_arcade.Y};
    const std::int32_t panel[] = {m_panel.X, m_panel.Y};
    ok &= quorin::WriteGroupInts(node, "ArcadeLocation", kPointNames, arcade, 2);
    ok &= quorin::WriteGroupInts(node, "CPanelLocation", kPointNames, panel, 2);
    ok &= node.AddTextChild("ContextUID", m_contextUID.GetText());
    return ok;
}

bool CCqvData::Load(const std::string& path, bool withIcon) {
    return LoadXml(path, withIcon, kRootName);
}

bool CCqvData::Save() {
    return Save(GetIdentifier());
}

bool CCqvData::Save(const std::string& path) {
    return SaveXml(path, kRootName, kComment);
}

CCqvImageData* CCqvData::AddImageItem() {
    auto* item = new (std::nothrow) CCqvImageData;
    AddItem(item);
    return item;
}
