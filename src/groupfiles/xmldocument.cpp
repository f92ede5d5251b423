// The XML document wrapper over libxml2. Documents are parsed without network access, without
// loading external DTDs or entities and without substituting entities; text is read from text
// and CDATA nodes only, so an entity reference declared by a hostile file never expands.
#include "groupfiles/xmldocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/core/textcodec.h"
#include "platform/files/file.h"

namespace {

constexpr const char* kDataTypeNamespace = "urn:schemas-microsoft-com:datatypes";
constexpr const char* kBinBase64 = "bin.base64";
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

const xmlChar* X(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}
const xmlChar* X(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

// The parser's and the XPath evaluator's codes for an allocation that failed.
bool IsNoMemory(int code) {
    return code == XML_ERR_NO_MEMORY || code == XML_XPATH_MEMORY_ERROR;
}

// While alive, the library's own diagnostics on this thread (some of which ignore the parse
// options that silence them) are kept here instead of reaching standard error: the first one is
// what a failure without a parser error reports.
class QuietLibrary {
  public:
    QuietLibrary()
        : m_structured(xmlStructuredError),
          m_structuredContext(xmlStructuredErrorContext),
          m_generic(xmlGenericError),
          m_genericContext(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(this, &Collect);
        xmlSetGenericErrorFunc(this, &Ignore);
    }
    ~QuietLibrary() {
        xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
        xmlSetGenericErrorFunc(m_genericContext, m_generic);
    }
    QuietLibrary(const QuietLibrary&) = delete;
    QuietLibrary& operator=(const QuietLibrary&) = delete;

    const std::string& First() const { return m_first; }
    // Whether any diagnostic was a failed allocation: the library goes on after some of them
    // with less than it was given, and when the memory is short even their text may be missing.
    bool NoMemory() const { return m_noMemory; }

  private:
    // Called from inside the library: nothing may be thrown through it.
    static void Collect(void* self, xmlErrorPtr error) noexcept {
        auto* quiet = static_cast<QuietLibrary*>(self);
        if (error != nullptr && IsNoMemory(error->code)) quiet->m_noMemory = true;
        if (quiet->m_first.empty() && error != nullptr && error->message != nullptr) {
            try {
                quiet->m_first = error->message;
            } catch (const std::bad_alloc&) {
                quiet->m_noMemory = true;
            }
        }
    }
    static void Ignore(void*, const char*, ...) {}

    xmlStructuredErrorFunc m_structured;
    void* m_structuredContext;
    xmlGenericErrorFunc m_generic;
    void* m_genericContext;
    std::string m_first;
    bool m_noMemory = false;
};

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        QuietLibrary quiet;  // a failed allocation is a result, not a line on stderr
        xmlInitParser();
    });
}

// The encoding named by the XML declaration at the very start of the bytes; empty without one.
std::string_view DeclaredEncoding(std::string_view bytes) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || !blank(bytes[5])) return {};
    const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return {};
    at += 8;
    while (at < declaration.size() && blank(declaration[at])) ++at;
    if (at >= declaration.size() || declaration[at] != '=') return {};
    ++at;
    while (at < declaration.size() && blank(declaration[at])) ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return {};
    const std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return {};
    return declaration.substr(at + 1, end - at - 1);
}

// Windows' code page 1252 under the names documents give it. The parser's own converter refuses
// the five bytes the code page leaves undefined, which Windows reads as the C1 controls of the
// same number: such documents are converted here instead.
bool IsWindows1252(std::string_view encoding) {
    return win::EqualsNoCase(encoding, "windows-1252") || win::EqualsNoCase(encoding, "cp1252") ||
           win::EqualsNoCase(encoding, "x-cp1252");
}

// Text for the DOM: the code page's characters as UTF-8; characters XML cannot carry (controls
// other than tab, line feed and carriage return) become '?', as unmappable characters do.
std::string ToDom(std::string_view text) {
    std::string clean(text);
    for (char& c : clean) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') c = '?';
    }
    return quorin::AnsiToUtf8(clean);
}

std::string FromDom(const xmlChar* text) {
    if (text == nullptr) return {};
    return quorin::Utf8ToAnsi(reinterpret_cast<const char*>(text));
}

// Text and CDATA content below a node, in document order; entity references are not followed.
void CollectText(const xmlNode* node, std::string& out) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        switch (child->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (child->content != nullptr) out += reinterpret_cast<const char*>(child->content);
                break;
            case XML_ELEMENT_NODE:
                CollectText(child, out);
                break;
            default:
                break;
        }
    }
}

