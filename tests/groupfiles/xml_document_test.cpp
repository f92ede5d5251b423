// The XML document wrapper: texts across the code page border, layout, binary elements, error
// codes, hostile documents (entities, external references, size) and saving over a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "group_test_util.h"
#include "groupfiles/xmldocument.h"

namespace {

using quorin::test::ReadBytes;
using quorin::test::TempDir;
using quorin::test::WriteText;

std::string ReadText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::unique_ptr<CXmlElement> Parse(CXmlDocument& doc, const std::string& text) {
    if (!doc.LoadMemory(text.data(), text.size())) return nullptr;
    return doc.SelectRoot();
}

TEST(XmlDocument, TextsRoundTripThroughTheCodePage) {
    TempDir dir;
    // é and the euro sign in Windows-1252, markup characters, a control character, CR LF.
    const std::string text = "S\xE9rie \x80 & <a> \"q\" \x01 end\r\nnext\t ";
    {
        CXmlDocument doc;
        ASSERT_EQ(doc.GetErrorCode(), 0);
        ASSERT_TRUE(doc.AddComment("Quorin FMS File"));
        auto root = doc.CreateRoot("ROOT", "");
        ASSERT_TRUE(root);
        ASSERT_TRUE(root->AddTextChild("Name", text));
        ASSERT_TRUE(root->AppendIndentation(false));
        ASSERT_TRUE(doc.Save(dir.file("a.xml")));
    }
    const std::string saved = ReadText(dir.file("a.xml"));
    EXPECT_NE(saved.find("S\xC3\xA9rie \xE2\x82\xAC &amp; &lt;a&gt;"), std::string::npos) << saved;

    CXmlDocument doc;
    ASSERT_TRUE(doc.Load(dir.file("a.xml")));
    auto root = doc.SelectRoot();
    ASSERT_TRUE(root);
    auto name = root->SelectElement("Name");
    ASSERT_TRUE(name);
    std::string read;
    name->GetText(read);
    std::string expected = text;
    expected[expected.find('\x01')] = '?';  // XML cannot carry it
    EXPECT_EQ(read, expected);
    EXPECT_TRUE(quorin::test::XmllintAccepts(dir.file("a.xml")));
}

TEST(XmlDocument, CharactersOutsideTheCodePageReadAsQuestionMarks) {
    CXmlDocument doc;
    auto root = Parse(doc,
                      "<R><T>a\xE2\x88\x9E"
                      "b</T></R>");  // U+221E
    ASSERT_TRUE(root);
    std::string text;
    root->SelectElement("T")->GetText(text);
    EXPECT_EQ(text, "a?b");
}

TEST(XmlDocument, Windows1252ReadsItsUndefinedBytesAsControls) {
    // The five bytes the code page leaves undefined read as the C1 controls of the same number,
    // as Windows converts them; the rest of the code page as usual.
    TempDir dir;
    const std::string text = "a\x81\x8D\x8F\x90\x9D\xE9\x80";
    for (const char* name : {"windows-1252", "Windows-1252", "cp1252"}) {
        WriteText(dir.file("w.xml"), std::string("<?xml version=\"1.0\" encoding=\"") + name +
                                         "\"?>\n<R><T>" + text + "</T></R>");
        CXmlDocument doc;
        ASSERT_TRUE(doc.Load(dir.file("w.xml"))) << name << ": " << doc.GetErrorText();
        std::string read;
        doc.SelectRoot()->SelectElement("T")->GetText(read);
        EXPECT_EQ(read, text) << name;
    }
}

TEST(XmlDocument, ParserDiagnosticsGoToTheLastErrorOnly) {
    for (const std::string& bad :
         {std::string("<?xml version='1.0' encoding='x-no-such'?><R/>"),
          std::string("<?xml version='1.0' encoding='UTF-8'?><R>\xFF</R>"),
          std::string("<?xml version='1.0' encoding='ISO-8859-7'?><R>\xAE</R>"),
          std::string("<R>")}) {
        CXmlDocument doc;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(doc.LoadMemory(bad.data(), bad.size())) << bad;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << bad;
        EXPECT_NE(doc.GetErrorCode(), 0) << bad;
        EXPECT_FALSE(doc.GetErrorText().empty()) << bad;
    }
    CXmlDocument doc;
    auto root = Parse(doc, "<R/>");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(root->SelectElement("R[[["));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(XmlDocument, ChildrenAreIndentedByDepth) {
    TempDir dir;
    CXmlDocument doc;
    doc.AddComment("c");
    auto root = doc.CreateRoot("R", "");
    auto a = root->CreateChild("A", "");
    ASSERT_TRUE(a->AddIntChild("B", -7));
    ASSERT_TRUE(a->AddFlagChild("F", 1));
    a->AppendIndentation(false);
    root->AppendIndentation(false);
    ASSERT_TRUE(doc.Save(dir.file("i.xml")));
    const std::string saved = ReadText(dir.file("i.xml"));
    EXPECT_NE(saved.find("<R>\n\t<A>\n\t\t<B>-7</B>\n\t\t<F>1</F>\n\t</A>\n</R>"),
              std::string::npos)
        << saved;
    EXPECT_EQ(a->Indentation(), "\n\t");
}

TEST(XmlDocument, BinaryElementsCarryTheBase64DataType) {
    TempDir dir;
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31);
    {
        CXmlDocument doc;
        auto root = doc.CreateRoot("R", "");
        ASSERT_TRUE(root->AddBinaryChild("Data", bytes.data(), bytes.size()));
        ASSERT_TRUE(doc.Save(dir.file("b.xml")));
    }
    const std::string saved = ReadText(dir.file("b.xml"));
    EXPECT_NE(saved.find("xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\""),
              std::string::npos);
    // Python's own base64 reads the same bytes.
    const auto check = quorin::test::RunPython(
        "import sys, base64, xml.etree.ElementTree as ET\n"
        "e = ET.parse(sys.argv[1]).getroot().find('Data')\n"
        "assert e.get('{urn:schemas-microsoft-com:datatypes}dt') == 'bin.base64'\n"
        "d = base64.b64decode(e.text)\n"
        "assert d == bytes((i * 31) & 255 for i in range(1000)), d[:10]\n"
        "print('OK')\n",
        {dir.file("b.xml")});
    EXPECT_EQ(check.output, "OK\n");

    CXmlDocument doc;
    ASSERT_TRUE(doc.Load(dir.file("b.xml")));
    auto data = doc.SelectRoot()->SelectElement("Data");
    std::vector<std::uint8_t> read;
    ASSERT_TRUE(data->ReadBinary(read));
    EXPECT_EQ(read, bytes);
    // Asked for less than the payload holds: refused before decoding.
    EXPECT_FALSE(data->ReadBinary(read, 999));
    EXPECT_EQ(doc.GetErrorCode(), 1629);
    EXPECT_TRUE(read.empty());
}

TEST(XmlDocument, BinaryReadRefusesPlainAndMalformedElements) {
    CXmlDocument doc;
    auto root = Parse(doc,
                      "<R xmlns:dt='urn:schemas-microsoft-com:datatypes'>"
                      "<Plain>AAEC</Plain>"
                      "<Other xmlns:dt='urn:other' dt:dt='bin.base64'>AAEC</Other>"
                      "<Bad dt:dt='bin.base64'>AA=E</Bad>"
                      "<Empty dt:dt='bin.base64'> </Empty>"
                      "<Spaced dt:dt='bin.base64'>\n AA\tEC\n</Spaced></R>");
    ASSERT_TRUE(root);
    std::vector<std::uint8_t> bytes;
    for (const char* name : {"Plain", "Other", "Bad", "Empty"}) {
        doc.ClearError();
        EXPECT_FALSE(root->SelectElement(name)->ReadBinary(bytes)) << name;
        EXPECT_EQ(doc.GetErrorCode(), 1629) << name;
        EXPECT_EQ(doc.GetErrorText(), "The data supplied is of the wrong type.");
    }
    ASSERT_TRUE(root->SelectElement("Spaced")->ReadBinary(bytes));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0, 1, 2}));
}

