// Patient, exam, series and procedure-step records: their rules and their exchange with the
// SDK image record, field by field.
#include <gtest/gtest.h>
#include <quorin/patient.h>
#include <quorin/series.h>

#include <memory>
#include <string>

#include "test_records_fields.h"

using quorin::test::CheckTextWidths;
using quorin::test::TextField;

namespace {

std::string Name(const CPatient& p, int index) {
    std::string parts[5];
    p.GetName(&parts[0], &parts[1], &parts[2], &parts[3], &parts[4]);
    return parts[index];
}

void SetNamePart(CPatient& p, int index, const std::string& text) {
    std::string parts[5];
    p.GetName(&parts[0], &parts[1], &parts[2], &parts[3], &parts[4]);
    parts[index] = text;
    p.SetName(parts[0], parts[1], parts[2], parts[3], parts[4]);
}

std::string StudyText(const CExam& exam, int index) {
    std::string t[5];
    exam.GetStudyInfo(&t[0], &t[1], nullptr, nullptr, &t[2], &t[3], &t[4]);
    return t[index];
}

void SetStudyText(CExam& exam, int index, const std::string& text) {
    std::string t[5];
    exam.GetStudyInfo(&t[0], &t[1], nullptr, nullptr, &t[2], &t[3], &t[4]);
    t[index] = text;
    const CInfosDateTime when = exam.DateTime();
    exam.SetStudyInfo(t[0], t[1], "", "", t[2], t[3], t[4]);
    exam.DateTime() = when;
}

}  // namespace

TEST(PatientRecord, TextsTravelCutToTheirFields) {
    using F = TextField<CPatient>;
    const std::vector<F> fields = {
        {"family", 65, [](CPatient& p, const std::string& t) { SetNamePart(p, 0, t); },
         [](const CPatient& p) { return Name(p, 0); },
         [](const SOMUImage& r) { return r.patient.szFamilyName; }},
        {"given", 65, [](CPatient& p, const std::string& t) { SetNamePart(p, 1, t); },
         [](const CPatient& p) { return Name(p, 1); },
         [](const SOMUImage& r) { return r.patient.szGivenName; }},
        {"middle", 65, [](CPatient& p, const std::string& t) { SetNamePart(p, 2, t); },
         [](const CPatient& p) { return Name(p, 2); },
         [](const SOMUImage& r) { return r.patient.szMiddleName; }},
        {"prefix", 65, [](CPatient& p, const std::string& t) { SetNamePart(p, 3, t); },
         [](const CPatient& p) { return Name(p, 3); },
         [](const SOMUImage& r) { return r.patient.szPrefix; }},
        {"suffix", 65, [](CPatient& p, const std::string& t) { SetNamePart(p, 4, t); },
         [](const CPatient& p) { return Name(p, 4); },
         [](const SOMUImage& r) { return r.patient.szSuffix; }},
        {"patient id", 65, [](CPatient& p, const std::string& t) { p.SetPatientID(t); },
         [](const CPatient& p) { return p.GetPatientID(); },
         [](const SOMUImage& r) { return r.patient.szPatientID; }},
        {"other id 1", 65, [](CPatient& p, const std::string& t) { p.SetOtherID1(t); },
         [](const CPatient& p) { return p.GetOtherID1(); },
         [](const SOMUImage& r) { return r.patient.szOtherID1; }},
        {"other id 2", 65, [](CPatient& p, const std::string& t) { p.SetOtherID2(t); },
         [](const CPatient& p) { return p.GetOtherID2(); },
         [](const SOMUImage& r) { return r.patient.szOtherID2; }},
        {"other id 3", 65, [](CPatient& p, const std::string& t) { p.SetOtherID3(t); },
         [](const CPatient& p) { return p.GetOtherID3(); },
         [](const SOMUImage& r) { return r.patient.szOtherID3; }},
        {"study text 1", 65,
         [](CPatient& p, const std::string& t) { SetStudyText(p.Exam(), 0, t); },
         [](const CPatient& p) { return StudyText(p.Exam(), 0); },
         [](const SOMUImage& r) { return r.patient.exam.szText1; }},
        {"study text 2", 65,
         [](CPatient& p, const std::string& t) { SetStudyText(p.Exam(), 1, t); },
         [](const CPatient& p) { return StudyText(p.Exam(), 1); },
         [](const SOMUImage& r) { return r.patient.exam.szText2; }},
        {"study uid", 65, [](CPatient& p, const std::string& t) { SetStudyText(p.Exam(), 2, t); },
         [](const CPatient& p) { return StudyText(p.Exam(), 2); },
         [](const SOMUImage& r) { return r.patient.exam.szStudyUID; }},
        {"study text 3", 17,
         [](CPatient& p, const std::string& t) { SetStudyText(p.Exam(), 3, t); },
         [](const CPatient& p) { return StudyText(p.Exam(), 3); },
         [](const SOMUImage& r) { return r.patient.exam.szText3; }},
        {"study text 4", 17,
         [](CPatient& p, const std::string& t) { SetStudyText(p.Exam(), 4, t); },
         [](const CPatient& p) { return StudyText(p.Exam(), 4); },
         [](const SOMUImage& r) { return r.patient.exam.szText4; }},
    };
    CheckTextWidths<CPatient>(
        fields, [](const CPatient& p, SOMUImage& r) { p.ToSOMU(r); },
        [](CPatient& p, const SOMUImage& r) { p.FromSOMU(r); });
}