std::string AttributeText(const xmlAttr* attribute) {
    std::string utf8;
    for (const xmlNode* child = attribute->children; child != nullptr; child = child->next)
        if (child->type == XML_TEXT_NODE && child->content != nullptr)
            utf8 += reinterpret_cast<const char*>(child->content);
    return utf8;
}

std::string Trimmed(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// ---- base64, as the DOM's bin.base64 type writes and reads it

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string EncodeBase64(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < size) {
        std::uint32_t v = data[i] << 16;
        if (i + 1 < size) v |= data[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += (i + 1 < size) ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsXmlBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Decodes base64 text (blanks anywhere are skipped). The decoded size is known exactly from the
// text before anything is allocated; false for malformed text or more than `maxBytes`.
bool DecodeBase64(std::string_view text, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
    std::uint64_t symbols = 0, padding = 0;
    for (unsigned char c : text) {
        if (IsXmlBlank(c)) continue;
        if (c == '=') {
            ++padding;
        } else {
            if (padding != 0 || Base64Value(c) < 0) return false;  // data after the padding
            ++symbols;
        }
    }
    const std::uint64_t total = symbols + padding;
    if (total == 0 || total % 4 != 0 || padding > 2) return false;
    const std::uint64_t bytes = total / 4 * 3 - padding;
    if (bytes == 0 || bytes > maxBytes) return false;
    out.clear();
    out.reserve(static_cast<std::size_t>(bytes));
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (unsigned char c : text) {
        const int v = Base64Value(c);
        if (v < 0) continue;
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(accumulator >> bits));
            accumulator &= (1u << bits) - 1;
        }
    }
    return out.size() == bytes;
}

bool IsNameCharacter(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           (!first && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
}

// A path of plain child steps: names (letters, digits, '_', '-', '.', not beginning with a
// digit, '-' or '.') joined by '/'.
bool IsChildStepPath(std::string_view path) {
    bool stepStart = true;
    for (char c : path) {
        if (c == '/' && !stepStart) {
            stepStart = true;
        } else if (IsNameCharacter(c, stepStart)) {
            stepStart = false;
        } else {
            return false;
        }
    }
    return !stepStart;  // neither empty nor ending in '/'
}

xmlNodePtr WalkSteps(xmlNodePtr node, std::string_view steps) {
    const std::size_t slash = steps.find('/');
    const std::string_view name = steps.substr(0, slash);
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || child->ns != nullptr ||
            name != reinterpret_cast<const char*>(child->name))
            continue;
        if (slash == std::string_view::npos) return child;
        if (xmlNodePtr found = WalkSteps(child, steps.substr(slash + 1))) return found;
    }
    return nullptr;
}

// The element a path of plain child steps ("Name", "Name/Child", ...; "/*" the root element)
// selects from `context`, as the XPath evaluation would: the first in document order of the
// elements without a namespace that the steps name; null when none. Nothing for a path of
// another form. Walking the children allocates nothing, so that a read short of memory meets
// the shortage where it is told, not inside the evaluator (whose own recovery from a failed
// allocation frees a block twice in the library's older versions).
std::optional<xmlNodePtr> WalkChildSteps(xmlNodePtr context, std::string_view path) {
    if (path == "/*") return xmlDocGetRootElement(context->doc);
    if (!IsChildStepPath(path)) return std::nullopt;
    return WalkSteps(context, path);
}

}  // namespace

namespace quorin {

std::string SystemMessage(std::int32_t code) {
    std::string text = Trimmed(win::FormatMessageText(static_cast<std::uint32_t>(code)));
    return text.empty() ? std::string("Unknown error reason...") : text;
}

}  // namespace quorin

// ---- CXmlDocument

void CXmlDocument::DocDeleter::operator()(_xmlDoc* doc) const {
    xmlFreeDoc(doc);
}

void CXmlDocument::XPathDeleter::operator()(_xmlXPathContext* context) const {
    xmlXPathFreeContext(context);
}

CXmlDocument::CXmlDocument() {
    InitLibrary();
    CreateDocument();
}

CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::CreateDocument() {
    m_xpath.reset();
    m_doc.reset();
    ClearError();
    m_outOfMemory = false;
    m_parseCode = 0;
    m_parseReason.clear();
    {
        QuietLibrary quiet;  // a failed allocation is a result, not a line on stderr
        m_doc.reset(xmlNewDoc(X("1.0")));
    }
    if (!m_doc) {
        SetError(quorin::kXmlErrorOutOfMemory, {});
        return false;
    }
    return true;
}

