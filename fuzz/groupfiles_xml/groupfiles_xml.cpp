// Any bytes as a series, template or context document: parsing, reading every field and item,
// the icon, and writing the result into a new document must answer without a fault, and leave
// no global block behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "groupfiles/contextdata.h"
#include "groupfiles/fmsdata.h"
#include "groupfiles/xmldocument.h"
#include "platform/core/globalmem.h"

namespace {

void ReadAndWrite(CCoreGroupData& group, CXmlElement& root) {
    group.Read(root);
    group.ReadIcon(root);
    CXmlDocument out;
    std::unique_ptr<CXmlElement> copy = out.CreateRoot("ROOT", "");
    if (copy) {
        group.Write(*copy);
        group.WriteIcon(*copy);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const win::SIZE_T live = win::globalmem_testing::LiveBlocks();
    {
        CXmlDocument document;
        if (document.LoadMemory(data, size)) {
            std::unique_ptr<CXmlElement> root = document.SelectRoot();
            if (!root) std::abort();  // a parsed document always has a root
            CFmsData fms;
            ReadAndWrite(fms, *root);
            CFmsTemplateData tmpl;
            ReadAndWrite(tmpl, *root);
            CCqvData cqv;
            ReadAndWrite(cqv, *root);
            CFmsData copy;
            copy = fms;
        }
    }
    if (win::globalmem_testing::LiveBlocks() != live) std::abort();
    return 0;
}
