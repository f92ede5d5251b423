// CXmlDocument and CXmlElement: the thin layer over the XML DOM that the group data files (series,
// templates, contexts) use for every read and write. Every failed DOM step leaves an error code
// and a readable text on the document; documents are written pretty-printed, each element on its
// own line indented by tabs. Texts cross this border in the system's 8-bit code page and live in
// the DOM as UTF-8. Files are untrusted: no network, no external entities, no entity expansion,
// a size cap, and binary payloads sized before they are decoded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;
struct _xmlXPathContext;

class CXmlElement;

namespace quorin {
// Largest XML file the group data loaders accept.
inline constexpr std::uint64_t kMaxXmlFileBytes = std::uint64_t{16} << 20;
// Largest binary payload ReadBinary decodes unless the caller asks for less.
inline constexpr std::size_t kMaxXmlBinaryBytes = std::size_t{12} << 20;
// Parse errors are reported as this code plus the XML parser's own error number, in the
// facility of the Windows XML parser's errors.
inline constexpr std::uint32_t kXmlParseErrorBase = 0xC00CE000u;
// Codes this layer and its callers record.
inline constexpr std::int32_t kXmlErrorFileTooLarge = 223;  // ERROR_FILE_TOO_LARGE
inline constexpr std::int32_t kXmlErrorOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
inline constexpr std::int32_t kXmlErrorInvalidArg = static_cast<std::int32_t>(0x80070057u);

// The system's message text for a Windows error or COM result, line ends made blanks and
// trimmed; "Unknown error reason..." when there is none.
std::string SystemMessage(std::int32_t code);
}  // namespace quorin

class CXmlDocument {
  public:
    // Creates an empty document; check GetErrorCode() for 0 before use. (The COM initialisation
    // the Windows DOM needed per document has no counterpart here.)
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Drops any previous document and starts an empty one.
    bool CreateDocument();
    // Parses the file (a regular file: a pipe or device is refused without waiting on it); on
    // failure the error is the parse error (code and reason) or the file's.
    bool Load(const std::string& path);
    // Parses a document held in memory (same checks as Load).
    bool LoadMemory(const void* data, std::size_t size);
    // Writes the document as UTF-8 by the platform's safe replacement of the file (a link is
    // followed, a file the user may not write is refused, a failed save never harms the file it
    // replaces).
    bool Save(const std::string& path);

    bool AddComment(const std::string& text);
    std::unique_ptr<CXmlElement> CreateRoot(const std::string& name, const std::string& text);
    std::unique_ptr<CXmlElement> SelectRoot();

    // True once a step of reading this document (the parse, a selection, an element's wrapper)
    // failed for want of memory since it was created or loaded: what was read from it may be
    // less than the file holds, and a missing element proves nothing.
    bool OutOfMemory() const { return m_outOfMemory; }
    void NoteOutOfMemory();

    std::int32_t GetErrorCode() const { return m_errorCode; }
    void GetErrorText(std::string& out) const { out = m_errorText; }
    const std::string& GetErrorText() const { return m_errorText; }
    void ClearError();
    // A non-empty text is kept with line ends made blanks and trimmed; an empty one is replaced
    // by the system's text for the code.
    void SetError(std::int32_t code, std::string_view text);
    // The last parse error of the document (code 0 and no text after a good load).
    void TakeParseError();
    // Clears the error for 0, records any other result; true for 0.
    bool CheckResult(std::int32_t result);

  private:
    friend class CXmlElement;
    struct DocDeleter {
        void operator()(_xmlDoc* doc) const;
    };
    struct XPathDeleter {
        void operator()(_xmlXPathContext* context) const;
    };

    bool Parse(const void* data, std::size_t size);
    _xmlXPathContext* XPath();  // created on first use; null when that fails
    std::unique_ptr<CXmlElement> Wrap(_xmlNode* node, std::string indentation);
    // The single element that `path` selects from `context`, with the checks of SelectElement.
    _xmlNode* Select(_xmlNode* context, const std::string& path);

    std::string m_indentation = "\n";
    std::unique_ptr<_xmlDoc, DocDeleter> m_doc;
    std::unique_ptr<_xmlXPathContext, XPathDeleter> m_xpath;
    std::int32_t m_errorCode = 0;
    std::string m_errorText;
    bool m_outOfMemory = false;
    std::int32_t m_parseCode = 0;  // the document's parse error object
    std::string m_parseReason;
};

// One element of a document; it must be deleted before its document.
class CXmlElement {
  public:
    CXmlElement(CXmlDocument* document, _xmlNode* node, std::string indentation)
        : m_indentation(std::move(indentation)), m_document(document), m_node(node) {}

    bool GetName(std::string& out) const;
    // The text of the element and its descendants; references to entities declared by the file
    // count as nothing (they are never expanded).
    bool GetText(std::string& out) const;
    // The first element that the XPath `path`, relative to this element, selects; null when none
    // (the document's parse error is taken), when the node is not an element (error 1804), or
    // when the memory left could not evaluate the path (the document's OutOfMemory).
    std::unique_ptr<CXmlElement> SelectElement(const std::string& path);
    // The children `name` whose attribute `attribute` reads "1", "2", ... in that order (the
    // first of each), up to the first number that no child carries. Same result as selecting
    // name[@attribute="n"] for n = 1, 2, ... until one fails, in one pass over the children.
    // Fewer when the memory runs out (the document's OutOfMemory).
    std::vector<std::unique_ptr<CXmlElement>> SelectIndexedElements(const std::string& name,
                                                                    const std::string& attribute);

    // Appends a text node with this element's indentation (one tab more when `deeper`).
    bool AppendIndentation(bool deeper);
    std::unique_ptr<CXmlElement> CreateChild(const std::string& name, const std::string& text);
    bool AddTextChild(const std::string& name, const std::string& text);
    bool AddIntChild(const std::string& name, std::int32_t value);
    bool AddFlagChild(const std::string& name, std::uint8_t value);
    bool SetIntAttribute(const std::string& name, std::int32_t value);
    // A child holding the bytes as base64 text, marked with the data type "bin.base64".
    std::unique_ptr<CXmlElement> CreateBinaryChild(const std::string& name, const void* data,
                                                   std::size_t size);
    bool AddBinaryChild(const std::string& name, const void* data, std::size_t size);
    // The bytes of a "bin.base64" element. Fails (error 1629) for an element without that data
    // type, an empty or malformed payload, or one that would decode to more than `maxBytes`
    // (checked before anything is decoded).
    bool ReadBinary(std::vector<std::uint8_t>& out,
                    std::size_t maxBytes = quorin::kMaxXmlBinaryBytes);

    const std::string& Indentation() const { return m_indentation; }
    CXmlDocument* Document() const { return m_document; }

  private:
    friend class CXmlDocument;
    _xmlNode* NewChildElement(const std::string& name);  // created, not yet appended

    std::string m_indentation;
    CXmlDocument* m_document;  // not owned
    _xmlNode* m_node;          // owned by the document
};
