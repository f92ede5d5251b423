// qvdump over group data files: the group's fields, then each item (class, identifier, frame,
// the image item's display state, a frame's teeth and frame values, a context image's show
// state); a series nested in a group is printed with its own items.
#include "groupfiles.h"

#include <cstdio>
#include <memory>
#include <string>

#include "errors.h"
#include "groupfiles/contextdata.h"
#include "groupfiles/fmsdata.h"
#include "groupfiles/xmldocument.h"
#include "names.h"
#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/core/textcodec.h"

namespace qvdump {
namespace {

const char* ClassName(std::int32_t id) {
    switch (id) {
        case CLASSID_GROUP:
            return "group";
        case CLASSID_IMAGE:
            return "image";
        case CLASSID_FMS_TEMPLATE:
            return "full-mouth-series template";
        case CLASSID_FMS:
            return "full-mouth series";
        case CLASSID_CQV:
            return "context";
        case CLASSID_FMS_IMAGE:
            return "series frame";
        case CLASSID_CQV_IMAGE:
            return "context image";
        default:
            return "item";
    }
}

// Texts of the group files are in the system's code page; the terminal takes UTF-8.
std::string Text(const std::string& ansi) {
    return Shown(quorin::AnsiToUtf8(ansi));
}

std::string DateText(const CInfosDateTime& date, bool withTime) {
    std::string day, time;
    date.GetDate(day, DATE_ORDER_YMD);
    if (day.empty()) return "(none)";
    if (withTime && date.GetTime(time)) day += " " + time;
    return Shown(day);
}

void PrintItemPart(const CCoreItemData& item, const std::string& indent) {
    const CGroupRect& f = item.GetFrameLocation();
    std::printf("%sclass %d (%s), identifier \"%s\", frame (%d, %d, %d, %d)\n", indent.c_str(),
                item.GetClassID(), ClassName(item.GetClassID()), Text(item.GetIdentifier()).c_str(),
                f.X1, f.Y1, f.X2, f.Y2);
}

void PrintImagePart(const CCoreImageData& image, const std::string& indent) {
    std::int32_t filter = 0, parameter = 0;
    image.Filter().GetFilter(&filter, &parameter);
    const CInfosOrient& orient = image.GetOrientation();
    std::printf(
        "%sSOP instance UID \"%s\", filter %d parameter %d filtered %d, transformation "
        "%d\n",
        indent.c_str(), Text(image.GetSOPInstanceUID()).c_str(), filter, parameter,
        image.Filter().GetProcessed(), image.GetTransformation());
    std::printf("%smirrored %u, turn %d, rotation %d, colour LUT %d, graphics shown %u\n",
                indent.c_str(), unsigned{orient.GetMirror()}, orient.GetValue(),
                orient.GetRotation(), image.Display().GetColorLUT(),
                unsigned{image.GetDisplayGraphicObject()});
    const CInfosLUTGray& lut = image.LUTGray();
    if (lut.HasNoTable()) {
        std::int32_t b = 0, c = 0, g = 0;
        std::uint8_t inversion = 0;
        std::uint16_t entries = 0;
        lut.GetSettings(&b, &c, &g, &inversion, &entries);
        std::printf(
            "%sgrey LUT settings: brightness %d contrast %d gamma %d inverted %u "
            "entries %u\n",
            indent.c_str(), b, c, g, unsigned{inversion}, unsigned{entries});
    } else {
        std::printf("%sgrey LUT table of %zu entries\n", indent.c_str(), lut.Table().size());
    }
}

void PrintFrame(const CFmsImageData& frame, const std::string& indent) {
    std::printf("%sframe type %d, frame image type %d, acquired %s\n", indent.c_str(),
                frame.GetFrameType(), frame.GetFrameImageType(),
                DateText(frame.GetAcquisitionDate(), true).c_str());
    std::printf("%steeth", indent.c_str());
    for (int i = 0; i < CFmsImageData::kToothCount; ++i)
        std::printf(" %d", frame.GetToothNumber(i));
    std::int32_t v[CFmsImageData::FRAME_VALUE_COUNT];
    for (int i = 0; i < CFmsImageData::FRAME_VALUE_COUNT; ++i)
        v[i] = frame.GetFrameValue(CFmsImageData::EFrameValue(i));
    std::printf(
        "\n%sframe number %d; attachment and frame: top %d %d, bottom %d %d, left %d %d, "
        "right %d %d\n",
        indent.c_str(), v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
}

void PrintGroup(CCoreGroupData& group, const std::string& indent);

void PrintItem(CCoreItemData& item, std::size_t index, const std::string& indent) {
    std::printf("%sitem %zu:\n", indent.c_str(), index + 1);
    const std::string inner = indent + "  ";
    switch (item.GetClassID()) {
        case CLASSID_FMS:
            PrintGroup(static_cast<CFmsData&>(item), inner);
            return;
        case CLASSID_FMS_IMAGE:
            PrintItemPart(item, inner);
            PrintImagePart(static_cast<CFmsImageData&>(item), inner);
            PrintFrame(static_cast<CFmsImageData&>(item), inner);
            return;
        case CLASSID_CQV_IMAGE:
            PrintItemPart(item, inner);
            PrintImagePart(static_cast<CCqvImageData&>(item), inner);
            std::printf("%sshow state %d\n", inner.c_str(),
                        static_cast<CCqvImageData&>(item).GetShowState());
            return;
        default:
            PrintItemPart(item, inner);
    }
}

void PrintGroup(CCoreGroupData& group, const std::string& indent) {
    PrintItemPart(group, indent);
    const CGroupSize& screen = group.GetScreenSize();
    std::printf("%sversion %d, created %s, name \"%s\", comments \"%s\"\n", indent.c_str(),
                group.GetVersion(), DateText(group.GetCreationDate(), false).c_str(),
                Text(group.GetName()).c_str(), Text(group.GetComments()).c_str());
    std::printf("%sscreen %d x %d, pixel size %f\n", indent.c_str(), screen.Dx, screen.Dy,
                double{group.GetPixelSize()});
    const std::int32_t id = group.GetClassID();
    if (id == CLASSID_FMS_TEMPLATE || id == CLASSID_FMS) {
        const auto& t = static_cast<const CFmsTemplateData&>(group);
        std::printf(
            "%scentre (%d, %d), fit to frame %u, free format %u, user defined %u, "
            "extra-oral %u, superimposition %u\n",
            indent.c_str(), t.GetCenterLocation().X, t.GetCenterLocation().Y,
            unsigned{t.GetFitImageToFrame()}, unsigned{t.GetFreeFormat()},
            unsigned{t.GetUserDefined()}, unsigned{t.GetExtraOralFMS()},
            unsigned{t.GetSuperimpositionFMS()});
    }
    if (id == CLASSID_FMS) {
        const auto& s = static_cast<const CFmsData&>(group);
        std::printf("%stemplate identifier \"%s\", FMS UID \"%s\"\n", indent.c_str(),
                    Text(s.GetTemplateIdentifier()).c_str(),
                    Shown(s.GetFMSUID().GetText()).c_str());
    }
    if (id == CLASSID_CQV) {
        const auto& c = static_cast<const CCqvData&>(group);
        std::printf(
            "%sarcade (%d, %d), panel (%d, %d), older binary form %u, context UID "
            "\"%s\"\n",
            indent.c_str(), c.GetArcadeLocation().X, c.GetArcadeLocation().Y,
            c.GetCPanelLocation().X, c.GetCPanelLocation().Y, unsigned{c.GetOldFormat()},
            Shown(c.GetContextUID().GetText()).c_str());
    }
    if (const SImage* icon = group.PeekIcon()) {
        std::printf("%sicon %u x %u, %u samples x %u bits\n", indent.c_str(), icon->nWidth,
                    icon->nHeight, icon->nSamplesPerPixel, icon->nBitsPerSample);
    } else {
        std::printf("%sno icon\n", indent.c_str());
    }
    std::printf("%s%zu items\n", indent.c_str(), group.GetItemCount());
    for (std::size_t i = 0; i < group.GetItemCount(); ++i) PrintItem(*group.GetItem(i), i, indent);
}

// Loads by the kind the file says it is: ".cqv" a context (either form); any other name a
// series, else a template, else an XML context, each tried only while the root element was
// the wrong one (ERROR_DATATYPE_MISMATCH). `group` holds the last attempt, loaded or not.
bool Load(const char* name, const char* path, std::unique_ptr<CCoreGroupData>& group) {
    if (NativeExtension(name) == ".CQV") {
        group = std::make_unique<CCqvDataQV5>();
        return group->Load(path);
    }
    group = std::make_unique<CFmsData>();
    if (group->Load(path)) return true;
    if (group->GetErrorCode() != std::int32_t(win::ERROR_DATATYPE_MISMATCH)) return false;
    group = std::make_unique<CFmsTemplateData>();
    if (group->Load(path)) return true;
    if (group->GetErrorCode() != std::int32_t(win::ERROR_DATATYPE_MISMATCH)) return false;
    group = std::make_unique<CCqvData>();
    return group->Load(path);
}

// What is wrong with a file that no reader took, in words: the readers' codes are Windows
// errors and the XML parser's numbers, which mean nothing to a user here.
std::string LoadFailureText(const char* name, const CCoreGroupData& group) {
    const auto code = static_cast<std::uint32_t>(group.GetErrorCode());
    if (code == win::ERROR_DATATYPE_MISMATCH)
        return "not a group data file: it holds no series, template or context";
    if (code == static_cast<std::uint32_t>(quorin::kXmlErrorFileTooLarge))
        return "not a group data file: larger than a group data file may be";
    if ((code & 0xFFFFF000u) == quorin::kXmlParseErrorBase) {
        // A context was read in its older binary form too; the error left is the XML one's.
        if (NativeExtension(name) == ".CQV")
            return "not a context file: neither XML nor a sound context of the older binary form";
        constexpr std::uint32_t kDocumentEmpty = 4;  // the parser's XML_ERR_DOCUMENT_EMPTY
        if (code == quorin::kXmlParseErrorBase + kDocumentEmpty)
            return "not a group data file: it holds no XML";
        std::string reason = Text(group.GetErrorText());
        reason.erase(reason.find_last_not_of(" \r\n") + 1);
        return "not a group data file: not well-formed XML: " + reason;
    }
    return CodeText(name, code);
}

}  // namespace

bool IsGroupFile(const char* name) {
    const std::string ext = NativeExtension(name);
    return ext == ".FMS" || ext == ".CQV";
}

bool DumpGroupFile(const char* name, const LibraryName& path) {
    std::printf("# %s\n", Shown(name).c_str());
    std::unique_ptr<CCoreGroupData> group;
    if (!Load(name, path.Path().c_str(), group)) {
        Refuse(name, "%s", LoadFailureText(name, *group).c_str());
        return false;
    }
    // A context of the older binary form is named after its file: after the user's name, not
    // the link the library read it through.
    if (path.Renamed() && group->GetClassID() == CLASSID_CQV &&
        static_cast<const CCqvData&>(*group).GetOldFormat() != 0) {
        const std::string leaf = NativeLeaf(name);
        group->SetIdentifier(leaf);
        group->SetName(leaf.substr(0, leaf.rfind('.')));
    }
    PrintGroup(*group, "");
    return true;
}

}  // namespace qvdump