TEST(XmlDocument, SelectElementReportsMissingAndNonElementNodes) {
    CXmlDocument doc;
    auto root =
        Parse(doc, "<R><A><B>1</B></A><q:A xmlns:q='urn:x'><C>3</C></q:A><A><C>2</C></A>text</R>");
    ASSERT_TRUE(root);
    // The first match in document order, across several parents; a name without a prefix names
    // no element of a namespace.
    auto c = root->SelectElement("A/C");
    ASSERT_TRUE(c);
    std::string text;
    c->GetText(text);
    EXPECT_EQ(text, "2");
    // Missing: the document's parse error, which is none after a good load.
    EXPECT_FALSE(root->SelectElement("Z"));
    EXPECT_EQ(doc.GetErrorCode(), 0);
    EXPECT_FALSE(root->SelectElement("text()"));
    EXPECT_EQ(doc.GetErrorCode(), 1804);
    EXPECT_EQ(doc.GetErrorText(), "The specified datatype is invalid.");
    EXPECT_FALSE(root->SelectElement("(((bad xpath"));
}

TEST(XmlDocument, NamesAreQualified) {
    CXmlDocument doc;
    auto root = Parse(doc, "<q:FMS_DATA xmlns:q='urn:x'><A/></q:FMS_DATA>");
    ASSERT_TRUE(root);
    std::string name;
    root->GetName(name);
    EXPECT_EQ(name, "q:FMS_DATA");
}

