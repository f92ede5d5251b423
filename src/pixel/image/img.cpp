#include "pixel/image/img.h"

#include <new>

#include "pixel/image/palette.h"
#include "records/dib/dib.h"

CImg::CImg(const CImg& other) : m_display(other.m_display), m_extra(other.m_extra) {
    if (other.m_corners) m_corners.reset(new (std::nothrow) CInfosCorners(*other.m_corners));
}

CImg& CImg::operator=(const CImg& other) {
    if (this != &other) {
        m_corners.reset();
        if (other.m_corners) m_corners.reset(new (std::nothrow) CInfosCorners(*other.m_corners));
        m_display = other.m_display;
        m_extra = other.m_extra;
    }
    return *this;
}

CImg::~CImg() = default;

// Every operation a class does not implement answers "not done", so that the SDK may call any
// slot on any image.
bool CImg::GetDisplayDIB(win::HGLOBAL*, CTVector<unsigned int>*) {
    return false;
}
bool CImg::AddLogo() {
    return false;
}
bool CImg::FillCorners(std::uint32_t) {
    return false;
}
void CImg::GetExposureState(int*, float*, float*) {}
bool CImg::CopyToSImage(SImage*) {
    return false;
}
bool CImg::Zoom(SImage*, double) {
    return false;
}
bool CImg::CreateHighlightLens(std::int32_t, std::int32_t) {
    return false;
}
bool CImg::DrawHighlightLens(quorin::ImagePoint, win::HGLOBAL) {
    return false;
}
bool CImg::MirrorHorizontal() {
    return false;
}
bool CImg::MirrorVertical() {
    return false;
}
bool CImg::Rotate(std::int32_t, bool) {
    return false;
}
bool CImg::Erode(const CStructElement*) {
    return false;
}
bool CImg::Dilate(const CStructElement*) {
    return false;
}
bool CImg::Close(const CStructElement*) {
    return false;
}
bool CImg::Open(const CStructElement*) {
    return false;
}
bool CImg::WhiteTopHat(const CStructElement*) {
    return false;
}
bool CImg::BlackTopHat(const CStructElement*) {
    return false;
}
bool CImg::Reserved18(void*) {
    return false;
}
bool CImg::MorphologicalContrast(const CStructElement*) {
    return false;
}
bool CImg::GaussEnhance(std::int32_t, double, std::int32_t, double, double) {
    return false;
}
bool CImg::MultiFilter(std::int32_t) {
    return false;
}
bool CImg::Convolve(const CTMatrix<double>*) {
    return false;
}
bool CImg::Relief() {
    return false;
}
std::uint32_t CImg::GetHeight() const {
    return 0;
}
std::uint32_t CImg::GetWidth() const {
    return 0;
}
std::uint32_t CImg::GetBits() const {
    return 0;
}
std::uint32_t CImg::GetSamplesPerPixel() const {
    return 0;
}

bool CImg::SetCorners(const CInfosCorners* corners) {
    if (corners == nullptr) return false;
    m_corners.reset(new (std::nothrow) CInfosCorners(*corners));
    return m_corners != nullptr;
}

void CImg::RotateCornersInfo(std::int32_t angle, bool clockwise) {
    if (!m_corners) return;
    // Counter-clockwise turns are the clockwise turns the other way round.
    if (!clockwise && (angle == 90 || angle == 270)) angle = 360 - angle;
    m_corners->Rotate(angle);
}

void CImg::MirrorCornersInfo(bool leftRight) {
    if (!m_corners) return;
    if (leftRight)
        m_corners->Mirror();
    else
        m_corners->Flip();
}

CImgNB& CImgNB::operator=(const CImgNB& other) {
    if (this != &other) {
        CImg::operator=(other);
        CopyLUTInfoFrom(other);
    }
    return *this;
}

CImgNB::~CImgNB() {
    m_lutInfo.reset();
}

CInfosLUTGray* CImgNB::CreateLUTInfo() {
    return new (std::nothrow) CInfosLUTGray(6, 256);
}

bool CImgNB::EnsureLUTInfo() {
    if (!m_lutInfo) m_lutInfo.reset(CreateLUTInfo());
    return m_lutInfo != nullptr;
}

void CImgNB::CopyLUTInfoFrom(const CImgNB& other) {
    if (m_lutInfo && other.m_lutInfo) m_lutInfo->CInfosLUTGray::operator=(*other.m_lutInfo);
}

bool CImgNB::UpdateDIBPalette(win::HGLOBAL dib) const {
    if (dib == nullptr) return false;
    quorin::LockedDIB locked(dib);
    if (!locked.valid() || locked.layout().bitCount != 8 || locked.palette() == nullptr)
        return false;
    std::uint8_t levels[256];
    if (!m_lutInfo || !m_lutInfo->GetTable8(levels)) {
        for (int i = 0; i < 256; ++i) levels[i] = static_cast<std::uint8_t>(i);
    }
    const CImgNBPalette* palette = GetImgNBPalette();
    if (palette == nullptr) return false;
    return palette->GetPalette(levels, m_display.GetColorLUT(), locked.palette()) == 256;
}

CImgZEL& CImgZEL::operator=(const CImgZEL& other) {
    if (this != &other) {
        m_zel = other.m_zel;
        CImgNB::operator=(other);
    }
    return *this;
}

CInfosLUTGray* CImgZEL::CreateLUTInfo() {
    return new (std::nothrow) CInfosLUTGrayZel(&m_zel);
}

CImgPano& CImgPano::operator=(const CImgPano& other) {
    if (this != &other) {
        m_pano = other.m_pano;
        m_deviceCode = other.m_deviceCode;
        CImgNB::operator=(other);
    }
    return *this;
}

CInfosLUTGray* CImgPano::CreateLUTInfo() {
    return new (std::nothrow) CInfosLUTGrayPano(&m_pano);
}
