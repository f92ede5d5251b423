#include "dicom/dataset/text.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "dicom/dataset/dataset.h"
#include "dicom/dictionary/dictionary.h"
#include "platform/core/lasterror.h"

namespace quorin {
namespace {

// capacity, characters, pad on set, trim, stand-alone, limit, stop, skip spaces, drop field
// space, separator, trim value space, pad byte
constexpr TextRow kTextRows[] = {
    {"AE", 16, CharRule::AE, false, false, false, 16, true, false, true, 0, true, ' '},
    {"AS", 4, CharRule::AS, false, false, true, 4, false, false, false, 0, false, ' '},
    {"CS", 16, CharRule::CS, false, false, false, 16, true, false, true, 0, true, ' '},
    {"DA", 8, CharRule::DA, false, false, false, 8, false, false, true, '.', true, ' '},
    {"DS", 16, CharRule::DS, false, true, false, 16, false, true, true, 0, false, ' '},
    {"DT", 29, CharRule::Keep, true, false, false, 29, false, false, true, 0, false, ' '},
    {"IS", 12, CharRule::IS, false, true, false, 12, false, true, true, 0, false, ' '},
    {"LO", 64, CharRule::LO, false, false, false, 64, false, false, false, 0, true, ' '},
    {"LT", 10240, CharRule::Keep, true, false, true, 10240, false, false, false, 0, false, ' '},
    {"SH", 16, CharRule::LO, false, false, false, 16, false, false, false, 0, false, ' '},
    {"ST", 1024, CharRule::Keep, true, false, true, 1024, false, false, false, 0, false, ' '},
    {"TM", 16, CharRule::TM, true, false, false, 16, false, false, true, ':', true, ' '},
    {"UI", 64, CharRule::UI, false, false, false, 64, true, false, true, 0, true, '\0'},
    {"PN", 64, CharRule::Keep, false, false, false, 319, false, false, true, 0, false, ' '},
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool IsLower(char c) {
    return c >= 'a' && c <= 'z';
}

}  // namespace

const TextRow& GetTextRow(TextVr vr) {
    return kTextRows[static_cast<int>(vr)];
}

namespace {

// One rule's loop: the rule is fixed for the whole text, so the switch is resolved once.
template <CharRule R>
std::size_t CleanChars(std::string_view in, char* o, std::uint32_t capacity) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < in.size() && n < capacity; ++i) {
        char c = in[i];
        switch (R) {
            case CharRule::AE:
                if (c == 0x0A || c == 0x0C || c == 0x0D || c == 0x1B) c = ' ';
                break;
            case CharRule::AS:
                if (!IsDigit(c) && c != 'D' && c != 'W' && c != 'M' && c != 'Y') c = ' ';
                break;
            case CharRule::CS:
                if (IsLower(c))
                    c = static_cast<char>(c - 'a' + 'A');
                else if (!IsUpper(c) && !IsDigit(c) && c != '_' && c != ' ')
                    c = ' ';
                break;
            case CharRule::DA:
                if (c == '.') continue;
                break;
            case CharRule::DS:
                if (c == ',')
                    c = '.';
                else if (!IsDigit(c) && c != '+' && c != '-' && c != '.' && c != 'E' && c != 'e')
                    c = '0';
                break;
            case CharRule::IS:
                if (!IsDigit(c) && c != '+' && c != '-') c = '0';
                break;
            case CharRule::LO:
                if (c == 0x0A || c == 0x0C || c == 0x0D || c == '\\') c = ' ';
                break;
            case CharRule::Keep:
                break;
            case CharRule::TM:
                if (c == ':') continue;
                break;
            case CharRule::UI:
                if (!IsDigit(c) && c != '.') c = '.';
                break;
        }
        o[n++] = c;
    }
    return n;
}

}  // namespace

