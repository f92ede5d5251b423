#include <quorin/header.h>
#include <quorin/simage.h>
#include <quorin/uid.h>

#include <cstring>
#include <ctime>
#include <random>

#include "platform/core/globalmem.h"
#include "platform/core/path.h"
#include "records/core/imagetype.h"
#include "records/core/uid.h"
#include "records/dib/dibbuffer.h"
#include "records/headers/headerchecksum.h"

namespace {

// The source's UID with a time stamp appended, when that is a valid UID; empty otherwise (the
// caller then has a fresh one generated). A new file never carries its source's UID.
std::string DerivedInstanceUID(const CUid& source) {
    if (source.IsEmpty()) return {};
    std::string derived;
    if (!source.AppendTimeStamp(derived) || !quorin::IsValidUid(derived)) return {};
    return derived;
}

}  // namespace

void CHeader::Reset() {
    CHeaderBase::Reset();
    m_equipment.Reset();
    m_imageInfo.Reset();
    m_mpps.Reset();
    m_region.Reset();
    m_teeth.RemoveAll();
    m_filter.Reset();
    m_orient.Reset();
    m_drawings = CDrawingStore();
    m_checksumMismatch = 0;
    m_checksum = 0;
    m_corners.Reset();
    m_writerVersion.clear();
    m_drawingFlag = 1;
    m_drawingDataSize = 0;
}

bool CHeader::IsChecksumGuarded() const {
    switch (m_imageType) {
        case IMAGE_TYPE_ZEL:
        case IMAGE_TYPE_PANO:
        case IMAGE_TYPE_CEPH:
            return true;
        case IMAGE_TYPE_CR:
        case IMAGE_TYPE_CRIO:
        case IMAGE_TYPE_CRPANO:
        case IMAGE_TYPE_CRCEPH:
            return m_filter.GetProcessed() == 0;
        default:
            return false;
    }
}

// ---- SDK record exchange

void CHeader::FromSOMU(SOMUImage& record) {
    CHeaderBase::FromSOMU(record);
    m_imageGroup.FromSOMU(record.series);
    m_equipment.FromSOMU(record.equipment);
    m_mpps.FromSOMU(record.procedure);
    m_patient.FromSOMU(record);
    m_imageInfo.FromSOMU(record.info);
    m_region.FromSOMU(record);
    m_orient.FromSOMU(record.orientation);
    // The filter comes from the processing level the SDK's processing writes, not from nFilter
    // (which ToSOMU writes): the record's processing decides what the image now has.
    m_filter.SetFilter(record.nProcessingLevel, record.nFilterParameter);
    m_filter.SetProcessed(record.bProcessed);
    m_teeth.FromSOMU(record.szTeeth);
    DrawingsFromSOMU(record);
    m_corners.FromSOMU(record.anCorners);
    VerifyPixelChecksum(record);
}

bool CHeader::ToSOMU(SOMUImage& record) {
    bool ok = CHeaderBase::ToSOMU(record);
    m_imageGroup.ToSOMU(record.series);
    m_equipment.ToSOMU(record.equipment);
    m_mpps.ToSOMU(record.procedure);
    ok = m_patient.ToSOMU(record) && ok;
    m_imageInfo.ToSOMU(record.info);
    m_region.ToSOMU(record);
    m_orient.ToSOMU(record.orientation);
    std::int32_t filter = 0;
    std::int32_t parameter = 0;
    m_filter.GetFilter(&filter, &parameter);
    record.nFilter = filter;
    record.nFilterParameter = parameter;
    record.bFilterSet = filter != 0 ? 1 : 0;
    record.bProcessed = m_filter.GetProcessed() == 1 ? 1 : 0;
    m_teeth.ToSOMU(record.szTeeth);
    ok = DrawingsToSOMU(record) && ok;
    m_corners.ToSOMU(record.anCorners);
    StorePixelChecksum(record);
    return ok;
}