TEST(XmlDocument, IndexedElementsStopAtTheFirstMissingNumber) {
    CXmlDocument doc;
    auto root = Parse(doc,
                      "<R><I Index='2'>b</I><I Index='1'>a</I><I Index='1'>dup</I>"
                      "<I Index=' 3'>x</I><I Index='4'>d</I><J Index='3'>j</J></R>");
    ASSERT_TRUE(root);
    auto items = root->SelectIndexedElements("I", "Index");
    ASSERT_EQ(items.size(), 2u);
    std::string text;
    items[0]->GetText(text);
    EXPECT_EQ(text, "a");
    items[1]->GetText(text);
    EXPECT_EQ(text, "b");
}

TEST(XmlDocument, ParseErrorsGiveCodeAndReason) {
    CXmlDocument doc;
    const std::string bad = "<R><A></B></R>";
    EXPECT_FALSE(doc.LoadMemory(bad.data(), bad.size()));
    EXPECT_EQ(static_cast<std::uint32_t>(doc.GetErrorCode()) & 0xFFFFF000u,
              quorin::kXmlParseErrorBase);
    EXPECT_NE(doc.GetErrorText().find("line 1"), std::string::npos) << doc.GetErrorText();
    EXPECT_EQ(doc.GetErrorText().find('\n'), std::string::npos);

    for (const std::string& text : {std::string(), std::string("<R>"), std::string("plain")}) {
        EXPECT_FALSE(doc.LoadMemory(text.data(), text.size())) << text;
        EXPECT_NE(doc.GetErrorCode(), 0);
    }
    TempDir dir;
    EXPECT_FALSE(doc.Load(dir.file("missing.xml")));
    EXPECT_EQ(doc.GetErrorCode(), 2);
    EXPECT_EQ(doc.GetErrorText(), "The system cannot find the file specified.");
    EXPECT_FALSE(doc.Load(dir.path()));
    EXPECT_EQ(doc.GetErrorCode(), 5);
}