void CleanTextInto(const TextRow& row, std::string_view in, std::string& out) {
    if (row.trim) {
        const std::size_t first = in.find_first_not_of(' ');
        in = first == std::string_view::npos ? std::string_view{} : in.substr(first);
        const std::size_t last = in.find_last_not_of(' ');
        in = last == std::string_view::npos ? std::string_view{} : in.substr(0, last + 1);
    }
    // Written in place: no more than the capacity and a pad byte.
    const std::size_t keep = std::min<std::size_t>(in.size(), row.capacity);
    out.resize(keep + 1);
    char* const o = out.data();
    std::size_t n = 0;
    switch (row.chars) {
        case CharRule::AE:
            n = CleanChars<CharRule::AE>(in, o, row.capacity);
            break;
        case CharRule::AS:
            n = CleanChars<CharRule::AS>(in, o, row.capacity);
            break;
        case CharRule::CS:
            n = CleanChars<CharRule::CS>(in, o, row.capacity);
            break;
        case CharRule::DA:
            n = CleanChars<CharRule::DA>(in, o, row.capacity);
            break;
        case CharRule::DS:
            n = CleanChars<CharRule::DS>(in, o, row.capacity);
            break;
        case CharRule::IS:
            n = CleanChars<CharRule::IS>(in, o, row.capacity);
            break;
        case CharRule::LO:
            n = CleanChars<CharRule::LO>(in, o, row.capacity);
            break;
        case CharRule::Keep:
            n = CleanChars<CharRule::Keep>(in, o, row.capacity);
            break;
        case CharRule::TM:
            n = CleanChars<CharRule::TM>(in, o, row.capacity);
            break;
        case CharRule::UI:
            n = CleanChars<CharRule::UI>(in, o, row.capacity);
            break;
    }
    if (row.padOnSet && (n & 1) && n < row.capacity) o[n++] = ' ';
    out.resize(n);
}

void AppendJoined(std::string& out, std::string_view value, bool trimSpace) {
    if (trimSpace && !value.empty() && value.back() == ' ') value.remove_suffix(1);
    out.append(value);
    out.push_back('\\');
}

void FinishJoin(std::string& out, char pad) {
    if (!out.empty() && out.back() == '\\') out.pop_back();
    if (out.size() & 1) out.push_back(pad);
}

// ---- TextItem ----

template <TextVr V>
TextItem<V>::TextItem() {
    SetVR(Row().vr);
}

template <TextVr V>
TextItem<V>::TextItem(std::int32_t type, std::uint16_t group, std::uint16_t element,
                      std::int32_t implicit, std::int32_t byteOrder)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(Row().vr);
}

template <TextVr V>
TextItem<V>::TextItem(std::int32_t type, std::uint16_t group, std::uint16_t element,
                      win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                      std::uint64_t start, std::uint64_t limit)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(Row().vr);
    ReadFromStreamAt(start, file, limit);
}

template <TextVr V>
TextItem<V>::TextItem(const CElementDICOM& unknown, const std::uint8_t* data, std::uint32_t length)
    : CElementDICOM(unknown.m_nType, unknown.m_nGroup, unknown.m_nElement, unknown.m_bImplicit,
                    unknown.m_nByteOrder) {
    SetVR(Row().vr);
    TakeValueBytes(data, length);
}

template <TextVr V>
void TextItem<V>::ClearValue() {
    m_value.clear();
    m_nLength = 0;
}

template <TextVr V>
void TextItem<V>::SetText(const char* text) {
    if (text != nullptr)
        CleanTextInto(Row(), text, m_value);
    else
        m_value.clear();
    m_nLength = static_cast<std::uint32_t>(m_value.size());
    m_nValuePosition = 0;
    m_nStatus = kStatusOk;
}

template <TextVr V>
const char* TextItem<V>::GetText() const {
    std::string_view v(m_value);
    if (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    m_text.assign(v);
    return m_text.c_str();
}

template <TextVr V>
std::string_view TextItem<V>::JoinText() const {
    return m_value;
}

template <TextVr V>
void TextItem<V>::SetFromField(std::string_view value, bool) {
    // The value is a text: it ends at a NUL.
    CleanTextInto(Row(), value.substr(0, value.find('\0')), m_value);
    m_nLength = static_cast<std::uint32_t>(m_value.size());
    m_nValuePosition = 0;
    m_nStatus = kStatusOk;
}

template <TextVr V>
void TextItem<V>::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    std::string_view raw(reinterpret_cast<const char*>(data), length);
    if (!Row().standAlone) {
        std::size_t nul = raw.find('\0');
        SetFromField(raw.substr(0, nul), true);
        return;
    }
    if (V == TextVr::AS) {
        const std::size_t first = raw.find_first_not_of(' ');
        raw = first == std::string_view::npos ? std::string_view{} : raw.substr(first);
        const std::size_t last = raw.find_last_not_of(' ');
        raw = last == std::string_view::npos ? std::string_view{} : raw.substr(0, last + 1);
    }
    // The stream walk advances by the encoded length; the element keeps what fits.
    m_value.assign(raw.substr(0, std::min<std::size_t>(raw.size(), Row().capacity)));
    m_nLength = static_cast<std::uint32_t>(m_value.size());
}

template <TextVr V>
std::uint64_t TextItem<V>::EncodedLength() const {
    std::string joined;
    if (Row().standAlone) {
        return m_nLength + static_cast<std::uint64_t>(m_nLength & 1) + 8;
    }
    AppendJoined(joined, JoinText(), Row().trimValueSpace);
    FinishJoin(joined, Row().pad);
    return joined.size() + 8;
}

