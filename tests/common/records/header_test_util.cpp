#include "common/records/header_test_util.h"

#include <cstring>

namespace quorin::test {

namespace {

std::string S(const char* base, int seed) {
    return std::string(base) + std::to_string(seed);
}

void AddDrawings(CDrawingStore& store, int seed) {
    SOMUDrawingPoint points[2] = {{10.5 + seed, 20.25}, {30.0, 40.0 + seed}};
    SOMUDrawingItem line{};
    line.nType = 2;
    line.nDrawingId = store.NextDrawingId(2);
    line.nAttribute2 = 3;
    line.nAttribute3 = 0x00FF00 + seed;
    line.nAttribute4 = 1;
    line.nPointCount = 2;
    line.pPoints = points;
    std::snprintf(line.szText, sizeof line.szText, "line %d", seed);
    line.abyTextAttributes[0] = 1;
    store.AddDrawing(CDrawingStore::kAppend, &line);

    SOMUDrawingItem ruler{};
    ruler.nType = 11;
    ruler.nDrawingId = store.NextDrawingId(11);
    ruler.nPointCount = 1;
    ruler.pPoints = points;
    ruler.anValues[0] = 4;
    ruler.anValues[1] = 5 + seed;
    store.AddDrawing(CDrawingStore::kAppend, &ruler);
}

void DescribeDate(std::ostringstream& out, const char* name, const CInfosDateTime& value) {
    out << name << '=' << value.ToNumber() << '\n';
}

void DescribeLUT(std::ostringstream& out, const CInfosLUTGray& lut) {
    std::int32_t b = 0, c = 0, g = 0;
    std::uint8_t inv = 0;
    std::uint16_t max = 0;
    lut.GetSettings(&b, &c, &g, &inv, &max);
    out << "lut=" << b << ',' << c << ',' << g << ',' << int(inv) << ',' << max
        << " mask=" << int(lut.GetMask()) << " table=";
    for (std::uint16_t e : lut.Table()) out << e << ',';
    out << '\n';
}

void DescribeZel(std::ostringstream& out, const CInfosZel& zel) {
    std::uint16_t a = 0, b = 0;
    zel.GetSensorValues(&a, &b);
    std::int32_t p[6] = {};
    zel.GetParameters(&p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
    // The valid flag says whether values came from a record: it is not exchanged.
    out << "zel=" << a << ',' << b << " level=" << zel.GetFilterLevel() << " params=";
    for (std::int32_t v : p) out << v << ',';
    out << '\n';
}

void DescribeDrawings(std::ostringstream& out, const CDrawingStore& store) {
    out << "drawings=" << store.GetDrawingCount() << '\n';
    for (int i = 0; i < store.GetDrawingCount(); ++i) {
        const SOMUDrawingItem* d = store.GetDrawing(i);
        out << " type=" << d->nType << " id=" << d->nDrawingId << " attrs=" << d->nAttribute2 << ','
            << d->nAttribute3 << ',' << d->nAttribute4
            << " text=" << std::string(d->szText, strnlen(d->szText, sizeof d->szText))
            << " tattr=" << int(d->abyTextAttributes[0]) << ',' << int(d->abyTextAttributes[1])
            << " values=" << d->anValues[0] << ',' << d->anValues[1] << " points=";
        for (int k = 0; k < d->nPointCount; ++k)
            out << d->pPoints[k].x << ':' << d->pPoints[k].y << ',';
        out << '\n';
    }
}

}  // namespace

void FillHeader(CHeader& h, int seed, const std::string& folder) {
    h.SetWidth(static_cast<std::uint16_t>(37 + seed));
    h.SetHeight(static_cast<std::uint16_t>(23 + seed));
    h.SetBitsPerSample(12);
    h.SetSamplesPerPixel(1);
    h.SetPath(folder + "/R" + std::to_string(12 + seed) + ".zel");
    h.SetSubType(3 + seed);
    h.PixelSize(0).Set(0.019 + seed, 0.021);
    h.PixelSize(1).Set(0.5, 0.75 + seed);

    CPatient& p = h.Patient();
    p.SetName(S("Family", seed), S("Given", seed), S("Middle", seed), S("Prefix", seed),
              S("Suffix", seed));
    p.SetSex(seed % 2 ? "M" : "F");
    p.BirthDate().SetFields(1956, 3, 15 + seed, 0, 0, 0);
    p.SetPatientID(S("PID", seed));
    p.SetOtherID1(S("O1-", seed));
    p.SetOtherID2(S("O2-", seed));
    p.SetOtherID3(S("O3-", seed));
    p.SetFilePath(folder + "/source" + std::to_string(seed) + ".dcm");
    p.SetFolder(folder);
    p.Exam().SetStudyInfo(S("Study", seed), S("Desc", seed), "20050102", "101112",
                          S("1.2.840.99.1.", seed), S("Acc", seed), S("SID", seed));

    CImageGroup& g = h.ImageGroup();
    g.DateTime().SetFields(2006, 7, 8 + seed, 9, 10, 11);
    g.SetSeriesNumber(S("4", seed));
    g.SetSeriesUID(S("1.2.840.99.2.", seed));
    g.SetInstanceUID(S("1.2.840.99.3.", seed));
    g.SetInstanceNumber(S("9", seed));
    g.PersonName().Set(S("Doe^John", seed));
    g.SetReferencedImage(S("1.2.840.99.4.", seed), 7, 1);

    CEquipment& e = h.Equipment();
    e.SetManufacturer(S("Maker", seed));
    e.SetModelName(S("Model", seed));
    e.SetText3(S("T3-", seed));
    e.DateTime().SetFields(2004, 5, 6, 7, 8, 9 + seed);
    e.SetText11(S("T11-", seed));
    e.SetSoftwareVersions(S("SW", seed));
    e.SetText13(S("T13-", seed));
    e.SetText14(S("T14-", seed));
    e.SetInstitutionName(S("Clinic", seed));
    e.SetText16(S("T16-", seed));
    e.SetStationName(S("Station", seed));
    e.SetText18(S("T18-", seed));
    e.SetText19(S("T19-", seed));
    e.SetValue16(static_cast<std::uint16_t>(1600 + seed));
    e.SetValue32(3200 + seed);
    e.SetContributingEquipment(S("m#v#d\\", seed));

    CInfosImage& info = h.ImageInfo();
    info.SetImageComments(S("Comments ", seed));
    info.SetLossyCompression(1, S("10:", seed));
    info.SetValue(static_cast<std::uint8_t>(5 + seed));
    info.SetImageText(S("Text", seed));
    info.DateTime1().SetFields(2001, 2, 3, 4, 5, 6 + seed);
    info.DateTime2().SetFields(2002, 3, 4, 5, 6, 7 + seed);

    CMPPS& m = h.MPPS();
    m.SetText1(S("Step", seed));
    m.SetText2(S("StepDesc", seed));
    m.SetStepID(S("ID", seed));
    m.SetText4(S("T4-", seed));
    m.AddCode({S("C", seed), "SRT", S("Meaning", seed)});
    m.AddCode({"X", "", ""});

    CAnatRegion& r = h.AnatRegion();
    for (int i = 0; i < 4; ++i) r.SetValue(i, 100 * i + seed);
    r.SetCode(S("T-5421", seed).c_str());
    h.TeethList().AddTooth(CAnatToothNumber("11"));
    const std::string second = seed % 2 ? "48" : "55";
    h.TeethList().AddTooth(CAnatToothNumber(second.c_str()));

    CInfosOrient& o = h.Orient();
    o.SetMirror(1);
    o.SetFlip(0);
    o.SetValue(5 + seed);
    o.SetRotation(seed % 2 ? 90 : 270);

    const std::int32_t corners[8] = {1 + seed, 2, 3, 4, 5, 6, 7, 8};
    h.Corners().SetCorners(corners);
    AddDrawings(h.DrawingStore(), seed);
    h.SetDrawingFlag(0);
    h.SetWriterVersion(CDrawingStore::kNewestVersion);
    h.SetChecksum(0x12345 + seed);

    if (auto* sc = dynamic_cast<CHeaderSC*>(&h)) {
        sc->SetSCValue(77 + seed);
        sc->Settings() = SImageSettingsSC(1, 2, 3 + seed, 4, 5, 1, 0);
        sc->Display().SetColorLUT(3 + seed);
        sc->LUTGray().SetSettings(10 + seed, -20, 30, 1, 256);
    }
    if (auto* vl = dynamic_cast<CHeaderVL*>(&h))
        vl->Settings() = SImageSettingsSC(6, 7, 8, 9, 10 + seed, 0, 1);
    if (auto* dx = dynamic_cast<CHeaderDX*>(&h)) {
        dx->Exposure().SetExposure(7000, 700, static_cast<std::uint16_t>(120 + seed));
        dx->Exposure().SetDoses(1.5f + seed, 2.5f);
        dx->Exposure().SetValue(9 + seed);
        dx->Display().SetColorLUT(4 + seed);
        const std::uint16_t table[4] = {0, 5, static_cast<std::uint16_t>(10 + seed), 3000};
        dx->LUTGray().SetTable(table, 4);
        dx->DetectorPixelSpacing().Set(0.1 + seed, 0.2);
        dx->PixelIntensity() = SPixelIntensity{11 + seed, "LOG", 12, 1.25f, 13, 2.5f + seed};
        dx->Detector().SetManufacturer(S("DetMaker", seed));
        dx->Detector().SetModelName(S("DetModel", seed));
        dx->Detector().SetText3(S("DetT3-", seed));
        dx->Detector().SetValue(44 + seed);
    }
    if (auto* zel = dynamic_cast<CHeaderZel*>(&h)) {
        zel->InfosZel().SetSensorValues(0x1234, static_cast<std::uint16_t>(0x5678 + seed));
        zel->InfosZel().SetParameters(1, 2, 3, 4, 5, 6 + seed);
        zel->InfosZel().SetFilterLevel(4 + seed);
    }
    if (auto* crio = dynamic_cast<CHeaderCRIO*>(&h)) {
        crio->InfosZel().SetSensorValues(0x0102, static_cast<std::uint16_t>(0x0304 + seed));
        crio->InfosZel().SetParameters(6, 5, 4, 3, 2, 1 + seed);
        crio->InfosZel().SetFilterLevel(7 + seed);
    }
    if (auto* ceph = dynamic_cast<CHeaderCeph*>(&h)) {
        CInfosCeph info;
        const double v1[8] = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5 + seed};
        const double v2[3] = {-1.0, -2.0, -3.0 - seed};
        info.SetValues1(v1, 8);
        info.SetValues2(v2, 3);
        info.SetValue1(21);
        info.SetValue2(22);
        info.SetValue3(static_cast<std::uint16_t>(23 + seed));
        info.SetProgram(12);
        info.SetFlag(0, 1);
        info.SetFlag(2, 1);
        info.SetByte(3);
        info.SetAngle(45);
        info.SetByte2(0);
        ceph->SetCephInfo(info);
    }
    if (auto* pano = dynamic_cast<CHeaderPano*>(&h)) {
        pano->InfosPano().SetProgram(static_cast<std::uint16_t>(5 + seed));
        const std::uint32_t points[3] = {0x00010002, 0x00030004, 0xFFFF0000u + seed};
        pano->InfosPano().SetPoints(3, points);
        pano->PanoProcess().SetProcessing(2 + seed);
    }
    if (auto* cr = dynamic_cast<CHeaderCR*>(&h)) {
        cr->SetCRFlag(1);
        cr->SetCRParameters(CValuePair{21 + seed, 22 + seed});
    }
    if (auto* crPano = dynamic_cast<CHeaderCRPano*>(&h))
        crPano->PanoProcess().SetProcessing(3 + seed);
}

std::string DescribeHeader(const CHeader& h, unsigned scope) {
    std::ostringstream out;
    out.precision(17);
    if (scope & kExchanged) {
        out << "size=" << h.GetWidth() << 'x' << h.GetHeight() << " bits=" << h.GetBitsPerSample()
            << " samples=" << h.GetSamplesPerPixel() << " type=" << h.GetImageType()
            << " sub=" << h.GetSubType() << " path=" << h.GetPath()
            << " px=" << h.PixelSize(0).GetX() << ',' << h.PixelSize(0).GetY() << '\n';
        const CEquipment& e = h.Equipment();
        out << "equipment=" << e.GetManufacturer() << '|' << e.GetModelName() << '|' << e.GetText3()
            << '|' << e.GetText11() << '|' << e.GetSoftwareVersions() << '|' << e.GetText13() << '|'
            << e.GetText14() << '|' << e.GetInstitutionName() << '|' << e.GetText16() << '|'
            << e.GetStationName() << '|' << e.GetText18() << '|' << e.GetText19() << '|'
            << e.GetValue16() << '|' << e.GetContributingEquipment() << '\n';
        DescribeDate(out, "equipmentDate", e.DateTime());
        const CInfosImage& info = h.ImageInfo();
        std::string ratio;
        const std::int32_t lossy = info.GetLossyCompression(&ratio);
        out << "image=" << info.GetImageComments() << '|' << lossy << '|' << ratio << '|'
            << int(info.GetValue()) << '\n';
        DescribeDate(out, "imageDate2", info.DateTime2());
        const CMPPS& m = h.MPPS();
        out << "mpps=" << m.GetText1() << '|' << m.GetText2() << '|' << m.GetStepID() << '|'
            << m.GetText4();
        for (std::size_t i = 0; i < m.GetCodeCount(); ++i)
            out << '|' << m.GetCode(i)->strCodeValue << '^' << m.GetCode(i)->strCodingScheme << '^'
                << m.GetCode(i)->strCodeMeaning;
        out << '\n';
        const CAnatRegion& r = h.AnatRegion();
        out << "region=" << r.GetValue(0) << ',' << r.GetValue(1) << ',' << r.GetValue(2) << ','
            << r.GetValue(3) << ',' << r.GetCode() << " teeth=";
        for (int i = 0; i < h.TeethList().GetCount(); ++i)
            out << h.TeethList().GetAt(i)->GetNumber() << ',';
        out << '\n';
        const CInfosOrient& o = h.Orient();
        out << "orient=" << int(o.GetMirror()) << ',' << int(o.GetFlip()) << ',' << o.GetValue()
            << ',' << o.GetRotation() << '\n';
        out << "corners=";
        for (int i = 0; i < 4; ++i) {
            std::int32_t x = 0, y = 0;
            h.Corners().GetCorner(i, &x, &y);
            out << x << ':' << y << ',';
        }
        out << " mask=" << h.Corners().GetMask() << " drawingFlag=" << int(h.GetDrawingFlag())
            << " mismatch=" << h.GetChecksumMismatch() << '\n';
        DescribeDrawings(out, h.DrawingStore());

        if (auto* sc = dynamic_cast<const CHeaderSC*>(&h)) {
            const SImageSettingsSC& s = sc->Settings();
            out << "sc=" << sc->GetSCValue() << " settings=" << s.anValues[0] << ','
                << s.anValues[1] << ',' << s.anValues[2] << ',' << s.anValues[3] << ','
                << s.anValues[4] << ',' << int(s.bFlag1) << ',' << int(s.bFlag2)
                << " colorLUT=" << sc->Display().GetColorLUT() << '\n';
            DescribeLUT(out, sc->LUTGray());
        }
        if (auto* vl = dynamic_cast<const CHeaderVL*>(&h)) {
            const SImageSettingsSC& s = vl->Settings();
            out << "vl=" << s.anValues[0] << ',' << s.anValues[1] << ',' << s.anValues[2] << ','
                << s.anValues[3] << ',' << s.anValues[4] << ',' << int(s.bFlag1) << ','
                << int(s.bFlag2) << '\n';
        }
        if (auto* dx = dynamic_cast<const CHeaderDX*>(&h)) {
            const CInfosExp& x = dx->Exposure();
            out << "exposure=" << x.GetVoltage() << ',' << x.GetCurrent() << ',' << x.GetTime()
                << ',' << x.GetDoseArea() << ',' << x.GetDoseLength() << ',' << x.GetValue()
                << " colorLUT=" << dx->Display().GetColorLUT() << '\n';
            DescribeLUT(out, dx->LUTGray());
            const SPixelIntensity& i = dx->PixelIntensity();
            out << "spacing=" << dx->DetectorPixelSpacing().GetX() << ','
                << dx->DetectorPixelSpacing().GetY() << " intensity=" << i.nValue << ','
                << i.strText << ',' << i.nSign << ',' << i.fValue1 << ',' << i.nValue2 << ','
                << i.fValue2 << " detector=" << dx->Detector().GetManufacturer() << '|'
                << dx->Detector().GetModelName() << '|' << dx->Detector().GetText3() << '|'
                << dx->Detector().GetValue() << '\n';
        }
        if (auto* zel = dynamic_cast<const CHeaderZel*>(&h)) DescribeZel(out, zel->InfosZel());
        if (auto* crio = dynamic_cast<const CHeaderCRIO*>(&h)) DescribeZel(out, crio->InfosZel());
        if (auto* ceph = dynamic_cast<const CHeaderCeph*>(&h)) {
            const CInfosCeph& c = ceph->GetCephInfo();
            out << "ceph=";
            for (int i = 0; i < 8; ++i) out << c.GetValues1()[i] << ',' << c.GetValues2()[i] << ',';
            out << c.GetValue1() << ',' << c.GetValue2() << ',' << c.GetValue3() << ','
                << c.GetProgram() << ',' << int(c.GetFlag(0)) << int(c.GetFlag(1))
                << int(c.GetFlag(2)) << ',' << int(c.GetByte()) << ',' << c.GetAngle() << ','
                << int(c.GetByte2()) << '\n';
        }
        if (auto* pano = dynamic_cast<const CHeaderPano*>(&h)) {
            out << "pano=" << pano->InfosPano().GetProgram() << " points=";
            for (std::uint32_t p : pano->InfosPano().Points()) out << p << ',';
            out << " level=" << pano->PanoProcess().GetLevel() << '\n';
        }
        if (auto* cr = dynamic_cast<const CHeaderCR*>(&h))
            out << "cr=" << int(cr->GetCRFlag()) << ',' << cr->GetCRParameters().nFirst << ','
                << cr->GetCRParameters().nSecond << '\n';
        if (auto* crPano = dynamic_cast<const CHeaderCRPano*>(&h))
            out << "crpano level=" << crPano->PanoProcess().GetLevel() << '\n';
    }
    if (scope & kPersistent) {
        const CPatient& p = h.Patient();
        std::string f, gi, mi, pr, su;
        p.GetName(&f, &gi, &mi, &pr, &su);
        out << "patient=" << f << '|' << gi << '|' << mi << '|' << pr << '|' << su << '|'
            << p.GetSex() << '|' << p.GetPatientID() << '|' << p.GetOtherID1() << '|'
            << p.GetOtherID2() << '|' << p.GetOtherID3() << '|' << p.GetFilePath() << '|'
            << p.GetFolder() << '\n';
        DescribeDate(out, "birth", p.BirthDate());
        std::string t1, t2, date, time, uid, t3, t4;
        p.Exam().GetStudyInfo(&t1, &t2, &date, &time, &uid, &t3, &t4);
        out << "exam=" << t1 << '|' << t2 << '|' << date << '|' << time << '|' << uid << '|' << t3
            << '|' << t4 << '\n';
        const CImageGroup& g = h.ImageGroup();
        std::string refUID;
        std::int32_t refClass = 0, refNumber = 0;
        g.GetReferencedImage(&refUID, &refClass, &refNumber);
        out << "series=" << g.GetSeriesNumber() << '|' << g.SeriesUID().GetText() << '|'
            << g.InstanceUID().GetText() << '|' << g.GetInstanceNumber() << '|'
            << g.PersonName().GetText() << '|' << refUID << '|' << refClass << '|' << refNumber
            << '\n';
        DescribeDate(out, "seriesDate", g.DateTime());
    }
    if (scope & kNowDates) {
        DescribeDate(out, "imageDate1", h.ImageInfo().DateTime1());
        out << "imageText=" << h.ImageInfo().GetImageText() << '\n';
    }
    if (scope & kFilter) {
        std::int32_t filter = 0, parameter = 0;
        h.Filter().GetFilter(&filter, &parameter);
        out << "filter=" << filter << ',' << parameter << ',' << h.Filter().GetProcessed() << '\n';
    }
    if (scope & kMemoryOnly) {
        out << "px2=" << h.PixelSize(1).GetX() << ',' << h.PixelSize(1).GetY()
            << " version=" << h.GetWriterVersion() << " checksum=" << h.GetChecksum()
            << " equipment32=" << h.Equipment().GetValue32()
            << " examValue=" << h.Patient().Exam().GetValue() << '\n';
        if (auto* zel = dynamic_cast<const CHeaderZel*>(&h))
            out << "zel=" << int(zel->InfosZel().IsModified())
                << int(zel->InfosZel().AreSensorValuesValid()) << '\n';
        if (auto* pano = dynamic_cast<const CHeaderPano*>(&h))
            out << "panoProcess=" << int(pano->PanoProcess().IsEnabled())
                << int(pano->PanoProcess().IsModified()) << '\n';
    }
    return out.str();
}

}  // namespace quorin::test