TEST(PatientRecord, OtherFieldsRoundTrip) {
    CPatient source;
    source.SetSex("f");
    source.BirthDate().SetDate("19560315", DATE_ORDER_YMD);
    source.SetFolder("/data/patients/P1/");
    source.SetFilePath("/data/patients/P1/R3.zel");
    source.Exam().DateTime().SetFields(2005, 12, 31, 23, 59, 58);
    auto record = std::make_unique<SOMUImage>();
    ASSERT_TRUE(source.ToSOMU(*record));
    EXPECT_STREQ(record->patient.szSex, "F");
    EXPECT_STREQ(record->patient.szBirthDate, "19560315");
    EXPECT_STREQ(record->szDirectory, "/data/patients/P1");
    EXPECT_STREQ(record->patient.exam.szDate, "20051231");
    EXPECT_STREQ(record->patient.exam.szTime, "235958");
    CPatient back;
    back.FromSOMU(*record);
    EXPECT_EQ(back.GetSex(), "F");
    EXPECT_EQ(back.BirthDate().GetYear(), 1956);
    EXPECT_EQ(back.BirthDate().GetMonth(), 3);
    EXPECT_EQ(back.BirthDate().GetDay(), 15);
    EXPECT_EQ(back.GetFolder(), "/data/patients/P1");
    EXPECT_EQ(back.GetFilePath(), "/data/patients/P1/R3.zel");
    EXPECT_EQ(back.Exam().DateTime().ToNumber(), 20051231235958u);
    EXPECT_EQ(back.Exam().StudyUID().GetText(), source.Exam().StudyUID().GetText());
}

TEST(PatientRecord, PathsAreNeverCut) {
    for (std::size_t length : {kSOMUPathWidth - 2, kSOMUPathWidth - 1, kSOMUPathWidth}) {
        CPatient source;
        const std::string path(length, 'p');
        source.SetFilePath(path);
        source.SetFolder(path);
        auto record = std::make_unique<SOMUImage>();
        const bool fits = length < kSOMUPathWidth;
        EXPECT_EQ(source.ToSOMU(*record), fits) << length;
        CPatient back;
        back.FromSOMU(*record);
        EXPECT_EQ(back.GetFilePath(), fits ? path : "") << length;
        EXPECT_EQ(back.GetFolder(), fits ? path : "") << length;
    }
}

TEST(PatientRecord, SexFolderAndExamRules) {
    CPatient p;
    for (const char* text : {"m", "M"}) {
        p.SetSex(text);
        EXPECT_EQ(p.GetSex(), "M");
    }
    p.SetSex("f");
    EXPECT_EQ(p.GetSex(), "F");
    for (const char* text : {"male", "", "x", "O"}) {
        p.SetSex(text);
        EXPECT_EQ(p.GetSex(), "O") << text;
    }
    p.SetFolder("C:\\Pat\\");
    EXPECT_EQ(p.GetFolder(), "C:\\Pat");
    p.SetFolder("");
    EXPECT_EQ(p.GetFolder(), "C:\\Pat");

    CExam exam;
    EXPECT_FALSE(exam.StudyUID().IsEmpty());
    EXPECT_TRUE(exam.DateTime().IsDateSet());
    const std::string first = exam.StudyUID().GetText();
    exam.Reset();
    EXPECT_NE(exam.StudyUID().GetText(), first);
}

