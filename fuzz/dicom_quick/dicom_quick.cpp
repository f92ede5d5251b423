// The quick readers over any bytes: the last byte chooses the reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dicom/file/dicomfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t which = data[size - 1];
    CDicomTypeFile file;
    if (!file.OpenMemory(data, size - 1)) return 0;
    if (file.ReadTransferSyntax() != 0 && (which & 0x80) == 0) return 0;
    std::string text;
    std::int32_t number = 0;
    std::uint16_t value = 0;
    std::uint32_t rows = 0, columns = 0;
    std::vector<std::string> teeth;
    quorin::DicomPatientValues patient;
    switch (which % 14) {
        case 0:
            file.ReadImageType(number);
            break;
        case 1:
            file.ReadToothNumbers(teeth);
            break;
        case 2:
            file.ReadPrivateUS45(value);
            break;
        case 3:
            file.ReadHorizontalFlip(number);
            break;
        case 4:
            file.ReadCaptureSource(number);
            break;
        case 5:
            file.ReadIsColour(number);
            break;
        case 6:
            file.ReadBitsStored(number);
            break;
        case 7:
            file.ReadImageSize(rows, columns);
            break;
        case 8:
            file.ReadSOPInstanceUID(text);
            break;
        case 9:
            file.ReadReferencedSOPInstanceUID(text);
            break;
        case 10:
            file.ReadModelName(text);
            break;
        case 11:
            file.ReadPatient(patient);
            break;
        case 12:
            file.ReadSOPClass(which & 0x0F);
            break;
        default:
            file.FindPrivateCreator();
            break;
    }
    return 0;
}