template <TextVr V>
void TextItem<V>::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    std::string out;
    try {
        if (Row().standAlone) {
            out = m_value;
            if (out.size() & 1) out.push_back(' ');  // every written value has an even length
        } else {
            AppendJoined(out, JoinText(), Row().trimValueSpace);
            FinishJoin(out, Row().pad);
        }
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();
        m_nStatus = kStatusWriteError;
        return;
    }
    if (!CheckLengthField(out.size())) return;
    WriteHeader(file);
    PutLength(file, static_cast<std::uint32_t>(out.size()));
    if (IsRequired() || !out.empty())
        PutBytes(file, out.data(), static_cast<std::uint32_t>(out.size()));
}

template <TextVr V>
void TextItem<V>::LoadFromFile(win::CFile* file) {
    if (!m_value.empty() || m_nLength == 0 || m_nValuePosition == 0) return;
    const std::uint64_t fileLength = file->GetLength();
    const std::uint32_t length = m_nLength;
    if (m_nValuePosition > fileLength || length > fileLength - m_nValuePosition ||
        file->Seek(static_cast<std::int64_t>(m_nValuePosition), win::CFile::begin) < 0) {
        m_nStatus = kStatusReadError;
        return;
    }
    try {
        std::string text(length, '\0');
        if (!ReadExact(file, text.data(), length)) {
            m_nStatus = kStatusReadError;
            return;
        }
        TakeValueBytes(reinterpret_cast<const std::uint8_t*>(text.data()), length);
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();
        m_nStatus = kStatusReadError;
        return;
    }
    m_nValuePosition = 0;
}

template class TextItem<TextVr::AE>;
template class TextItem<TextVr::AS>;
template class TextItem<TextVr::CS>;
template class TextItem<TextVr::DA>;
template class TextItem<TextVr::DS>;
template class TextItem<TextVr::IS>;
template class TextItem<TextVr::LO>;
template class TextItem<TextVr::LT>;
template class TextItem<TextVr::SH>;
template class TextItem<TextVr::ST>;
template class TextItem<TextVr::TM>;
template class TextItem<TextVr::UI>;

}  // namespace quorin

using quorin::kStatusOk;
using quorin::kStatusReadError;

// ---- DT ----

CElementDT::CElementDT() {
    SetVR("DT");
}

CElementDT::CElementDT(std::int32_t type, std::uint16_t group, std::uint16_t element)
    : CElementDICOM(type, group, element, 0, quorin::kLittleEndian) {
    SetVR("DT");
}

void CElementDT::SetValue(const void* value) {
    const auto* parts = static_cast<const char* const*>(value);
    if (parts == nullptr) {
        SetParts(nullptr, nullptr, nullptr);
        return;
    }
    SetParts(parts[0], parts[1], parts[2]);
}

void CElementDT::SetParts(const char* date, const char* time, const char* offset) {
    auto take = [](const char* text, std::size_t maximum, bool stopAtSign) {
        std::string out;
        for (std::size_t i = 0; text != nullptr && text[i] != 0 && out.size() < maximum; ++i) {
            if (stopAtSign && (text[i] == '+' || text[i] == '-')) break;
            out.push_back(text[i]);
        }
        return out;
    };
    m_szDate = take(date, 8, false);
    m_szTime = take(time, 16, true);
    m_szOffset = take(offset, 5, false);
    std::size_t length = m_szDate.size() + m_szTime.size() + m_szOffset.size();
    if (length & 1) {
        std::string& part = !m_szOffset.empty() ? m_szOffset
                            : !m_szTime.empty() ? m_szTime
                                                : m_szDate;
        part.push_back(' ');
        ++length;
    }
    m_joined = m_szDate + m_szTime + m_szOffset;
    m_nLength = static_cast<std::uint32_t>(length);
    m_nStatus = kStatusOk;
}

void CElementDT::SetFromField(std::string_view value, bool) {
    auto trimmed = [](std::string_view part) {
        if (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        return std::string(part);
    };
    const std::string_view date = value.substr(0, std::min<std::size_t>(8, value.size()));
    std::string_view rest = value.substr(date.size());
    std::size_t timeLength = 0;
    while (timeLength < rest.size() && timeLength < 16 && rest[timeLength] != '+' &&
           rest[timeLength] != '-')
        ++timeLength;
    const std::string_view time = rest.substr(0, timeLength);
    rest = rest.substr(timeLength);
    // The offset keeps its sign: "+0100" fits the five characters of the part.
    const std::string_view offset = rest.substr(0, std::min<std::size_t>(5, rest.size()));
    const std::string d = trimmed(date), t = trimmed(time), o = trimmed(offset);
    SetParts(d.c_str(), t.c_str(), o.c_str());
}

void CElementDT::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    std::string_view raw(reinterpret_cast<const char*>(data), length);
    SetFromField(raw.substr(0, raw.find('\0')), true);
}