TEST(SeriesRecord, TextsTravelCutToTheirFields) {
    using F = TextField<CImageGroup>;
    const std::vector<F> fields = {
        {"series number", 13, [](CImageGroup& g, const std::string& t) { g.SetSeriesNumber(t); },
         [](const CImageGroup& g) { return g.GetSeriesNumber(); },
         [](const SOMUImage& r) { return r.series.szSeriesNumber; }},
        {"series uid", 65, [](CImageGroup& g, const std::string& t) { g.SetSeriesUID(t); },
         [](const CImageGroup& g) { return g.SeriesUID().GetText(); },
         [](const SOMUImage& r) { return r.series.szSeriesUID; }},
        {"instance uid", 65, [](CImageGroup& g, const std::string& t) { g.SetInstanceUID(t); },
         [](const CImageGroup& g) { return g.InstanceUID().GetText(); },
         [](const SOMUImage& r) { return r.series.szInstanceUID; }},
        {"instance number", 13,
         [](CImageGroup& g, const std::string& t) { g.SetInstanceNumber(t); },
         [](const CImageGroup& g) { return g.GetInstanceNumber(); },
         [](const SOMUImage& r) { return r.series.szInstanceNumber; }},
        {"referenced uid", 65,
         [](CImageGroup& g, const std::string& t) { g.SetReferencedImage(t, 7, 1); },
         [](const CImageGroup& g) {
             std::string uid;
             g.GetReferencedImage(&uid, nullptr, nullptr);
             return uid;
         },
         [](const SOMUImage& r) { return r.series.szReferencedUID; }},
        {"person name", 65, [](CImageGroup& g, const std::string& t) { g.PersonName().Set(t); },
         [](const CImageGroup& g) { return g.PersonName().GetText(); },
         [](const SOMUImage& r) { return r.series.szPersonName; }},
    };
    CheckTextWidths<CImageGroup>(
        fields, [](const CImageGroup& g, SOMUImage& r) { g.ToSOMU(r.series); },
        [](CImageGroup& g, const SOMUImage& r) { g.FromSOMU(r.series); });
}

TEST(SeriesRecord, UidsReferencesAndDates) {
    CImageGroup group;
    group.SetSeriesUID("");
    group.SetInstanceUID("");
    EXPECT_EQ(group.SeriesUID().GetText().rfind("1.3.999.4.77.2.", 0), 0u);
    EXPECT_EQ(group.InstanceUID().GetText().rfind("1.3.999.4.77.3.", 0), 0u);
    group.SetReferencedImage("1.2.3", 0, 5);  // class code 0: nothing
    std::string uid = "unchanged";
    std::int32_t code = -1, number = -1;
    group.GetReferencedImage(&uid, &code, &number);
    EXPECT_EQ(uid, "");
    EXPECT_EQ(code, 0);
    group.SetReferencedImage("1.2.3", 7, 5);
    group.DateTime().SetFields(1999, 1, 2, 3, 4, 5);

    auto record = std::make_unique<SOMUImage>();
    group.ToSOMU(record->series);
    EXPECT_EQ(record->series.nReferencedClass, 7);
    EXPECT_EQ(record->series.bReferencedNumber, 1);
    CImageGroup back;
    back.FromSOMU(record->series);
    back.GetReferencedImage(&uid, &code, &number);
    EXPECT_EQ(uid, "1.2.3");
    EXPECT_EQ(code, 7);
    EXPECT_EQ(number, 1);  // the number travels as a flag
    EXPECT_EQ(back.DateTime().ToNumber(), 19990102030405u);
    EXPECT_EQ(back.SeriesUID(), group.SeriesUID());

    // Empty UIDs in the record are replaced by new ones.
    record->series.szSeriesUID[0] = '\0';
    record->series.szInstanceUID[0] = '\0';
    back.FromSOMU(record->series);
    EXPECT_FALSE(back.SeriesUID().IsEmpty());
    EXPECT_FALSE(back.InstanceUID().IsEmpty());
    EXPECT_NE(back.SeriesUID(), group.SeriesUID());
}

