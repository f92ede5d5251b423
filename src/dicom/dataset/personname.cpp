#include "dicom/dataset/personname.h"

#include <algorithm>
#include <new>

using quorin::kStatusOk;

namespace {

constexpr std::size_t kCapacity = CElementPN::kComponentCapacity;

// Up to 64 characters of a text, ending at its end or (when asked) at its first "^".
std::string TakeComponent(const char* text, bool stopAtCaret) {
    std::string out;
    for (std::size_t i = 0; text != nullptr && text[i] != 0 && out.size() < kCapacity; ++i) {
        if (stopAtCaret && text[i] == '^') break;
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace

CElementPN::CElementPN() {
    SetVR("PN");
    m_szFullName = "^^^^";
}

CElementPN::CElementPN(std::int32_t type, std::uint16_t group, std::uint16_t element)
    : CElementDICOM(type, group, element, 0, quorin::kLittleEndian) {
    SetVR("PN");
    m_szFullName = "^^^^";
}

std::string* CElementPN::Component(int i) {
    std::string* components[5] = {&m_szFamily, &m_szGiven, &m_szMiddle, &m_szPrefix, &m_szSuffix};
    return components[i];
}

void CElementPN::SetValue(const void* value) {
    const auto* parts = static_cast<const char* const*>(value);
    for (int i = 0; i < 5; ++i) Component(i)->clear();
    const bool componentForm = parts != nullptr && (parts[1] || parts[2] || parts[3] || parts[4]);
    if (parts != nullptr && !componentForm && parts[0] != nullptr) {
        // Whole-name form: 65 characters scanned, each "^" moves to the next component.
        int component = 0;
        for (std::size_t i = 0; i < 65 && parts[0][i] != 0; ++i) {
            const char c = parts[0][i];
            if (c == '^') {
                if (++component == 5) break;
                continue;
            }
            std::string* target = Component(component);
            if (target->size() < kCapacity) target->push_back(c);
        }
    } else if (componentForm) {
        m_szFamily = TakeComponent(parts[0], false);
        for (int i = 1; i < 5; ++i) *Component(i) = TakeComponent(parts[i], true);
    }
    std::uint32_t total = 4;
    for (int i = 0; i < 5; ++i) {
        m_nLengths[i] = static_cast<std::int16_t>(Component(i)->size());
        total += m_nLengths[i];
    }
    m_nLength = total;
    m_nStatus = kStatusOk;
    ComposeFullName();
}

void CElementPN::ComposeFullName() {
    m_szFullName = m_szFamily;
    std::size_t total = m_szFamily.size();
    bool exceeded = total > kCapacity;
    for (int i = 1; i < 5; ++i) {
        const std::string& part = *Component(i);
        total += part.size() + 1;
        if (total > kCapacity) exceeded = true;
        m_szFullName.push_back('^');
        if (!exceeded) m_szFullName += part;
    }
}

void CElementPN::SetFromField(std::string_view value, bool) {
    std::string components[5];
    int index = 0;
    for (char c : value) {
        if (index == 5) break;
        if (c == '^') {
            ++index;
            continue;
        }
        if (components[index].size() == kCapacity) {
            // The characters of a longer component past the 64th begin the next one.
            if (++index == 5) break;
        }
        components[index].push_back(c);
    }
    for (int i = 0; i < 5; ++i) {
        std::string& part = components[i];
        if (!part.empty() && (part.back() == ' ' || (i < 4 && part.back() == '^'))) part.pop_back();
    }
    const char* parts[5] = {components[0].c_str(), components[1].c_str(), components[2].c_str(),
                            components[3].c_str(), components[4].c_str()};
    SetValue(parts);
}

std::string CElementPN::JoinText() const {
    std::string name =
        m_szFamily + '^' + m_szGiven + '^' + m_szMiddle + '^' + m_szPrefix + '^' + m_szSuffix;
    while (!name.empty() && (name.back() == '^' || name.back() == ' ')) name.pop_back();
    if (name.size() > kCapacity) name.resize(kCapacity);
    return name;
}

void CElementPN::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    std::string_view raw(reinterpret_cast<const char*>(data), length);
    SetFromField(raw.substr(0, raw.find('\0')), true);
}

std::uint64_t CElementPN::EncodedLength() const {
    const std::size_t size = JoinText().size();
    return size + (size & 1) + 8;
}

void CElementPN::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    std::string out;
    try {
        quorin::AppendJoined(out, JoinText(), false);
        quorin::FinishJoin(out, ' ');
    } catch (const std::bad_alloc&) {
        quorin::NoteOutOfMemory();
        m_nStatus = quorin::kStatusWriteError;
        return;
    }
    WriteHeader(file);
    PutLength(file, static_cast<std::uint32_t>(out.size()));
    if (IsRequired() || !out.empty())
        PutBytes(file, out.data(), static_cast<std::uint32_t>(out.size()));
}

void CElementPNMultiple::SetComponents(std::int64_t index, const char* family, const char* given,
                                       const char* middle, const char* prefix, const char* suffix) {
    m_nStatus = kStatusOk;
    CElementPN* item = GetItem(index);
    if (item == nullptr) return;
    const char* empty = "";
    const char* parts[5] = {family ? family : empty, given ? given : empty, middle ? middle : empty,
                            prefix ? prefix : empty, suffix ? suffix : empty};
    item->SetValue(parts);
    m_nLength = static_cast<std::uint32_t>(Joined().size());
}