const char* CElementDT::GetText() const {
    std::string_view v(m_joined);
    if (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    m_text.assign(v);
    return m_text.c_str();
}

std::uint64_t CElementDT::EncodedLength() const {
    return m_joined.size() + (m_joined.size() & 1) + 8;
}

void CElementDT::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    std::string out;
    try {
        quorin::AppendJoined(out, m_joined, false);
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

// ---- UN ----

CElementUN::CElementUN() {
    SetVR("UN");
}

CElementUN::CElementUN(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       std::int32_t implicit, std::int32_t byteOrder, const char* vr)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(vr != nullptr && vr[0] != 0 && vr[1] != 0 ? vr : "UN");
}

CElementUN::CElementUN(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                       std::uint64_t start, std::uint64_t limit, const char* vr)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(vr != nullptr && vr[0] != 0 && vr[1] != 0 ? vr : "UN");
    ReadFromStreamAt(start, file, limit);
}

void CElementUN::ClearValue() {
    m_value.clear();
    m_nLength = 0;
}

void CElementUN::SetValue(const void* value) {
    if (value == nullptr || m_value.size() < m_nLength) return;
    std::memcpy(m_value.data(), value, m_nLength);
    m_nStatus = kStatusOk;
}

bool CElementUN::SetBytes(const void* data, std::uint32_t length) {
    if (length == quorin::kUndefinedLength || (length > 0 && data == nullptr)) return false;
    try {
        m_value.assign(length + static_cast<std::size_t>(length & 1), 0);
    } catch (...) {
        m_value.clear();
        m_nLength = 0;
        return false;
    }
    if (length > 0) std::memcpy(m_value.data(), data, length);
    m_nLength = length;
    m_nStatus = kStatusOk;
    return true;
}

bool CElementUN::ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t) {
    try {
        m_value.assign(length + static_cast<std::size_t>(length & 1), 0);
    } catch (...) {
        quorin::NoteOutOfMemory();
        return false;
    }
    if (!quorin::ReadExact(file, m_value.data(), length)) return false;
    m_nLength = length;
    return true;
}

bool CElementUN::ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end) {
    // A sequence of undefined length read as UN: stepped over, the value left empty (the
    // parser reads such an element as a sequence instead).
    if (file->Seek(static_cast<std::int64_t>(valuePosition), win::CFile::begin) < 0) return false;
    const bool big = m_bImplicit ? IsBigEndian() : false;
    const std::uint64_t content = quorin::MeasureUndefinedSequence(file, end, big, m_nDepth);
    if (content == 0) return false;
    m_nStreamSize = HeaderSize() + content;
    m_nStatus = IsRequired() ? quorin::kStatusEmpty : kStatusOk;
    return true;
}

void CElementUN::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    if (!SetBytes(data, length)) ClearValue();
}

void CElementUN::Write(win::CFile* file) {
    if (m_nStatus == kStatusOk) WritePadded(file, m_value.data(), m_value.size());
}

bool CElementUN::ConvertByDictionary(CElementDICOM** result) const {
    if (result == nullptr) return true;
    *result = nullptr;
    char vr[3] = {0, 0, 0};
    DicomDictionaryLookup(m_nGroup, m_nElement, vr);
    if (quorin::SameVr(vr, "SQ") || quorin::SameVr(vr, "UN")) return true;
    // A value that stays UN for want of memory is told apart from one its VR cannot carry by
    // the thread's last error, kept as it was otherwise.
    const win::DWORD before = win::GetLastError();
    win::SetLastError(win::ERROR_SUCCESS);
    std::unique_ptr<CElementDICOM> converted(
        quorin::NewElementOfVr(vr, *this, m_value.empty() ? nullptr : m_value.data(), m_nLength));
    // A value its own VR cannot carry (longer than a 16-bit length field allows, as UN permits,
    // or more values than an element holds) stays UN, so that it is written back as read.
    bool fits = false;
    try {
        if (converted) {
            const std::uint64_t encoded = converted->EncodedLength();
            const std::uint32_t header = converted->HeaderSize();
            fits = converted->m_nStatus != kStatusReadError && encoded >= header &&
                   converted->FitsLengthField(encoded - header);
        }
    } catch (const std::bad_alloc&) {
        quorin::NoteOutOfMemory();
    }
    if (quorin::OutOfMemoryNoted()) return false;
    win::SetLastError(before);
    if (fits) *result = converted.release();
    return true;
}