void CHeader::DrawingsFromSOMU(const SOMUImage& record) {
    const SOMUDrawing& block = record.drawing;
    m_drawings = CDrawingStore();
    SetDrawingFlag(block.bFlag);
    // The record carries no writer version: its blob is always in the newest layout (see
    // DrawingsToSOMU), so it is read as such, and the header's own version applies afterwards.
    m_drawings.SetWriterVersion(CDrawingStore::kNewestVersion);
    if (block.pBlob != nullptr && block.nBlobSize > 0 &&
        quorin::BlockHolds(block.pBlob, block.nBlobSize))
        m_drawings.SetDrawingData(block.pBlob, block.nBlobSize, m_width, m_height, block.bFlag);
    // The list is what the SDK and the overlay edit: when it holds drawings, it wins.
    if (block.list.nCount > 0) m_drawings.SetDrawingList(block.list);
    if (!m_writerVersion.empty()) m_drawings.SetWriterVersion(m_writerVersion.c_str());
    m_drawingDataSize = m_drawings.GetBlobSize();
}

bool CHeader::DrawingsToSOMU(SOMUImage& record) {
    SOMUDrawing& block = record.drawing;
    FreeGlobalPointer(block.pBlob);
    block.pBlob = nullptr;
    block.nBlobSize = 0;
    block.bFlag = m_drawingFlag;
    bool ok = true;
    // Written in the newest layout, which carries every field, whatever the file's version.
    CDrawingStore newest(m_drawings);
    newest.SetWriterVersion(CDrawingStore::kNewestVersion);
    std::uint32_t size = 0;
    const std::uint8_t* blob = newest.WriteBlob(&size);
    if (blob != nullptr && size > 0) {
        void* copy = quorin::AllocRecordBlock(size);
        if (copy != nullptr) {
            std::memcpy(copy, blob, size);
            block.pBlob = static_cast<std::uint8_t*>(copy);
            block.nBlobSize = size;
        } else {
            ok = false;
        }
    } else if (m_drawings.GetDrawingCount() > 0 || m_drawings.GetBlobSize() > 0) {
        ok = false;  // drawings that could not be written
    }
    if (!m_drawings.GetDrawingList(&block.list)) ok = false;
    return ok;
}

// ---- drawings, version and flag

// A blob is only read right with the version it was written in: when the store writes the
// newest layout for want of a version, that version becomes the header's too, so that whoever
// stores the blob with the header's version reads it back as written.
std::uint32_t CHeader::GetDrawingDataSize() {
    m_drawingDataSize = m_drawings.ComputeBlobSize();
    m_writerVersion = m_drawings.GetWriterVersion();
    return m_drawingDataSize;
}

const std::uint8_t* CHeader::GetDrawingData() {
    std::uint32_t size = 0;
    const std::uint8_t* blob = m_drawings.WriteBlob(&size);
    m_writerVersion = m_drawings.GetWriterVersion();
    m_drawingDataSize = size;
    return blob;
}

bool CHeader::SetDrawingData(const void* data, std::uint32_t size, std::int32_t width,
                             std::int32_t height, std::uint8_t flag) {
    // The blob is read by the header's writer version, whatever the store last wrote.
    m_drawings.SetWriterVersion(m_writerVersion.c_str());
    m_drawingFlag = flag;
    m_drawingDataSize = size;
    return m_drawings.SetDrawingData(data, size, width, height, flag);
}

void CHeader::SetWriterVersion(std::string_view text) {
    m_writerVersion = text;
    m_drawings.SetWriterVersion(m_writerVersion.c_str());
}

void CHeader::SetDrawingFlag(std::uint8_t flag) {
    m_drawingFlag = flag;
    m_drawings.SetDrawingFlag(flag);
}

// ---- pixel checksum

void CHeader::VerifyPixelChecksum(SOMUImage& record) {
    if (record.bChecksumMismatch != 0) {
        // Found and marked before: the marked pixels are not checked again.
        m_checksumMismatch = 1;
        return;
    }
    // Without pixels there is nothing to judge: no verdict rather than a false alarm that
    // the next ToSOMU would make permanent.
    if (!IsChecksumGuarded() || record.image.pPixels == nullptr) {
        m_checksumMismatch = 0;
        return;
    }
    const std::uint32_t expected = record.nCheck3 + record.nCheck1;
    CheckPixelChecksum(*this, record.image.pPixels, true, expected);
}

