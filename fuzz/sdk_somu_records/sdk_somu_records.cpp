// The information records read an SDK image record whatever it holds: texts without their
// terminating zero, counts that do not match their tables, any LUT settings. The input fills
// the record's bytes (pointers replaced by real blocks of input-chosen sizes); every record
// converts from it and back, and the grey LUT draws tables of an input-chosen size.
#include <quorin/equipment.h>
#include <quorin/geometry.h>
#include <quorin/patient.h>
#include <quorin/series.h>
#include <quorin/somuimage.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "records/info/equipment.h"
#include "records/info/geometry.h"
#include "records/info/lutgray.h"
#include "records/info/sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint16_t tableBytes, pointBytes, tableEntries;
    std::memcpy(&tableBytes, data, 2);
    std::memcpy(&pointBytes, data + 2, 2);
    std::memcpy(&tableEntries, data + 4, 2);
    data += 8;
    size -= 8;

    auto record = std::make_unique<SOMUImage>();
    std::memcpy(record.get(), data, size < sizeof(SOMUImage) ? size : sizeof(SOMUImage));
    record->image.pPixels = nullptr;
    record->drawing.pBlob = nullptr;
    record->drawing.nBlobSize = 0;
    record->drawing.list = SOMUDrawingList{};
    record->pProcessing = nullptr;
    // Real blocks whose sizes need not match the record's counts.
    record->display.lut.pTable =
        static_cast<std::uint16_t*>(quorin::AllocRecordBlock(tableBytes % 4096));
    record->pano.pPoints = static_cast<std::uint32_t*>(quorin::AllocRecordBlock(pointBytes % 4096));

    CPatient patient;
    patient.FromSOMU(*record);
    CImageGroup series;
    series.FromSOMU(record->series);
    CEquipment equipment;
    equipment.FromSOMU(record->equipment);
    CMPPS step;
    step.FromSOMU(record->procedure);
    CInfosImage info;
    info.FromSOMU(record->info);
    CInfosExp exposure;
    exposure.FromSOMU(record->display.exposure);
    CDetector detector;
    detector.FromSOMU(record->display.detector);
    CInfosOrient orient;
    orient.FromSOMU(record->orientation);
    CInfosCorners corners;
    corners.FromSOMU(record->anCorners);
    corners.Rotate(record->orientation.nRotation);
    CInfosPano pano;
    pano.FromSOMU(record->pano);
    CInfosCeph ceph;
    ceph.FromSOMU(record->ceph);
    CInfosZel zel;
    zel.FromSOMU(*record);
    CInfosLUTGray lut(239, 256);
    lut.FromSettings(record->display.lut);
    CInfosLUTGrayZel zelLut(&zel);
    zelLut.FromSettings(record->display.lut);
    zel.SetFilterLevel(zel.GetFilterLevel() + 1);

    std::vector<std::uint16_t> table(std::size_t{tableEntries} + 1);
    lut.GetTable(table.data(), tableEntries + 1u);
    std::int32_t center, width;
    lut.GetWindow(&center, &width, nullptr, tableEntries + 1u);
    lut.SetWindow(static_cast<std::uint32_t>(center), static_cast<std::uint32_t>(width), 0,
                  tableEntries + 1u, lut.GetMaxEntries());
    lut.GetTable(table.data(), tableEntries + 1u);
    std::string text;
    exposure.GetExposureText(text);
    exposure.GetDoseText(text, 1);

    auto out = std::make_unique<SOMUImage>();
    patient.ToSOMU(*out);
    series.ToSOMU(out->series);
    equipment.ToSOMU(out->equipment);
    step.ToSOMU(out->procedure);
    info.ToSOMU(out->info);
    exposure.ToSOMU(out->display.exposure);
    detector.ToSOMU(out->display.detector);
    orient.ToSOMU(out->orientation);
    corners.ToSOMU(out->anCorners);
    pano.ToSOMU(out->pano);
    ceph.ToSOMU(out->ceph);
    out->nImageType = record->nImageType;
    zel.ToSOMU(*out);
    lut.ToSettings(out->display.lut);

    FreeSOMUImageData(out.get());
    FreeSOMUImageData(record.get());
    return 0;
}