bool CXmlDocument::Load(const std::string& path) {
    ClearError();
    m_outOfMemory = false;
    std::string bytes;
    const auto result =
        static_cast<std::int32_t>(quorin::ReadRegularFile(path, quorin::kMaxXmlFileBytes, bytes));
    if (result != 0) {
        m_parseCode = result;
        m_parseReason = result == quorin::kXmlErrorFileTooLarge
                            ? "The file is larger than a group data file may be."
                            : quorin::SystemMessage(result);
        TakeParseError();
        return false;
    }
    return Parse(bytes.data(), bytes.size());
}

bool CXmlDocument::LoadMemory(const void* data, std::size_t size) {
    ClearError();
    if (size > quorin::kMaxXmlFileBytes) {
        m_parseCode = quorin::kXmlErrorFileTooLarge;
        m_parseReason = "The file is larger than a group data file may be.";
        TakeParseError();
        return false;
    }
    return Parse(data, size);
}

bool CXmlDocument::Parse(const void* data, std::size_t size) {
    m_xpath.reset();
    m_outOfMemory = false;
    if (size == 0) {  // the parser refuses an empty buffer without saying why
        m_parseCode =
            static_cast<std::int32_t>(quorin::kXmlParseErrorBase + XML_ERR_DOCUMENT_EMPTY);
        m_parseReason = "Document is empty";
        TakeParseError();
        return false;
    }
    const std::string_view bytes(static_cast<const char*>(data), size);
    std::string converted;
    int options = kParseOptions;
    if (IsWindows1252(DeclaredEncoding(bytes))) {
        converted = quorin::AnsiToUtf8(bytes);
        if (converted.size() > static_cast<std::size_t>(INT_MAX)) {
            SetError(quorin::kXmlErrorOutOfMemory, {});
            return false;
        }
        options |= XML_PARSE_IGNORE_ENC;  // the text is UTF-8 now, whatever it declares
    }
    const std::string_view text = converted.empty() ? bytes : std::string_view(converted);
    QuietLibrary quiet;
    // Freed on every road out, a shortage of memory that throws included.
    const std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> parser(xmlNewParserCtxt(),
                                                                            xmlFreeParserCtxt);
    if (parser == nullptr) {
        NoteOutOfMemory();
        return false;
    }
    xmlResetLastError();
    std::unique_ptr<_xmlDoc, DocDeleter> doc(xmlCtxtReadMemory(
        parser.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr, options));
    // An allocation that failed stops the parser where it is: the error it then reports is no
    // fault of the file, and a document it answers may hold only the part read so far.
    const xmlError* last = xmlGetLastError();
    if (quiet.NoMemory() || parser->errNo == XML_ERR_NO_MEMORY ||
        (last != nullptr && IsNoMemory(last->code))) {
        m_outOfMemory = true;
        m_parseCode = quorin::kXmlErrorOutOfMemory;
        m_parseReason = quorin::SystemMessage(m_parseCode);
        TakeParseError();
        return false;
    }
    if (doc == nullptr || xmlDocGetRootElement(doc.get()) == nullptr) {
        const xmlError* error = xmlCtxtGetLastError(parser.get());
        const int number = error != nullptr ? error->code : 0;
        m_parseCode = static_cast<std::int32_t>(
            quorin::kXmlParseErrorBase + static_cast<std::uint32_t>(std::clamp(number, 0, 0xFFF)));
        m_parseReason = error != nullptr && error->message != nullptr ? error->message
                        : !quiet.First().empty()                      ? quiet.First()
                                                                      : "Unknown error reason...";
        if (error != nullptr && error->line > 0)
            m_parseReason = Trimmed(m_parseReason) + " (line " + std::to_string(error->line) + ")";
        TakeParseError();
        return false;
    }
    m_doc = std::move(doc);
    m_parseCode = 0;
    m_parseReason.clear();
    return true;
}

bool CXmlDocument::Save(const std::string& path) {
    if (!m_doc) return CheckResult(quorin::kXmlErrorInvalidArg);
    xmlChar* buffer = nullptr;
    int size = 0;
    {
        QuietLibrary quiet;
        xmlDocDumpFormatMemoryEnc(m_doc.get(), &buffer, &size, "UTF-8", 0);
    }
    if (buffer == nullptr || size <= 0) {
        xmlFree(buffer);
        return CheckResult(quorin::kXmlErrorOutOfMemory);
    }
    const auto result = static_cast<std::int32_t>(quorin::ReplaceFileBytes(
        path,
        std::string_view(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size))));
    xmlFree(buffer);
    return CheckResult(result);
}