TEST(PersonName, SplitsIntoFiveComponents) {
    CPersonName name;
    std::string c[5];
    name.Set("Doe^John");
    name.GetComponents(&c[0], &c[1], &c[2], &c[3], &c[4]);
    EXPECT_EQ(c[0], "Doe");
    EXPECT_EQ(c[1], "John");
    EXPECT_EQ(c[2] + c[3] + c[4], "");
    name.Set("A^B^C^D^E^F");
    name.GetComponents(&c[0], &c[1], &c[2], &c[3], &c[4]);
    EXPECT_EQ(c[4], "E");
    const std::string longName = std::string(70, 'n') + "^given";
    name.Set(longName);
    EXPECT_EQ(name.GetText(), std::string(65, 'n'));
    name.GetComponents(&c[0], &c[1], nullptr, nullptr, nullptr);
    EXPECT_EQ(c[0], std::string(65, 'n'));
    EXPECT_EQ(c[1], "");
}

TEST(ProcedureStepRecord, TextsAndCodesRoundTrip) {
    using F = TextField<CMPPS>;
    const std::vector<F> fields = {
        {"text 1", 65, [](CMPPS& m, const std::string& t) { m.SetText1(t); },
         [](const CMPPS& m) { return m.GetText1(); },
         [](const SOMUImage& r) { return r.procedure.szText1; }},
        {"text 2", 65, [](CMPPS& m, const std::string& t) { m.SetText2(t); },
         [](const CMPPS& m) { return m.GetText2(); },
         [](const SOMUImage& r) { return r.procedure.szText2; }},
        {"step id", 17, [](CMPPS& m, const std::string& t) { m.SetStepID(t); },
         [](const CMPPS& m) { return m.GetStepID(); },
         [](const SOMUImage& r) { return r.procedure.szStepID; }},
        {"text 4", 17, [](CMPPS& m, const std::string& t) { m.SetText4(t); },
         [](const CMPPS& m) { return m.GetText4(); },
         [](const SOMUImage& r) { return r.procedure.szText4; }},
        {"code value", 17,
         [](CMPPS& m, const std::string& t) {
             m.AddCode({t, "DCM", "meaning"});
         },
         [](const CMPPS& m) { return m.GetCode(0)->strCodeValue; },
         [](const SOMUImage& r) { return r.procedure.aCodes[0].szCodeValue; }},
        {"coding scheme", 17,
         [](CMPPS& m, const std::string& t) {
             m.AddCode({"v", t, "meaning"});
         },
         [](const CMPPS& m) { return m.GetCode(1)->strCodingScheme; },
         [](const SOMUImage& r) { return r.procedure.aCodes[1].szCodingScheme; }},
        {"code meaning", 65,
         [](CMPPS& m, const std::string& t) {
             m.AddCode({"v", "s", t});
         },
         [](const CMPPS& m) { return m.GetCode(2)->strCodeMeaning; },
         [](const SOMUImage& r) { return r.procedure.aCodes[2].szCodeMeaning; }},
    };
    CheckTextWidths<CMPPS>(
        fields, [](const CMPPS& m, SOMUImage& r) { m.ToSOMU(r.procedure); },
        [](CMPPS& m, const SOMUImage& r) { m.FromSOMU(r.procedure); });
}

TEST(ProcedureStepRecord, AtMost32CodesAndEmptyEntriesSkipped) {
    CMPPS step;
    for (int i = 0; i < 40; ++i) step.AddCode({std::to_string(i), "S", "M"});
    auto record = std::make_unique<SOMUImage>();
    step.ToSOMU(record->procedure);
    EXPECT_STREQ(record->procedure.aCodes[31].szCodeValue, "31");
    CMPPS back;
    back.FromSOMU(record->procedure);
    EXPECT_EQ(back.GetCodeCount(), 32u);
    // An empty entry in the middle is skipped, and the entries after it still count.
    std::memset(&record->procedure.aCodes[5], 0, sizeof(SOMUProcCode));
    back.FromSOMU(record->procedure);
    EXPECT_EQ(back.GetCodeCount(), 31u);
    EXPECT_EQ(back.GetCode(5)->strCodeValue, "6");
    // Fewer codes leave the other entries empty.
    CMPPS few;
    few.AddCode({"a", "b", "c"});
    few.ToSOMU(record->procedure);
    EXPECT_STREQ(record->procedure.aCodes[1].szCodeMeaning, "");
    EXPECT_TRUE(back.RemoveCode(0));
    EXPECT_FALSE(back.RemoveCode(100));
}