TEST(XmlDocument, EntitiesAreNeverExpanded) {
    // Billion laughs: each level ten times the one before.
    std::string bomb = "<?xml version='1.0'?><!DOCTYPE R [<!ENTITY l0 'lol'>";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY l" + std::to_string(i) + " '";
        for (int j = 0; j < 10; ++j) bomb += "&l" + std::to_string(i - 1) + ";";
        bomb += "'>";
    }
    bomb += "]><R><T>&l9;</T></R>";
    CXmlDocument doc;
    if (doc.LoadMemory(bomb.data(), bomb.size())) {
        std::string text;
        doc.SelectRoot()->SelectElement("T")->GetText(text);
        EXPECT_LT(text.size(), 100u);
    } else {
        EXPECT_NE(doc.GetErrorCode(), 0);
    }

    // An external entity is never fetched, a DTD never loaded.
    TempDir dir;
    WriteText(dir.file("secret.txt"), "SECRET");
    const std::string external = "<?xml version='1.0'?><!DOCTYPE R SYSTEM '" + dir.file("x.dtd") +
                                 "' [<!ENTITY s SYSTEM 'file://" + dir.file("secret.txt") +
                                 "'>]><R><T>a&s;b</T></R>";
    if (doc.LoadMemory(external.data(), external.size())) {
        std::string text;
        doc.SelectRoot()->SelectElement("T")->GetText(text);
        EXPECT_EQ(text, "ab");
    }
    // Predefined entities and character references are plain text.
    auto root = Parse(doc, "<R><T>&lt;&amp;&#233;&#x41;</T></R>");
    std::string text;
    root->SelectElement("T")->GetText(text);
    EXPECT_EQ(text,
              "<&\xE9"
              "A");
}

TEST(XmlDocument, OversizedFilesAreRefusedBeforeParsing) {
    TempDir dir;
    {
        std::FILE* f = std::fopen(dir.file("big.xml").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("<R>", f);
        std::fseek(f, static_cast<long>(quorin::kMaxXmlFileBytes) + 10, SEEK_SET);
        std::fputs("</R>", f);
        std::fclose(f);
    }
    CXmlDocument doc;
    EXPECT_FALSE(doc.Load(dir.file("big.xml")));
    EXPECT_EQ(doc.GetErrorCode(), quorin::kXmlErrorFileTooLarge);
    EXPECT_FALSE(doc.GetErrorText().empty());
}

TEST(XmlDocument, SaveReplacesTheFileWhole) {
    TempDir dir;
    const std::string path = dir.file("s.xml");
    WriteText(path, "old contents");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    CXmlDocument doc;
    doc.CreateRoot("R", "new");
    ASSERT_TRUE(doc.Save(path));
    EXPECT_NE(ReadText(path).find("<R>new</R>"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    // Nothing else is left in the folder.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // A save that cannot be done leaves the old file as it was.
    EXPECT_FALSE(doc.Save(dir.file("no/such/folder/s.xml")));
    EXPECT_EQ(doc.GetErrorCode(), 3);  // path not found: the folder is missing
    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_FALSE(doc.Save(dir.file("folder")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder")));
}

TEST(XmlDocument, ErrorTextsAreOneTrimmedLine) {
    CXmlDocument doc;
    doc.SetError(5, "");
    EXPECT_EQ(doc.GetErrorText(), "Access is denied.");
    doc.SetError(7, "  two\r\nlines \n");
    EXPECT_EQ(doc.GetErrorText(), "two  lines");
    doc.SetError(-12345, "");
    EXPECT_EQ(doc.GetErrorText(), "Unknown error reason...");
    EXPECT_TRUE(doc.CheckResult(0));
    EXPECT_EQ(doc.GetErrorCode(), 0);
    EXPECT_FALSE(doc.CheckResult(1));  // S_FALSE counts as a failure too
    EXPECT_EQ(quorin::SystemMessage(160), "One or more arguments are not correct.");
    EXPECT_EQ(quorin::SystemMessage(static_cast<std::int32_t>(0x8007000E)),
              "Not enough memory resources are available to complete this operation.");
}

TEST(XmlDocument, InvalidNamesAreRefused) {
    CXmlDocument doc;
    auto root = doc.CreateRoot("R", "");
    EXPECT_FALSE(root->CreateChild("bad name", "x"));
    EXPECT_NE(doc.GetErrorCode(), 0);
    EXPECT_FALSE(doc.CreateRoot("Second", ""));  // one root per document
}

}  // namespace