bool CXmlDocument::AddComment(const std::string& text) {
    if (!m_doc) return CheckResult(quorin::kXmlErrorInvalidArg);
    // "--" cannot stand inside a comment: the comment would not read back.
    std::string body = ToDom(text);
    for (std::size_t at; (at = body.find("--")) != std::string::npos;) body[at + 1] = ' ';
    if (!body.empty() && body.back() == '-') body += ' ';
    xmlNodePtr comment = xmlNewDocComment(m_doc.get(), X(body));
    if (comment == nullptr) return CheckResult(quorin::kXmlErrorOutOfMemory);
    xmlAddChild(reinterpret_cast<xmlNodePtr>(m_doc.get()), comment);
    return CheckResult(0);
}

std::unique_ptr<CXmlElement> CXmlDocument::CreateRoot(const std::string& name,
                                                      const std::string& text) {
    if (!m_doc) {
        CheckResult(quorin::kXmlErrorInvalidArg);
        return nullptr;
    }
    CXmlElement context(this, reinterpret_cast<xmlNodePtr>(m_doc.get()), m_indentation);
    xmlNodePtr root = context.NewChildElement(name);
    if (root == nullptr) return nullptr;
    if (!text.empty()) {
        xmlNodePtr textNode = xmlNewDocText(m_doc.get(), X(ToDom(text)));
        if (textNode == nullptr) {
            xmlFreeNode(root);
            CheckResult(quorin::kXmlErrorOutOfMemory);
            return nullptr;
        }
        xmlAddChild(root, textNode);
    }
    if (xmlDocGetRootElement(m_doc.get()) != nullptr) {  // a document has one root
        xmlFreeNode(root);
        CheckResult(quorin::kXmlErrorInvalidArg);
        return nullptr;
    }
    xmlAddChild(reinterpret_cast<xmlNodePtr>(m_doc.get()), root);
    return Wrap(root, m_indentation);
}

std::unique_ptr<CXmlElement> CXmlDocument::SelectRoot() {
    ClearError();
    if (!m_doc) {
        TakeParseError();
        return nullptr;
    }
    xmlNodePtr node = Select(reinterpret_cast<xmlNodePtr>(m_doc.get()), "/*");
    return node != nullptr ? Wrap(node, m_indentation) : nullptr;
}

void CXmlDocument::ClearError() {
    m_errorCode = 0;
    m_errorText.clear();
}

void CXmlDocument::SetError(std::int32_t code, std::string_view text) {
    m_errorCode = code;
    m_errorText = text.empty() ? quorin::SystemMessage(code) : Trimmed(std::string(text));
}

void CXmlDocument::TakeParseError() {
    m_errorCode = 1;
    m_errorText = "Unknown error reason...";
    // The parse error object always exists and can be read: its reason and code replace these.
    m_errorText = Trimmed(m_parseReason);
    m_errorCode = m_parseCode;
}

bool CXmlDocument::CheckResult(std::int32_t result) {
    ClearError();
    if (result == 0) return true;
    SetError(result, {});
    return false;
}

_xmlXPathContext* CXmlDocument::XPath() {
    if (!m_xpath && m_doc) {
        {
            QuietLibrary quiet;
            m_xpath.reset(xmlXPathNewContext(m_doc.get()));
        }
        // Evaluation errors of a caller's path are results, not lines on stderr.
        if (m_xpath) m_xpath->error = [](void*, xmlError*) {};
    }
    return m_xpath.get();
}

std::unique_ptr<CXmlElement> CXmlDocument::Wrap(_xmlNode* node, std::string indentation) {
    auto* element = new (std::nothrow) CXmlElement(this, node, std::move(indentation));
    if (element == nullptr) NoteOutOfMemory();
    return std::unique_ptr<CXmlElement>(element);
}

void CXmlDocument::NoteOutOfMemory() {
    m_outOfMemory = true;
    SetError(quorin::kXmlErrorOutOfMemory, {});
}

