// Feeds random streams to the element readers and the data-set operations. The last byte
// chooses the path: bit 0 implicit VR, bit 1 big endian, bits 2-3 the operation, bits 4-7 the
// VR (element reads) or the pixel mode (data sets); the byte before it the VR's second half.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/dataset.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/sequence.h"

namespace {

constexpr const char* kVrs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO",
                                "LT", "OB", "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "TM", "UI",
                                "UL", "UN", "US", "UT", "OF", "OD", "UC", "UR", "SV", "UV"};

// Everything a caller does with an element once it is read.
void Exercise(CElementDICOM& element) {
    win::CMemFile out;
    quorin::WriteElement(element, &out);
    (void)element.EncodedLength();
    std::unique_ptr<CElementDICOM> copy(element.Clone());
    if (copy) {
        copy->SetByteOrder(quorin::kBigEndian);
        quorin::WriteElement(*copy, &out);
    }
    if (auto* ow = dynamic_cast<CElementOW*>(&element)) (void)ow->GetWord(1);
    if (auto* ds = dynamic_cast<CElementDSMultiple*>(&element)) (void)ds->GetNumber(0);
    if (auto* pn = dynamic_cast<CElementPNMultiple*>(&element)) (void)pn->GetValue(0);
}

void ExerciseList(CInfosDicomList& list) {
    win::CMemFile out;
    list.Write(&out, 1, nullptr, 0, nullptr);
    CInfosDicomList sorted;
    for (CInfosDicomNode* node = list.m_pFirst; node; node = node->m_pNext)
        sorted.Insert(node->m_pElement);
    sorted.FindPrivateCreator(0x0009);
    sorted.GetPrivateCreatorSlot(0x0009);
    if (sorted.m_pFirst) {
        const auto* first = sorted.m_pFirst->m_pElement;
        sorted.Find(first->m_nGroup, first->m_nElement, 1);
    }
    sorted.RemoveFlagged();
    sorted.SwapAll();
    sorted.SwapAll();
    const quorin::TagValue mask{0x0009, 0x1000};
    const quorin::TagValue pixels{0x7FE0, 0x0000};
    const quorin::TagValue* exclusions[] = {&pixels};
    win::CMemFile again;
    sorted.Write(&again, 0, exclusions, 1, &mask);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[size - 1];
    const std::uint8_t extra = data[size - 2];
    const std::int32_t implicit = flags & 1;
    const std::int32_t order = (flags & 2) ? quorin::kBigEndian : quorin::kLittleEndian;
    const int operation = (flags >> 2) & 3;
    const int high = flags >> 4;
    win::CMemFile file(data, size - 2);

    switch (operation) {
        case 0: {  // one element of a chosen VR read at offset 0
            const char* vr = kVrs[(high + 16 * (extra & 1)) % std::size(kVrs)];
            std::unique_ptr<CElementDICOM> element(
                quorin::NewEmptyElement(vr, extra & 2 ? 1 : 3, 0x0011, 0x1010, implicit, order));
            if (!element) return 0;
            element->ReadAt(&file, 0, (extra & 4) ? size / 2 : quorin::kNoLimit);
            Exercise(*element);
            if (auto* un = dynamic_cast<CElementUN*>(element.get())) {
                CElementDICOM* converted = nullptr;
                un->ConvertByDictionary(&converted);
                std::unique_ptr<CElementDICOM> owned(converted);
                if (owned) Exercise(*owned);
            }
            break;
        }
        case 1: {  // searches and measuring
            CElementUSMultiple rows(3, 0x0028, 0x0010, &file, implicit, order, extra);
            Exercise(rows);
            CElementSQ sequence(3, 0x0008, 0x1140, &file, implicit, order, extra, high & 3);
            Exercise(sequence);
            CElementOB ob(4, 0x7FE0, 0x0010, 0u, implicit, order);
            ob.MeasureAt(&file, extra);
            CElementOW ow(4, 0x7FE0, 0x0010, 0u, implicit, order);
            ow.MeasureAt(&file, extra);
            CElementUIMultiple syntax(0, 0x0002, 0x0010, &file, 0, 1, extra);
            (void)syntax.GetValue(0);
            break;
        }
        case 2: {  // a Part 10 stream
            CInfosDicomList list;
            list.ReadFromStream(&file, 1, 0, 0, high % 5, 0);
            ExerciseList(list);
            break;
        }
        case 3: {  // a data set without preamble, as the content of an item
            CInfosDicomList list;
            list.m_bImplicit = implicit;
            list.m_nByteOrder = order;
            list.ReadFromStream(&file, 0, extra % 16 + 1, 0, high % 5, 1);
            ExerciseList(list);
            break;
        }
    }
    return 0;
}