void CHeader::StorePixelChecksum(SOMUImage& record) {
    record.bChecksumMismatch = m_checksumMismatch == 1 ? 1 : 0;
    const std::uint32_t sum =
        IsChecksumGuarded() ? ComputePixelChecksum(*this, record.image.pPixels) : 0;
    // Only nCheck1 + nCheck3 is read back; the random numbers hide the sum in the record.
    std::minstd_rand random(static_cast<std::uint32_t>(std::time(nullptr)));
    const std::uint32_t r1 = random();
    const std::uint32_t r2 = random();
    record.nCheck1 = sum - r1;
    record.nCheck3 = r1;
    record.nCheck2 = r2;
}

// ---- new files

bool CHeader::MakeNewFilePath(std::int32_t type, std::string_view ext) {
    const std::string& folder = m_patient.GetFolder();
    std::string name;
    if (folder.empty() || !GetNextImageFileName(type, folder, name)) {
        m_path.clear();
        return false;
    }
    name += ext;
    m_path = win::PathJoin(folder, name);
    return true;
}

bool CHeader::PrepareProcessedCopy() {
    std::int32_t newType = 0;
    const char* ext = nullptr;
    switch (m_imageType) {
        case IMAGE_TYPE_ZEL:
        case IMAGE_TYPE_IO:
            newType = IMAGE_TYPE_IO;
            ext = ".iofp";
            break;
        case IMAGE_TYPE_WLK:
        case IMAGE_TYPE_VL:
            newType = IMAGE_TYPE_VL;
            ext = ".vl";
            break;
        case IMAGE_TYPE_PANO:
        case IMAGE_TYPE_CEPH:
        case IMAGE_TYPE_DX:
            newType = IMAGE_TYPE_DX;
            ext = ".dxfp";
            break;
        case IMAGE_TYPE_SC:
            newType = IMAGE_TYPE_SC;
            ext = ".sc";
            break;
        case IMAGE_TYPE_CR:
        case IMAGE_TYPE_CRIO:
        case IMAGE_TYPE_CRPANO:
        case IMAGE_TYPE_CRCEPH:
            newType = IMAGE_TYPE_CR;
            ext = ".crfp";
            break;
        default:
            return false;
    }
    // The source image, which the copy refers to. A copy of a processed copy keeps the class of
    // the image its source referred to; a first copy refers to its source by the source's type.
    const std::string sourceUID = m_imageGroup.InstanceUID().GetText();
    std::int32_t referencedClass = 0;
    if (m_filter.GetProcessed() != 0)
        m_imageGroup.GetReferencedImage(nullptr, &referencedClass, nullptr);
    if (referencedClass == 0) referencedClass = m_imageType;
    const std::string derivedUID = DerivedInstanceUID(m_imageGroup.InstanceUID());

    m_imageType = newType;
    const bool named = MakeNewFilePath(newType, ext);
    m_imageInfo.SetLossyCompression(0, "");
    m_filter.SetProcessed(1);
    m_imageInfo.DateTime2().SetNow();
    m_imageGroup.DateTime().SetNow();
    m_imageGroup.SetReferencedImage(sourceUID, referencedClass, 0);
    // Always a new series and instance: an empty text has a fresh UID generated.
    m_imageGroup.SetSeriesUID("");
    m_imageGroup.SetInstanceUID(derivedUID);
    m_imageGroup.SetSeriesNumber("1");
    m_imageGroup.SetInstanceNumber("1");
    return named;
}

bool CHeader::PrepareDuplicate() {
    const std::string ext = win::PathExtension(m_path);
    const bool named = MakeNewFilePath(m_imageType, ext);
    const std::string sourceUID = m_imageGroup.InstanceUID().GetText();
    const std::string derivedUID = DerivedInstanceUID(m_imageGroup.InstanceUID());
    m_imageGroup.SetReferencedImage(sourceUID, m_imageType, 0);
    m_imageGroup.SetInstanceUID(derivedUID);
    m_imageGroup.SetInstanceNumber("1");
    return named;
}