_xmlNode* CXmlDocument::Select(_xmlNode* context, const std::string& path) {
    if (const std::optional<xmlNodePtr> walked = WalkChildSteps(context, path)) {
        if (*walked == nullptr) TakeParseError();
        return *walked;
    }
    xmlXPathContextPtr xpath = XPath();
    if (xpath == nullptr) {
        NoteOutOfMemory();
        return nullptr;
    }
    xpath->node = context;
    xmlXPathObjectPtr result = nullptr;
    {
        QuietLibrary quiet;
        xmlResetError(&xpath->lastError);
        result = xmlXPathEvalExpression(X(path), xpath);
        // An evaluation short of memory answers nothing, or a node set without what it could not
        // add: neither says the element is missing. (The context keeps its own failures, others
        // reach the library's handler.)
        if (quiet.NoMemory() || IsNoMemory(xpath->lastError.code)) {
            xmlXPathFreeObject(result);
            NoteOutOfMemory();
            return nullptr;
        }
    }
    xmlNodePtr found = nullptr;
    if (result != nullptr && result->type == XPATH_NODESET && result->nodesetval != nullptr &&
        result->nodesetval->nodeNr > 0) {
        xmlXPathNodeSetSort(result->nodesetval);  // the first in document order
        found = result->nodesetval->nodeTab[0];
    }
    xmlXPathFreeObject(result);
    if (found == nullptr) {
        TakeParseError();
        return nullptr;
    }
    if (found->type != XML_ELEMENT_NODE) {
        SetError(static_cast<std::int32_t>(win::ERROR_INVALID_DATATYPE), {});
        return nullptr;
    }
    return found;
}

// ---- CXmlElement

bool CXmlElement::GetName(std::string& out) const {
    out.clear();
    if (m_node == nullptr || m_node->name == nullptr) return false;
    // The qualified name, as the DOM's nodeName gives it.
    if (m_node->ns != nullptr && m_node->ns->prefix != nullptr)
        out = FromDom(m_node->ns->prefix) + ":";
    out += FromDom(m_node->name);
    return true;
}

bool CXmlElement::GetText(std::string& out) const {
    out.clear();
    if (m_node == nullptr) return false;
    std::string utf8;
    CollectText(m_node, utf8);
    out = quorin::Utf8ToAnsi(utf8);
    return true;
}

std::unique_ptr<CXmlElement> CXmlElement::SelectElement(const std::string& path) {
    m_document->ClearError();
    xmlNodePtr node = m_document->Select(m_node, path);
    return node != nullptr ? m_document->Wrap(node, m_indentation) : nullptr;
}

std::vector<std::unique_ptr<CXmlElement>> CXmlElement::SelectIndexedElements(
    const std::string& name, const std::string& attribute) {
    std::vector<std::unique_ptr<CXmlElement>> found;
    try {
        std::unordered_map<std::string, xmlNodePtr> byIndex;
        for (xmlNodePtr child = m_node->children; child != nullptr; child = child->next) {
            if (child->type != XML_ELEMENT_NODE || child->ns != nullptr ||
                std::strcmp(reinterpret_cast<const char*>(child->name), name.c_str()) != 0)
                continue;
            for (xmlAttrPtr attr = child->properties; attr != nullptr; attr = attr->next) {
                if (attr->ns == nullptr && std::strcmp(reinterpret_cast<const char*>(attr->name),
                                                       attribute.c_str()) == 0) {
                    byIndex.emplace(AttributeText(attr), child);  // the first child wins
                    break;
                }
            }
        }
        for (std::size_t index = 1; index <= byIndex.size(); ++index) {
            auto it = byIndex.find(std::to_string(index));
            if (it == byIndex.end()) break;
            auto element = m_document->Wrap(it->second, m_indentation);
            if (!element) break;  // the document notes the shortage
            found.push_back(std::move(element));
        }
    } catch (const std::bad_alloc&) {
        m_document->NoteOutOfMemory();
    }
    return found;
}

bool CXmlElement::AppendIndentation(bool deeper) {
    const std::string text = deeper ? m_indentation + "\t" : m_indentation;
    xmlNodePtr node = xmlNewDocText(m_node->doc, X(text));
    if (node == nullptr) return m_document->CheckResult(quorin::kXmlErrorOutOfMemory);
    xmlAddChild(m_node, node);
    return m_document->CheckResult(0);
}

_xmlNode* CXmlElement::NewChildElement(const std::string& name) {
    if (name.empty() || xmlValidateName(X(name), 0) != 0) {
        m_document->CheckResult(quorin::kXmlErrorInvalidArg);
        return nullptr;
    }
    xmlNodePtr element = xmlNewDocNode(m_document->m_doc.get(), nullptr, X(name), nullptr);
    if (element == nullptr) m_document->CheckResult(quorin::kXmlErrorOutOfMemory);
    return element;
}

