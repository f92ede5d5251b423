// CHeader: the information model of one native image. It holds every record that describes the
// image (patient and study, series, equipment, image dates and comments, procedure step, region
// and teeth, orientation, filter, drawings, corners), converts them to and from the SDK record
// (SOMUImage), guards the pixels of acquired radiographs with a checksum stored masked in the
// record (headerchecksum.h), and turns itself into the header of a new processed copy or
// duplicate. Per-kind subclasses are in headerkinds.h.
#pragma once
#include <quorin/anatomy.h>
#include <quorin/drawingstore.h>
#include <quorin/equipment.h>
#include <quorin/export.h>
#include <quorin/geometry.h>
#include <quorin/headerbase.h>
#include <quorin/patient.h>
#include <quorin/series.h>

#include <cstdint>
#include <string>
#include <string_view>

class QUORIN_EXPORT CHeader : public CHeaderBase {
  public:
    CHeader() = default;
    CHeader(const CHeader&) = default;
    CHeader& operator=(const CHeader&) = default;  // the base resets first, then every member
    ~CHeader() override = default;

    // The base fields and every record back to its defaults; patient and series keep theirs.
    void Reset() override;
    // Every exchanged field from the record, then the pixel check (VerifyPixelChecksum). The
    // check may stamp the integrity mark into the record's pixels.
    void FromSOMU(SOMUImage& record) override;
    // Every exchanged field into the record (the record owns the copies of the drawing blob and
    // list it receives), then the masked checksum (StorePixelChecksum). False when a path does
    // not fit its field or memory runs out; every other field is written.
    bool ToSOMU(SOMUImage& record) override;

    // Turns the header into that of a new processed copy of the image in the patient's folder:
    // new type, name, series and instance UIDs, the source as referenced image, processed flag
    // set. Types without a processed form: nothing changes and the result is false. False also
    // when no name could be made in the folder (the path is then empty).
    virtual bool PrepareProcessedCopy();
    // Turns the header into that of a new image of the same kind and series in the patient's
    // folder: new name, new instance UID, the source as referenced image. False when no name
    // could be made (the path is then empty).
    virtual bool PrepareDuplicate();

    // Size in bytes of the drawings as a blob; stored as the blob size. This and GetDrawingData
    // leave the header's writer version at the one the blob is written in (the newest when none
    // was set): store the blob with GetWriterVersion and read it back with SetWriterVersion.
    virtual std::uint32_t GetDrawingDataSize();
    virtual void SetDrawingDataSize(std::uint32_t size) { m_drawingDataSize = size; }
    // Writes the drawings into the store's blob and returns it (owned by the store; valid until
    // the drawings change); null when there is none or memory runs out.
    virtual const std::uint8_t* GetDrawingData();
    // Copies a drawing blob into the store and parses it; the drawing flag follows. False when
    // the blob is refused (the store then holds no drawings).
    virtual bool SetDrawingData(const void* data, std::uint32_t size, std::int32_t width,
                                std::int32_t height, std::uint8_t flag);

    // The record's verdict, or the pixels checked against the masked sum it carries.
    virtual void VerifyPixelChecksum(SOMUImage& record);
    // The mismatch verdict and the masked checksum of the record's pixels into the record.
    virtual void StorePixelChecksum(SOMUImage& record);

    // Both copies: the header's and the drawing store's.
    virtual void SetWriterVersion(std::string_view text);
    virtual const std::string& GetWriterVersion() const { return m_writerVersion; }
    virtual void SetDrawingFlag(std::uint8_t flag);
    virtual std::uint8_t GetDrawingFlag() const { return m_drawingFlag; }

    // True when this image's pixels are guarded by the checksum: types 1, 3 and 6 always, the
    // computed-radiography types 13 to 16 while they are not processed copies.
    bool IsChecksumGuarded() const;

    // The records, for the readers and the DICOM converter.
    CPatient& Patient() { return m_patient; }
    const CPatient& Patient() const { return m_patient; }
    CImageGroup& ImageGroup() { return m_imageGroup; }
    const CImageGroup& ImageGroup() const { return m_imageGroup; }
    CEquipment& Equipment() { return m_equipment; }
    const CEquipment& Equipment() const { return m_equipment; }
    CInfosImage& ImageInfo() { return m_imageInfo; }
    const CInfosImage& ImageInfo() const { return m_imageInfo; }
    CMPPS& MPPS() { return m_mpps; }
    const CMPPS& MPPS() const { return m_mpps; }
    CAnatRegion& AnatRegion() { return m_region; }
    const CAnatRegion& AnatRegion() const { return m_region; }
    CAnatTeethList& TeethList() { return m_teeth; }
    const CAnatTeethList& TeethList() const { return m_teeth; }
    CInfosOrient& Orient() { return m_orient; }
    const CInfosOrient& Orient() const { return m_orient; }
    CInfosFilter& Filter() { return m_filter; }
    const CInfosFilter& Filter() const { return m_filter; }
    CDrawingStore& DrawingStore() { return m_drawings; }
    const CDrawingStore& DrawingStore() const { return m_drawings; }
    CInfosCorners& Corners() { return m_corners; }
    const CInfosCorners& Corners() const { return m_corners; }

    // 1 once the pixels failed their check (and were marked); the last computed checksum.
    std::int32_t GetChecksumMismatch() const { return m_checksumMismatch; }
    void SetChecksumMismatch(std::int32_t value) { m_checksumMismatch = value; }
    std::uint32_t GetChecksum() const { return m_checksum; }
    void SetChecksum(std::uint32_t value) { m_checksum = value; }

  protected:
    // The path of a new file of `type` in the patient's folder: folder, next free name, `ext`.
    // Empty (and false) when the folder is empty or no number is left.
    bool MakeNewFilePath(std::int32_t type, std::string_view ext);

  private:
    void DrawingsFromSOMU(const SOMUImage& record);
    bool DrawingsToSOMU(SOMUImage& record);

    CPatient m_patient;
    CImageGroup m_imageGroup;
    CEquipment m_equipment;
    CInfosImage m_imageInfo;
    CMPPS m_mpps;
    CAnatRegion m_region;
    CAnatTeethList m_teeth;
    CInfosOrient m_orient;
    CInfosFilter m_filter;
    std::int32_t m_checksumMismatch = 0;
    std::uint32_t m_checksum = 0;
    CDrawingStore m_drawings;
    CInfosCorners m_corners;
    std::string m_writerVersion;
    std::uint8_t m_drawingFlag = 1;
    std::uint32_t m_drawingDataSize = 0;
};