std::unique_ptr<CXmlElement> CXmlElement::CreateChild(const std::string& name,
                                                      const std::string& text) {
    if (!AppendIndentation(true)) return nullptr;
    xmlNodePtr element = NewChildElement(name);
    if (element == nullptr) return nullptr;
    if (!text.empty()) {
        // A text node keeps '&' and '<' as they are (setting content would parse references).
        xmlNodePtr textNode = xmlNewDocText(m_node->doc, X(ToDom(text)));
        if (textNode == nullptr) {
            xmlFreeNode(element);
            m_document->CheckResult(quorin::kXmlErrorOutOfMemory);
            return nullptr;
        }
        xmlAddChild(element, textNode);
    }
    xmlAddChild(m_node, element);
    m_document->CheckResult(0);
    return m_document->Wrap(element, m_indentation + "\t");
}

bool CXmlElement::AddTextChild(const std::string& name, const std::string& text) {
    return CreateChild(name, text) != nullptr;
}

bool CXmlElement::AddIntChild(const std::string& name, std::int32_t value) {
    return AddTextChild(name, std::to_string(value));
}

bool CXmlElement::AddFlagChild(const std::string& name, std::uint8_t value) {
    return AddTextChild(name, std::to_string(static_cast<unsigned>(value)));
}

bool CXmlElement::SetIntAttribute(const std::string& name, std::int32_t value) {
    if (xmlValidateName(X(name), 0) != 0)
        return m_document->CheckResult(quorin::kXmlErrorInvalidArg);
    if (xmlSetProp(m_node, X(name), X(std::to_string(value))) == nullptr)
        return m_document->CheckResult(quorin::kXmlErrorOutOfMemory);
    return m_document->CheckResult(0);
}

std::unique_ptr<CXmlElement> CXmlElement::CreateBinaryChild(const std::string& name,
                                                            const void* data, std::size_t size) {
    if (!AppendIndentation(true)) return nullptr;
    xmlNodePtr element = NewChildElement(name);
    if (element == nullptr) return nullptr;
    // <name xmlns:dt="urn:schemas-microsoft-com:datatypes" dt:dt="bin.base64">...</name>
    xmlNsPtr ns = xmlNewNs(element, X(kDataTypeNamespace), X("dt"));
    const std::string text =
        size == 0 ? std::string() : EncodeBase64(static_cast<const std::uint8_t*>(data), size);
    xmlNodePtr textNode = text.empty() ? nullptr : xmlNewDocText(m_node->doc, X(text));
    if (ns == nullptr || xmlSetNsProp(element, ns, X("dt"), X(kBinBase64)) == nullptr ||
        (!text.empty() && textNode == nullptr)) {
        xmlFreeNode(textNode);
        xmlFreeNode(element);
        m_document->CheckResult(quorin::kXmlErrorOutOfMemory);
        return nullptr;
    }
    if (textNode != nullptr) xmlAddChild(element, textNode);
    xmlAddChild(m_node, element);
    m_document->CheckResult(0);
    return m_document->Wrap(element, m_indentation + "\t");
}

bool CXmlElement::AddBinaryChild(const std::string& name, const void* data, std::size_t size) {
    return CreateBinaryChild(name, data, size) != nullptr;
}

bool CXmlElement::ReadBinary(std::vector<std::uint8_t>& out, std::size_t maxBytes) {
    out.clear();
    // The data type read where it stands (the element's attribute, or the default its
    // declaration gives), not copied: a copy the memory left cannot hold would read as none.
    const xmlAttrPtr type = xmlHasNsProp(m_node, X("dt"), X(kDataTypeNamespace));
    std::string typeText;
    if (type != nullptr && type->type == XML_ATTRIBUTE_NODE) {
        typeText = AttributeText(type);
    } else if (type != nullptr && type->type == XML_ATTRIBUTE_DECL) {
        const auto* declaration = reinterpret_cast<const xmlAttribute*>(type);
        if (declaration->defaultValue != nullptr)
            typeText = reinterpret_cast<const char*>(declaration->defaultValue);
    }
    const bool binary = typeText == kBinBase64;
    std::string text;
    if (binary) CollectText(m_node, text);
    if (!binary || !DecodeBase64(text, maxBytes, out)) {
        out.clear();
        m_document->SetError(static_cast<std::int32_t>(win::ERROR_DATATYPE_MISMATCH), {});
        return false;
    }
    return true;
}
